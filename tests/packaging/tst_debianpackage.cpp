// SPDX-License-Identifier: MIT
// The Debian packages scripts/package builds with debhelper (CTest's fixture builds them in
// PACKAGE_DIR): the binary package's name, version and dependencies, maintainer scripts that
// only debhelper writes, what lintian says of the binary and source packages and the upload,
// the source package's files, and the binary package's contents, unpacked into a temporary
// root with dpkg-deb -x: the files debhelper takes from debian/, and the program, which starts
// and loads the stand-in beside it.

#include "installedprogram.h"
#include "privatecups.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>

using namespace Qt::StringLiterals;
using namespace installedprogram;

namespace {

const QString SourceDir = QStringLiteral(SOURCE_DIR);

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the maintainer script is nothing but debhelper's: "#!/bin/sh", "set -e", and the
// sections debhelper adds; otherwise, in *why, the first line of another hand.
bool onlyDebhelpers(const QByteArray &script, QString *why)
{
    QList<QByteArray> lines = script.split('\n');
    if (lines.size() < 2 || lines[0] != "#!/bin/sh" || lines[1] != "set -e") {
        *why = u"it does not start as debhelper's scripts do"_s;
        return false;
    }
    bool inSection = false;
    for (const QByteArray &line : lines.mid(2)) {
        if (!inSection && line.startsWith("# Automatically added by dh_"))
            inSection = true;
        else if (inSection && line == "# End automatically added section")
            inSection = false;
        else if (!inSection && !line.trimmed().isEmpty()) {
            *why = u"not debhelper's: "_s + QString::fromUtf8(line);
            return false;
        }
    }
    if (inSection)
        *why = u"a section of debhelper's does not end"_s;
    return !inSection;
}

} // namespace

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
    void maintainerScriptsAreDebhelpers();
    void installedFromDebian_data();
    void installedFromDebian();
    void sourceIsTheTree();
    void lintianIsSilent_data();
    void lintianIsSilent();
    void unpackedPackageFindsItsStatusLibrary();

private:
    QString field(const QString &name);
    QString unpacked(const QString &path);

    QString m_package;
    QString m_source;  // the .dsc
    QString m_changes; // the upload's .changes
    std::unique_ptr<QTemporaryDir> m_root;
};

void TstDebianPackage::initTestCase()
{
    SKIP_UNLESS_INSTALLED(&skipped, u"dpkg-deb"_s);
    const QDir dir(QStringLiteral(PACKAGE_DIR));
    // One of each; the package's debug symbols, ravelin-dbgsym_*.deb, are not ravelin_*.deb.
    for (const auto &[pattern, path] :
         {std::pair{u"ravelin_*.deb"_s, &m_package}, std::pair{u"ravelin_*.dsc"_s, &m_source},
          std::pair{u"ravelin_*.changes"_s, &m_changes}}) {
        const QStringList found = dir.entryList({pattern}, QDir::Files);
        QVERIFY2(found.size() == 1, qPrintable(u"Expected one %1 in %2, found: %3"_s.arg(
                                        pattern, dir.path(), found.join(u", "_s))));
        *path = dir.filePath(found.first());
    }
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

// The package's maintainer scripts, if any (the monitor's units bring them), are debhelper's
// alone. Nothing for ldconfig to do either (the stand-in's folder is private), so no trigger.
void TstDebianPackage::maintainerScriptsAreDebhelpers()
{
    QTemporaryDir dir;
    const ToolResult control = runTool(u"dpkg-deb"_s, {u"--control"_s, m_package, dir.path()});
    QVERIFY2(control.succeeded(), qPrintable(control.failure));
    const QStringList scripts{u"preinst"_s, u"postinst"_s, u"prerm"_s, u"postrm"_s};
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name)) {
        if (name == u"control"_s || name == u"md5sums"_s)
            continue;
        QVERIFY2(scripts.contains(name), qPrintable(u"The package has a "_s + name));
        QString why;
        QVERIFY2(onlyDebhelpers(readFile(dir.filePath(name)), &why),
                 qPrintable(name + u": "_s + why));
    }
}

