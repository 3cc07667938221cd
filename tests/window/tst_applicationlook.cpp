// SPDX-License-Identifier: MIT
#include "applicationlook.h"
#include "messagebox.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

using namespace Qt::StringLiterals;

// The set-up the program, the window's tests and the benchmarks share, against what the desktop
// knows of the program: its desktop entry.
class TestApplicationLook : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void desktopEntryMatches();
    void iconDrawsAtEverySize_data();
    void iconDrawsAtEverySize();
    void standardIconsAreFusions_data();
    void standardIconsAreFusions();
    void standardIconOutlivesItsStyle();

private:
    static QImage drawn(const QIcon &icon) { return icon.pixmap(QSize(32, 32), 1.0).toImage(); }
};

void TestApplicationLook::initTestCase()
{
    ravelin::setUpApplication();
}

// The desktop finds the entry by the desktop file name, and on X11 matches the windows to it by
// the application name; the entry's icon is the one the window uses under the same name.
void TestApplicationLook::desktopEntryMatches()
{
    QCOMPARE(QApplication::applicationName(), QString::fromUtf16(ravelin::ApplicationTitle));
    QCOMPARE(QApplication::applicationVersion(), QStringLiteral(PROJECT_VERSION));

    const QString entryPath =
        QStringLiteral(DESKTOP_DIR "/") + QGuiApplication::desktopFileName() + u".desktop"_s;
    QVERIFY2(QFile::exists(entryPath), qPrintable(entryPath));
    QSettings entry(entryPath, QSettings::IniFormat);
    entry.beginGroup(u"Desktop Entry"_s);
    QCOMPARE(entry.value(u"StartupWMClass"_s).toString(), QApplication::applicationName());
    QCOMPARE(entry.value(u"Icon"_s).toString(), QGuiApplication::desktopFileName());
}

void TestApplicationLook::iconDrawsAtEverySize_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 24, 32, 48, 64})
        QTest::addRow("%d pixels", size) << size;
}

// Each size the build rendered decodes to a picture of that size, not only a header that says so.
void TestApplicationLook::iconDrawsAtEverySize()
{
    QFETCH(int, size);
    const QIcon icon = QGuiApplication::windowIcon();
    QVERIFY(icon.availableSizes().contains(QSize(size, size)));
    const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
    QCOMPARE(image.size(), QSize(size, size));
    // Drawn, not blank: some pixel is opaque.
    bool opaque = false;
    for (int y = 0; y < image.height() && !opaque; ++y) {
        for (int x = 0; x < image.width() && !opaque; ++x)
            opaque = qAlpha(image.pixel(x, y)) == 255;
    }
    QVERIFY(opaque);
}

void TestApplicationLook::standardIconsAreFusions_data()
{
    QTest::addColumn<QStyle::StandardPixmap>("standard");
    QTest::addRow("overflow button") << QStyle::SP_ToolBarHorizontalExtensionButton;
    QTest::addRow("warning") << QStyle::SP_MessageBoxWarning;
}

// The look's standard icons are read later than Fusion's, and are the same.
void TestApplicationLook::standardIconsAreFusions()
{
    QFETCH(QStyle::StandardPixmap, standard);
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(u"Fusion"_s));
    const QIcon expected = fusion->standardIcon(standard);
    QVERIFY(!expected.isNull());
    const QIcon icon = QApplication::style()->standardIcon(standard);
    QCOMPARE(icon.availableSizes(), expected.availableSizes());
    QCOMPARE(drawn(icon), drawn(expected));
}

// An icon read after the style that gave it was replaced is the new style's.
void TestApplicationLook::standardIconOutlivesItsStyle()
{
    const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    ravelin::setUpApplication();
    QCOMPARE(drawn(icon), drawn(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)));
}

QTEST_MAIN(TestApplicationLook)
#include "tst_applicationlook.moc"
