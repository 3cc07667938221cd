// What a release carries besides the program, made by CMake scripts: the Debian changelog and the
// AppStream releases that packaging/RavelinChanges.cmake writes from the list of changes.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QString output; // standard output and error together
};

Run run(const QString &program, const QStringList &arguments, const QString &workingDir = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, arguments);
    Run result;
    result.finished =
        process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

Run runScript(const QString &script, const QStringList &definitions)
{
    QStringList arguments;
    for (const QString &definition : definitions)
        arguments << u"-D"_s + definition;
    return run(QStringLiteral(CMAKE_COMMAND), arguments << u"-P"_s << script);
}

const QString ChangesScript = QStringLiteral(CHANGES_SCRIPT);
const QString Maintainer = u"A Maintainer <a@example.org>"_s;

bool writeFile(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A list of changes with the title and introduction every CHANGELOG.md has.
QString changes(const QString &body)
{
    return u"# Changes\n\nWhat changed, newest first.\n\n"_s + body;
}

// Writes the list of changes and runs the script on it; the output file's text, or nothing.
struct ChangesRun
{
    Run run;
    QString output;
};
ChangesRun makeFromChanges(const QString &mode, const QString &text, const QString &version,
                           const QStringList &extra = {})
{
    QTemporaryDir dir;
    const QString list = dir.filePath(u"CHANGELOG.md"_s);
    const QString output = dir.filePath(u"out"_s);
    if (!writeFile(list, text))
        return {};
    const Run result =
        runScript(ChangesScript, QStringList{u"MODE="_s + mode, u"CHANGES="_s + list,
                                             u"VERSION="_s + version, u"OUTPUT="_s + output} +
                                     extra);
    return {result, readFile(output)};
}

} // namespace

class TstReleaseFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void debianChangelog_data();
    void debianChangelog();
    void appstreamReleases();
    void rejectedChanges_data();
    void rejectedChanges();
};

void TstReleaseFiles::debianChangelog_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("changelog");

    QTest::newRow("two versions, newest first; unreleased changes left out")
        << changes(u"## Unreleased\n\n- Not in a version yet.\n\n"
                   "## 2.1.0 (2026-12-07)\n\n- First change,\n  continued.\n- Second change.\n\n"
                   "## 2.0.0 (2024-02-29)\n\n- On a leap day.\n"_s)
        << u"ravelin (2.1.0) unstable; urgency=medium\n\n"
           "  * First change, continued.\n  * Second change.\n\n"
           " -- A Maintainer <a@example.org>  Mon, 07 Dec 2026 00:00:00 +0000\n\n"
           "ravelin (2.0.0) unstable; urgency=medium\n\n  * On a leap day.\n\n"
           " -- A Maintainer <a@example.org>  Thu, 29 Feb 2024 00:00:00 +0000\n"_s;
    QTest::newRow("weekdays across a century's leap year")
        << changes(u"## 2.1.0 (2000-03-01)\n\n- March.\n\n## 1.0.0 (1999-12-31)\n\n- New year.\n"_s)
        << u"ravelin (2.1.0) unstable; urgency=medium\n\n  * March.\n\n"
           " -- A Maintainer <a@example.org>  Wed, 01 Mar 2000 00:00:00 +0000\n\n"
           "ravelin (1.0.0) unstable; urgency=medium\n\n  * New year.\n\n"
           " -- A Maintainer <a@example.org>  Fri, 31 Dec 1999 00:00:00 +0000\n"_s;
    QTest::newRow("a long change wrapped within 79 columns, an address kept whole")
        << changes(u"## 2.1.0 (2026-12-07)\n\n- A change so long that it runs over two lines of "
                   "the Debian changelog, and a word such as\n  "
                   "https://example.org/a/very/long/address/that/no/line/can/hold/whole/at/all "
                   "stands alone on its line.\n"_s)
        << u"ravelin (2.1.0) unstable; urgency=medium\n\n"
           "  * A change so long that it runs over two lines of the Debian changelog, and a\n"
           "    word such as\n"
           "    https://example.org/a/very/long/address/that/no/line/can/hold/whole/at/all\n"
           "    stands alone on its line.\n\n"
           " -- A Maintainer <a@example.org>  Mon, 07 Dec 2026 00:00:00 +0000\n"_s;
    QTest::newRow("text with the characters CMake lists and regular expressions treat apart")
        << changes(u"## 2.1.0 (2026-12-07)\n\n- Bits [Head Up];[Paper Out] and \\n stay; $HOME "
                   "too.\n"_s)
        << u"ravelin (2.1.0) unstable; urgency=medium\n\n"
           "  * Bits [Head Up];[Paper Out] and \\n stay; $HOME too.\n\n"
           " -- A Maintainer <a@example.org>  Mon, 07 Dec 2026 00:00:00 +0000\n"_s;
}