void TstDebianPackage::installedFromDebian_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("compressed");
    QTest::newRow("changelog, compressed")
        << u"usr/share/doc/ravelin/changelog.gz"_s << u"debian/changelog"_s << true;
    QTest::newRow("copyright") << u"usr/share/doc/ravelin/copyright"_s << u"debian/copyright"_s
                               << false;
    QTest::newRow("lintian overrides") << u"usr/share/lintian/overrides/ravelin"_s
                                       << u"debian/ravelin.lintian-overrides"_s << false;
}

// What the package carries of debian/ is debian/'s text, not a file of another origin.
void TstDebianPackage::installedFromDebian()
{
    QFETCH(QString, installed);
    QFETCH(QString, source);
    QFETCH(bool, compressed);
    const QString path = unpacked(installed);
    QVERIFY2(QFileInfo(path).isFile(), qPrintable(installed + u" is not in the package"_s));
    QByteArray text = readFile(path);
    if (compressed) {
        // gzip -9n, as Debian wants it: no file name, no time stamp, the strongest compression.
        QVERIFY(text.size() > 10);
        QCOMPARE(text.left(3), QByteArray("\x1f\x8b\x08"));
        QCOMPARE(text[3] & 0x08, 0);
        QCOMPARE(text.mid(4, 4), QByteArray(4, '\0'));
        QCOMPARE(int(text[8]), 2);
        const ToolResult gunzip = runTool(u"gzip"_s, {u"-dc"_s, path}, 60000, QProcessEnvironment(),
                                          QProcess::SeparateChannels);
        QVERIFY2(gunzip.succeeded(), qPrintable(gunzip.failure));
        text = gunzip.output;
    }
    QCOMPARE(text, readFile(SourceDir + u'/' + source));
}

// The source package holds the tree as git has it: no build output, nothing left out but git's
// own files, which dpkg-source leaves out.
void TstDebianPackage::sourceIsTheTree()
{
    SKIP_UNLESS_INSTALLED(&skipped, u"git"_s);
    const ToolResult tracked = runTool(
        u"git"_s,
        {u"-C"_s, SourceDir, u"ls-files"_s, u"--cached"_s, u"--others"_s, u"--exclude-standard"_s},
        60000, QProcessEnvironment(), QProcess::SeparateChannels);
    if (!tracked.succeeded()) {
        skipped = true;
        QSKIP("The sources are not a git checkout");
    }
    QStringList expected;
    for (const QString &file : QString::fromUtf8(tracked.output).split(u'\n', Qt::SkipEmptyParts)) {
        const QFileInfo info(SourceDir + u'/' + file);
        if ((info.exists() || info.isSymLink()) && !info.fileName().startsWith(u".git"_s))
            expected << file;
    }

    const QString tarball = m_source.chopped(4) + u".tar.xz"_s;
    const ToolResult listed = runTool(u"tar"_s, {u"-tf"_s, tarball}, 60000, QProcessEnvironment(),
                                      QProcess::SeparateChannels);
    QVERIFY2(listed.succeeded(), qPrintable(listed.failure));
    QStringList files;
    for (const QString &entry : QString::fromUtf8(listed.output).split(u'\n', Qt::SkipEmptyParts)) {
        if (!entry.endsWith(u'/'))
            files << entry.section(u'/', 1); // without ravelin-<version>/
    }
    expected.sort();
    files.sort();
    QCOMPARE(files, expected);
}

void TstDebianPackage::lintianIsSilent_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("binary package") << m_package;
    QTest::newRow("source package") << m_source;
    QTest::newRow("upload, with the debug symbols' package") << m_changes;
}

// lintian -E --pedantic reports nothing at all; the one hint that is the design (the spelling
// "Retreive") is overridden with its reason. Its hints come on standard output; standard error
// has notices of its own, such as running as root.
void TstDebianPackage::lintianIsSilent()
{
    QFETCH(QString, file);
    SKIP_UNLESS_INSTALLED(&skipped, u"lintian"_s);
    const ToolResult lintian = runTool(u"lintian"_s, {u"-E"_s, u"--pedantic"_s, file}, 600000,
                                       QProcessEnvironment(), QProcess::SeparateChannels);
    QVERIFY2(lintian.ran, qPrintable(lintian.failure));
    QVERIFY2(lintian.output.trimmed().isEmpty(), lintian.output.constData());
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
