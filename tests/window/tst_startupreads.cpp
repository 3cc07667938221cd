// SPDX-License-Identifier: MIT
#include "applicationlook.h"
#include "windowrig.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStyle>
#include <QTest>

#include <link.h>

#include <cstring>

// A process of its own: an image format plugin, once loaded, stays loaded.
class TestStartupReads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openingTheWindowLoadsNoImagePlugin();
};

static bool imagePluginLoaded()
{
    bool loaded = false;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *found) {
            if (std::strstr(info->dlpi_name, "/imageformats/"))
                *static_cast<bool *>(found) = true;
            return 0;
        },
        &loaded);
    return loaded;
}

// An image reader left to find the format loads every image format plugin installed to ask it;
// the window's icons are read as what they are, or when first drawn.
void TestStartupReads::openingTheWindowLoadsNoImagePlugin()
{
    ravelin::setUpApplication();
    WindowRig rig({u"QVT-7460-Counter"_s});
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QVERIFY(!imagePluginLoaded());

    // The check sees them: drawing the menu bar's overflow icon loads them, where any are
    // installed.
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) + u"/imageformats"_s);
    if (plugins.isEmpty(QDir::Files))
        QSKIP("No image format plugin is installed");
    QApplication::style()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16);
    QVERIFY(imagePluginLoaded());
}

QTEST_MAIN(TestStartupReads)
#include "tst_startupreads.moc"
