// SPDX-License-Identifier: MIT
// The tree "cmake --install" lays out (CTest's fixture installs the build into INSTALLED_PREFIX):
// its desktop entry and AppStream metadata pass their validators, its icons have their sizes,
// the names the entries give lead to installed files, nothing points the loader at the private
// library folder, and a copy of the tree in another prefix starts and loads its own stand-in.

#include "installedprogram.h"
#include "privatecups.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QTemporaryDir>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;
using namespace installedprogram;

namespace {

const QString Prefix = QStringLiteral(INSTALLED_PREFIX);
const QString DesktopEntry = Prefix + u"/share/applications/org.ravelin.Ravelin.desktop"_s;
const QString Metainfo = Prefix + u"/share/metainfo/org.ravelin.Ravelin.metainfo.xml"_s;

// The text of the first element of that name in the AppStream metadata, or nothing.
std::optional<QString> metainfoElement(const QString &name)
{
    QFile file(Metainfo);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == name)
            return xml.readElementText().trimmed();
    }
    return std::nullopt;
}

} // namespace

class TstInstalledTree : public QObject
{
    Q_OBJECT

public:
    bool skipped = false;

private Q_SLOTS:
    void validates_data();
    void validates();
    void iconHasItsSize_data();
    void iconHasItsSize();
    void namesLeadToInstalledFiles_data();
    void namesLeadToInstalledFiles();
    void loaderIsNotPointedAnywhere_data();
    void loaderIsNotPointedAnywhere();
    void copiedTreeFindsItsStatusLibrary();
};

void TstInstalledTree::validates_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("arguments");
    // desktop-file-validate reports warnings and hints with success: only silence is clean.
    QTest::addColumn<bool>("mustBeSilent");

    QTest::newRow("desktop entry")
        << u"desktop-file-validate"_s << QStringList{DesktopEntry} << true;
    // --strict fails on anything above a pedantic hint; --no-net, as no address to check is
    // ours.
    const QStringList appstream{u"validate"_s, u"--no-net"_s, u"--strict"_s};
    QTest::newRow("AppStream metadata")
        << u"appstreamcli"_s << (appstream + QStringList{Metainfo}) << false;
    // The installed metadata lists a screenshot only when the build is given its address: the
    // same template with an address, made beside this test.
    QTest::newRow("AppStream metadata with a screenshot address")
        << u"appstreamcli"_s << (appstream + QStringList{QStringLiteral(SCREENSHOT_METAINFO)})
        << false;
}

void TstInstalledTree::validates()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, arguments);
    QFETCH(bool, mustBeSilent);
    SKIP_UNLESS_INSTALLED(&skipped, validator);

    QVERIFY2(QFileInfo::exists(arguments.last()), qPrintable(arguments.last() + u" is missing"_s));
    const ToolResult result = runTool(validator, arguments);
    QVERIFY2(result.succeeded(), qPrintable(result.failure));
    if (mustBeSilent)
        QVERIFY2(result.output.trimmed().isEmpty(), result.output.constData());
}

void TstInstalledTree::iconHasItsSize_data()
{
    QTest::addColumn<int>("size");
    for (const QString &size : QStringLiteral(RAVELIN_ICON_SIZES).split(u',', Qt::SkipEmptyParts))
        QTest::addRow("%s pixels", qPrintable(size)) << size.toInt();
}

void TstInstalledTree::iconHasItsSize()
{
    QFETCH(int, size);
    const QString file =
        Prefix + u"/share/icons/hicolor/%1x%1/apps/org.ravelin.Ravelin.png"_s.arg(size);
    QImageReader reader(file);
    QVERIFY2(reader.canRead(), qPrintable(file + u": "_s + reader.errorString()));
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.size(), QSize(size, size));
}

