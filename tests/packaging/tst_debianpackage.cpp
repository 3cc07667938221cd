// The Debian package CPack makes of the build (CTest's fixture makes it in PACKAGE_DIR): its
// name, version and dependencies, and its contents, unpacked into a temporary root with
// dpkg-deb -x, where the program starts and loads the stand-in beside it.

#include "installedprogram.h"
#include "privatecups.h"

#include <QCoreApplication>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace installedprogram;

class TstDebianPackage : public QObject
{
    Q_OBJECT

public:
    bool skipped = false;

private Q_SLOTS:
    void initTestCase();
    void controlField_data();
    void controlField();
    void dependsOn_data();
    void dependsOn();
    void unpackedPackageFindsItsStatusLibrary();

private:
    QString field(const QString &name);

    QString m_package;
};

void TstDebianPackage::initTestCase()
{
    SKIP_UNLESS_INSTALLED(&skipped, u"dpkg-deb"_s);
    const QDir dir(QStringLiteral(PACKAGE_DIR));
    const QStringList packages = dir.entryList({u"ravelin_*.deb"_s}, QDir::Files);
    QVERIFY2(packages.size() == 1, qPrintable(u"Expected one package in %1, found: %2"_s.arg(
                                       dir.path(), packages.join(u", "_s))));
    m_package = dir.filePath(packages.first());
}

// A field of the package's control file; fails the test when dpkg-deb cannot read it.
QString TstDebianPackage::field(const QString &name)
{
    const ToolResult result = runTool(u"dpkg-deb"_s, {u"--field"_s, m_package, name});
    if (!result.succeeded()) {
        QTest::qFail(qPrintable(result.failure), __FILE__, __LINE__);
        return {};
    }
    return QString::fromUtf8(result.output).trimmed();
}

void TstDebianPackage::controlField_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("package name") << u"Package"_s << u"ravelin"_s;
    QTest::newRow("version of the project") << u"Version"_s << QStringLiteral(RAVELIN_VERSION);
}

void TstDebianPackage::controlField()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(field(name), expected);
}

void TstDebianPackage::dependsOn_data()
{
    QTest::addColumn<QString>("package");
    // Found by dpkg-shlibdeps in what the program and the stand-in link.
    QTest::newRow("Qt widgets runtime") << u"libqt6widgets6"_s;
    QTest::newRow("CUPS client library") << u"libcups2"_s;
    // Loaded at run time only, out of dpkg-shlibdeps' sight.
    QTest::newRow("Qt platform plugins") << u"qt6-qpa-plugins"_s;
    QTest::newRow("window font") << u"fonts-liberation2"_s;
}

void TstDebianPackage::dependsOn()
{
    QFETCH(QString, package);
    const QString depends = field(u"Depends"_s);
    if (QTest::currentTestFailed())
        return;
    // "a (>= 1), b | c": the names, without versions or alternatives.
    QStringList names;
    for (const QString &relation : depends.split(u',', Qt::SkipEmptyParts)) {
        for (const QString &alternative : relation.split(u'|'))
            names << alternative.section(u'(', 0, 0).section(u':', 0, 0).trimmed();
    }
    QVERIFY2(names.contains(package), qPrintable(u"Depends: "_s + depends));
}

void TstDebianPackage::unpackedPackageFindsItsStatusLibrary()
{
    SKIP_UNLESS_INSTALLED(&skipped, u"Xvfb"_s, u"xdotool"_s);
    QVERIFY2(!PrivateCups::folder().isEmpty(), qPrintable(PrivateCups::whyUnavailable()));

    QTemporaryDir root;
    QVERIFY2(root.isValid(), qPrintable(root.errorString()));
    const ToolResult unpacked = runTool(u"dpkg-deb"_s, {u"-x"_s, m_package, root.path()});
    QVERIFY2(unpacked.succeeded(), qPrintable(unpacked.failure));

    verifyFindsItsStatusLibrary(
        root.filePath(u"usr/bin/ravelin"_s), root.filePath(u"usr/lib/ravelin/libQVLMSTAT.so"_s),
        root.filePath(u"usr/share/applications/org.ravelin.Ravelin.desktop"_s));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TstDebianPackage test;
    const int failures = QTest::qExec(&test, argc, argv);
    return failures == 0 && test.skipped ? SkippedExitCode : failures;
}

#include "tst_debianpackage.moc"