void TstReleaseFiles::debianChangelog()
{
    QFETCH(QString, list);
    QFETCH(QString, changelog);

    const ChangesRun made = makeFromChanges(u"debian"_s, list, u"2.1.0"_s,
                                            {u"PACKAGE=ravelin"_s, u"MAINTAINER="_s + Maintainer});
    QVERIFY2(made.run.finished && made.run.exitCode == 0, qPrintable(made.run.output));
    QCOMPARE(made.output, changelog);

    // dpkg reads it as the newest entry first.
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(u"changelog"_s), made.output));
    const Run parsed = run(u"dpkg-parsechangelog"_s,
                           {u"-l"_s, dir.filePath(u"changelog"_s), u"-S"_s, u"Version"_s});
    QVERIFY2(parsed.finished && parsed.exitCode == 0, qPrintable(parsed.output));
    QCOMPARE(parsed.output.trimmed(), u"2.1.0"_s);
}

void TstReleaseFiles::appstreamReleases()
{
    QTemporaryDir dir;
    const QString templ = dir.filePath(u"metainfo.xml.in"_s);
    QVERIFY(writeFile(templ, u"<?xml version=\"1.0\"?>\n<component>\n"
                             "@RAVELIN_METAINFO_RELEASES@\n</component>\n"_s));
    const ChangesRun made =
        makeFromChanges(u"metainfo"_s,
                        changes(u"## Unreleased\n\n- Left out.\n\n## 2.1.0 (2026-12-07)\n\n- Loads "
                                "`libQVLMSTAT.so` & shows\n  <b> as it stands.\n- Second.\n\n"
                                "## 1.0.0 (2025-01-31)\n\n- First.\n"_s),
                        u"2.1.0"_s, {u"TEMPLATE="_s + templ});
    QVERIFY2(made.run.finished && made.run.exitCode == 0, qPrintable(made.run.output));

    // Each release with its version, its date and its changes as list items of plain text.
    QStringList read;
    QXmlStreamReader xml(made.output);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"release"_s) {
            read << xml.attributes().value(u"version"_s).toString() + u' ' +
                        xml.attributes().value(u"date"_s).toString();
        } else if (xml.name() == u"li"_s) {
            read << xml.readElementText();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString() + u'\n' + made.output));
    QCOMPARE(read, QStringList({u"2.1.0 2026-12-07"_s,
                                u"Loads libQVLMSTAT.so & shows <b> as it stands."_s, u"Second."_s,
                                u"1.0.0 2025-01-31"_s, u"First."_s}));
}

void TstReleaseFiles::rejectedChanges_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("message");

    QTest::newRow("the newest version is not the project's")
        << changes(u"## 2.0.0 (2026-12-07)\n\n- Older.\n"_s)
        << u"the newest version is 2.0.0, but the project's is 2.1.0"_s;
    QTest::newRow("a date that is no day")
        << changes(u"## 2.1.0 (2026-02-29)\n\n- Change.\n"_s) << u":5: no day 29 in 2026-02-29"_s;
    QTest::newRow("versions not going down")
        << changes(u"## 2.1.0 (2026-12-07)\n\n- New.\n\n## 2.1.1 (2026-12-01)\n\n- Newer?\n"_s)
        << u":9: version 2.1.1 stands below the newer 2.1.0"_s;
    QTest::newRow("a paragraph where a change belongs")
        << changes(u"## 2.1.0 (2026-12-07)\n\nSome words.\n"_s)
        << u":7: expected a change, \"- <text>\""_s;
    QTest::newRow("a heading of another form")
        << changes(u"## Version 2.1.0\n\n- Change.\n"_s) << u":5: expected \"## <version>"_s;
}

// A list the build cannot read stops it, saying where and why, instead of a package with a
// changelog that says something else.
void TstReleaseFiles::rejectedChanges()
{
    QFETCH(QString, list);
    QFETCH(QString, message);

    for (const QString &mode : {u"debian"_s, u"metainfo"_s}) {
        const ChangesRun made =
            makeFromChanges(mode, list, u"2.1.0"_s,
                            {u"PACKAGE=ravelin"_s, u"MAINTAINER="_s + Maintainer,
                             u"TEMPLATE=/nonexistent/template"_s});
        QVERIFY(made.run.finished);
        QVERIFY2(made.run.exitCode != 0, qPrintable(mode));
        // CMake breaks long messages over lines.
        const QString output = made.run.output.simplified();
        QVERIFY2(output.contains(message), qPrintable(made.run.output));
        QVERIFY(made.output.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TstReleaseFiles)
#include "tst_releasefiles.moc"