void TstInstalledTree::namesLeadToInstalledFiles_data()
{
    QTest::addColumn<QString>("desktopKey");      // the name is this key's value, or
    QTest::addColumn<QString>("metainfoElement"); // this element's text
    QTest::addColumn<QString>("file");            // where it leads, %1 the name

    QTest::newRow("desktop entry's Exec names the program")
        << u"Exec"_s << QString() << u"bin/%1"_s;
    QTest::newRow("desktop entry's Icon names the scalable icon")
        << u"Icon"_s << QString() << u"share/icons/hicolor/scalable/apps/%1.svg"_s;
    QTest::newRow("desktop entry's Icon names the 48-pixel icon")
        << u"Icon"_s << QString() << u"share/icons/hicolor/48x48/apps/%1.png"_s;
    QTest::newRow("metadata's launchable names the desktop entry")
        << QString() << u"launchable"_s << u"share/applications/%1"_s;
    QTest::newRow("metadata's binary names the program") << QString() << u"binary"_s << u"bin/%1"_s;
}

void TstInstalledTree::namesLeadToInstalledFiles()
{
    QFETCH(QString, desktopKey);
    QFETCH(QString, metainfoElement);
    QFETCH(QString, file);

    const std::optional<QString> name = desktopKey.isEmpty()
                                            ? ::metainfoElement(metainfoElement)
                                            : desktopEntryValue(DesktopEntry, desktopKey);
    QVERIFY2(name && !name->isEmpty(),
             qPrintable(u"No %1 in the installed files"_s.arg(desktopKey + metainfoElement)));
    QVERIFY2(!name->contains(u'/') && !name->contains(u' '),
             qPrintable(*name + u" is not a plain name"_s));
    const QString path = Prefix + u'/' + file.arg(*name);
    QVERIFY2(QFileInfo(path).isFile(), qPrintable(path + u" is not installed"_s));
}

void TstInstalledTree::loaderIsNotPointedAnywhere_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("program") << u"bin/ravelin"_s;
    QTest::newRow("stand-in library") << u"lib/ravelin/libQVLMSTAT.so"_s;
}

// A RUNPATH naming the private folder would put the stand-in ahead of a maker's library
// installed system-wide; an installed program should carry none at all.
void TstInstalledTree::loaderIsNotPointedAnywhere()
{
    QFETCH(QString, file);
    const QString path = Prefix + u'/' + file;
    QVERIFY2(QFileInfo::exists(path), qPrintable(path + u" is not installed"_s));
    const ToolResult dynamic = runTool(QStringLiteral(READELF), {u"--dynamic"_s, path});
    QVERIFY2(dynamic.succeeded(), qPrintable(dynamic.failure));
    // Both link libraries: no NEEDED entry would mean readelf read no dynamic section at all.
    QVERIFY2(dynamic.output.contains("(NEEDED)"), dynamic.output.constData());
    QVERIFY2(!dynamic.output.contains("(RUNPATH)"), dynamic.output.constData());
    QVERIFY2(!dynamic.output.contains("(RPATH)"), dynamic.output.constData());
}

void TstInstalledTree::copiedTreeFindsItsStatusLibrary()
{
    SKIP_UNLESS_INSTALLED(&skipped, u"Xvfb"_s, u"xdotool"_s);
    QVERIFY2(!PrivateCups::folder().isEmpty(), qPrintable(PrivateCups::whyUnavailable()));

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString copy = dir.filePath(u"elsewhere"_s);
    const ToolResult copied = runTool(u"cp"_s, {u"-a"_s, Prefix, copy});
    QVERIFY2(copied.succeeded(), qPrintable(copied.failure));

    verifyFindsItsStatusLibrary(copy + u"/bin/ravelin"_s, copy + u"/lib/ravelin/libQVLMSTAT.so"_s,
                                copy + u"/share/applications/org.ravelin.Ravelin.desktop"_s);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TstInstalledTree test;
    const int failures = QTest::qExec(&test, argc, argv);
    return failures == 0 && test.skipped ? SkippedExitCode : failures;
}

#include "tst_installedtree.moc"
