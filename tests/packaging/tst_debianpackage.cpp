// SPDX-License-Identifier: MIT
// The Debian package CPack makes of the build (CTest's fixture makes it in PACKAGE_DIR): its
// name, version and dependencies, no maintainer scripts, what lintian says of it, and its
// contents, unpacked into a temporary root with dpkg-deb -x: the changelog, and the program,
// which starts and loads the stand-in beside it.

#include "installedprogram.h"
#include "privatecups.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>

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
    void noMaintainerScripts();
    void changelogIsTheProjects();
    void lintianFindsNoErrorOrWarning();
    void unpackedPackageFindsItsStatusLibrary();

private:
    QString field(const QString &name);
    QString unpacked(const QString &path);

    QString m_package;
    std::unique_ptr<QTemporaryDir> m_root;
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
    QTest::newRow("HTTP client library") << u"libcurl4"_s;
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

// The path of a file of the package, unpacked once into a temporary root; empty, with the test
// failed, when dpkg-deb cannot unpack it.
QString TstDebianPackage::unpacked(const QString &path)
{
    if (!m_root) {
        auto root = std::make_unique<QTemporaryDir>();
        const ToolResult result = runTool(u"dpkg-deb"_s, {u"-x"_s, m_package, root->path()});
        if (!root->isValid() || !result.succeeded()) {
            QTest::qFail(qPrintable(root->errorString() + result.failure), __FILE__, __LINE__);
            return {};
        }
        m_root = std::move(root);
    }
    return m_root->filePath(path);
}

// Nothing for ldconfig to do (the stand-in's folder is private), so no postinst or postrm: a
// removed package leaves nothing behind, not even the "rc" state.
void TstDebianPackage::noMaintainerScripts()
{
    QTemporaryDir dir;
    const ToolResult control = runTool(u"dpkg-deb"_s, {u"--control"_s, m_package, dir.path()});
    QVERIFY2(control.succeeded(), qPrintable(control.failure));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
             QStringList({u"control"_s, u"md5sums"_s}));
}

void TstDebianPackage::changelogIsTheProjects()
{
    const QString path = unpacked(u"usr/share/doc/ravelin/changelog.gz"_s);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path + u": "_s + file.errorString()));
    const QByteArray gzip = file.readAll();
    // gzip -9n, as Debian wants it: no file name, no time stamp, the strongest compression.
    QVERIFY(gzip.size() > 10);
    QCOMPARE(gzip.left(3), QByteArray("\x1f\x8b\x08"));
    QCOMPARE(gzip[3] & 0x08, 0);
    QCOMPARE(gzip.mid(4, 4), QByteArray(4, '\0'));
    QCOMPARE(int(gzip[8]), 2);

    QTemporaryDir dir;
    const QString text = dir.filePath(u"changelog"_s);
    QVERIFY(runTool(u"sh"_s, {u"-c"_s, u"gzip -dc \"$0\" > \"$1\""_s, path, text}).succeeded());
    const ToolResult version =
        runTool(u"dpkg-parsechangelog"_s, {u"-l"_s, text, u"-S"_s, u"Version"_s});
    QVERIFY2(version.succeeded(), qPrintable(version.failure));
    QCOMPARE(QString::fromUtf8(version.output).trimmed(), QStringLiteral(RAVELIN_VERSION));
}

// lintian -E --pedantic prints no error and no warning; the one hint that is the design (the
// spelling "Retreive") is overridden with its reason. Only the package scripts/package makes
// is built with Debian's hardening flags, so hints about those are left to it.
void TstDebianPackage::lintianFindsNoErrorOrWarning()
{
    SKIP_UNLESS_INSTALLED(&skipped, u"lintian"_s);
    const ToolResult lintian = runTool(u"lintian"_s, {u"-E"_s, u"--pedantic"_s, m_package});
    QVERIFY2(lintian.ran, qPrintable(lintian.failure));
    QStringList reported;
    for (const QString &line : QString::fromUtf8(lintian.output).split(u'\n')) {
        if (line.startsWith(u"E: "_s) || line.startsWith(u"W: "_s))
            reported << line;
    }
    QVERIFY2(reported.isEmpty(), qPrintable(reported.join(u'\n')));
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.failure));
}

void TstDebianPackage::unpackedPackageFindsItsStatusLibrary()
{
    SKIP_UNLESS_INSTALLED(&skipped, u"Xvfb"_s, u"xdotool"_s);
    QVERIFY2(!PrivateCups::folder().isEmpty(), qPrintable(PrivateCups::whyUnavailable()));

    const QString program = unpacked(u"usr/bin/ravelin"_s);
    QVERIFY(!program.isEmpty());
    verifyFindsItsStatusLibrary(program, unpacked(u"usr/lib/ravelin/libQVLMSTAT.so"_s),
                                unpacked(u"usr/share/applications/org.ravelin.Ravelin.desktop"_s));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TstDebianPackage test;
    const int failures = QTest::qExec(&test, argc, argv);
    return failures == 0 && test.skipped ? SkippedExitCode : failures;
}

#include "tst_debianpackage.moc"
