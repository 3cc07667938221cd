// SPDX-License-Identifier: MIT
// What a release carries besides the program, made by CMake scripts: the Debian changelog and the
// AppStream releases that packaging/RavelinChanges.cmake writes from the list of changes, and
// the licence line at the top of every source that tests/checkspdx.cmake asks for, or adds; and
// the Debian copyright file, which must state the licence and its holder as LICENSE does.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
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

// The files tests/checkspdx.cmake names as lacking their line, with the line each needs.
QSet<QString> listedAsLacking(const QString &output)
{
    QSet<QString> listed;
    for (const QString &line : output.split(u'\n')) {
        if (line.startsWith(u"  "_s) && line.contains(u"SPDX-License-Identifier"_s))
            listed.insert(line.trimmed());
    }
    return listed;
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
    void licenceLines_data();
    void licenceLines();
    void licenceLinesAdded();
    void copyrightStatesTheLicence();
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

void TstReleaseFiles::licenceLines_data()
{
    // Files as path=text; those under untracked/ are not added to git.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("lacking");

    QTest::newRow("every kind with its line")
        << QStringList{u"a.cpp=// SPDX-License-Identifier: MIT\nint a;\n"_s,
                       u"a.h=// SPDX-License-Identifier: MIT\n#pragma once\n"_s,
                       u"run=#!/bin/sh\n# SPDX-License-Identifier: MIT\ntrue\n"_s,
                       u"CMakeLists.txt=# SPDX-License-Identifier: MIT\n"_s,
                       u"i.svg=<?xml version=\"1.0\"?>\n<!-- SPDX-License-Identifier: MIT -->\n"_s,
                       u"x.map=/* SPDX-License-Identifier: MIT */\n"_s,
                       u"x.1=.\\\" SPDX-License-Identifier: MIT\n.TH X 1\n"_s,
                       u"debian/control=# SPDX-License-Identifier: MIT\nSource: x\n"_s,
                       u"desktop/org.ravelin.Ravelin.metainfo.xml.in=<?xml version=\"1.0\"?>\n"
                       "<!-- SPDX-License-Identifier: CC0-1.0 -->\n"_s}
        << QStringList();
    QTest::newRow("each kind without it, with the comment it needs")
        << QStringList{u"a.cpp=int a;\n"_s,
                       u"run=#!/bin/sh\ntrue\n"_s,
                       u"build.cmake=set(a 1)\n"_s,
                       u"i.svg=<?xml version=\"1.0\"?>\n<svg/>\n"_s,
                       u"x.map={ local: *; };\n"_s,
                       u"x.1=.TH X 1\n"_s,
                       u"y.supp=leak:x\n"_s,
                       u"debian/control=Source: x\n"_s,
                       u"desktop/org.ravelin.Ravelin.metainfo.xml.in=<?xml version=\"1.0\"?>\n"
                       "<!-- SPDX-License-Identifier: MIT -->\n"_s}
        << QStringList{u"a.cpp: // SPDX-License-Identifier: MIT"_s,
                       u"run: # SPDX-License-Identifier: MIT"_s,
                       u"build.cmake: # SPDX-License-Identifier: MIT"_s,
                       u"i.svg: <!-- SPDX-License-Identifier: MIT -->"_s,
                       u"x.map: /* SPDX-License-Identifier: MIT */"_s,
                       u"x.1: .\\\" SPDX-License-Identifier: MIT"_s,
                       u"y.supp: # SPDX-License-Identifier: MIT"_s,
                       u"debian/control: # SPDX-License-Identifier: MIT"_s,
                       u"desktop/org.ravelin.Ravelin.metainfo.xml.in: "
                       "<!-- SPDX-License-Identifier: CC0-1.0 -->"_s};
    QTest::newRow("the line too far down, or naming another licence")
        << QStringList{u"a.cpp=// A.\n// SPDX-License-Identifier: MIT\n"_s,
                       u"run=#!/bin/sh\n# Runs.\n# SPDX-License-Identifier: MIT\n"_s,
                       u"a.c=// SPDX-License-Identifier: MIT-0\n"_s}
        << QStringList{u"a.cpp: // SPDX-License-Identifier: MIT"_s,
                       u"run: # SPDX-License-Identifier: MIT"_s,
                       u"a.c: // SPDX-License-Identifier: MIT"_s};
    QTest::newRow("documents, images, JSON, the Debian copyright and changelog, untracked files "
                  "are not asked")
        << QStringList{u"README.md=# Read me\n"_s,
                       u"LICENSE=MIT License\n"_s,
                       u"docs/shot.png=\x89PNG\n"_s,
                       u"CMakePresets.json={}\n"_s,
                       u"debian/copyright=Format: x\n"_s,
                       u"debian/changelog=ravelin (1) unstable; urgency=medium\n"_s,
                       u"untracked/a.cpp=int a;\n"_s}
        << QStringList();
}

// The check names exactly the files that lack the line, so that whoever adds a file sees what
// to write.
void TstReleaseFiles::licenceLines()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, lacking);
    const QString gitProgram = QStandardPaths::findExecutable(u"git"_s);
    if (gitProgram.isEmpty())
        QSKIP("git is not installed");

    QTemporaryDir tree;
    QVERIFY(run(gitProgram, {u"init"_s, u"-q"_s}, tree.path()).exitCode == 0);
    for (const QString &file : files) {
        const QString path = file.section(u'=', 0, 0);
        QVERIFY(writeFile(tree.filePath(path), file.section(u'=', 1)));
        if (!path.startsWith(u"untracked/"_s))
            QCOMPARE(run(gitProgram, {u"add"_s, path}, tree.path()).exitCode, 0);
    }

    const Run check = runScript(QStringLiteral(SPDX_SCRIPT),
                                {u"GIT="_s + gitProgram, u"SOURCE_DIR="_s + tree.path()});
    QVERIFY(check.finished);
    QCOMPARE(check.exitCode == 0, lacking.isEmpty());
    QCOMPARE(listedAsLacking(check.output), QSet<QString>(lacking.begin(), lacking.end()));
}

// What the check asks for, the fix adds in its place: a script stays a script.
void TstReleaseFiles::licenceLinesAdded()
{
    const QString gitProgram = QStandardPaths::findExecutable(u"git"_s);
    if (gitProgram.isEmpty())
        QSKIP("git is not installed");
    QTemporaryDir tree;
    QVERIFY(run(gitProgram, {u"init"_s, u"-q"_s}, tree.path()).exitCode == 0);
    const QList<std::pair<QString, QString>> before = {
        {u"run"_s, u"#!/bin/sh\necho ; [x]\n"_s},
        {u"i.xml.in"_s, u"<?xml version=\"1.0\"?>\n<a>@X@</a>\n"_s},
        {u"a.cpp"_s, u"// A.\nint a;"_s},
    };
    for (const auto &[path, text] : before) {
        QVERIFY(writeFile(tree.filePath(path), text));
        QCOMPARE(run(gitProgram, {u"add"_s, path}, tree.path()).exitCode, 0);
    }
    QFile::setPermissions(tree.filePath(u"run"_s),
                          QFile::permissions(tree.filePath(u"run"_s)) | QFile::ExeOwner);

    const QStringList definitions{u"GIT="_s + gitProgram, u"SOURCE_DIR="_s + tree.path()};
    const Run fix = runScript(QStringLiteral(SPDX_SCRIPT), definitions + QStringList{u"FIX=ON"_s});
    QVERIFY2(fix.finished && fix.exitCode == 0, qPrintable(fix.output));

    QCOMPARE(readFile(tree.filePath(u"run"_s)),
             u"#!/bin/sh\n# SPDX-License-Identifier: MIT\necho ; [x]\n"_s);
    QVERIFY(QFile::permissions(tree.filePath(u"run"_s)) & QFile::ExeOwner);
    QCOMPARE(readFile(tree.filePath(u"i.xml.in"_s)),
             u"<?xml version=\"1.0\"?>\n<!-- SPDX-License-Identifier: MIT -->\n<a>@X@</a>\n"_s);
    QCOMPARE(readFile(tree.filePath(u"a.cpp"_s)),
             u"// SPDX-License-Identifier: MIT\n// A.\nint a;"_s);

    const Run check = runScript(QStringLiteral(SPDX_SCRIPT), definitions);
    QVERIFY2(check.finished && check.exitCode == 0, qPrintable(check.output));
}

// debian/copyright is written by hand, in Debian's form: its holder and its Expat text must be
// LICENSE's, word for word.
void TstReleaseFiles::copyrightStatesTheLicence()
{
    const QString licence = readFile(QStringLiteral(LICENCE_FILE));
    const QRegularExpression licenceForm(u"\nCopyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$"_s,
                                         QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch parts = licenceForm.match(licence);
    QVERIFY2(parts.hasMatch(), "LICENSE: no line \"Copyright (c) <year> <holder>\" and text");

    QStringList holders;
    QString expat;
    for (const QString &paragraph :
         readFile(QStringLiteral(COPYRIGHT_FILE)).split(u"\n\n"_s, Qt::SkipEmptyParts)) {
        QStringList lines = paragraph.split(u'\n', Qt::SkipEmptyParts);
        for (const QString &line : lines) {
            if (line.startsWith(u"Copyright: "_s))
                holders << line.mid(11);
        }
        // The stand-alone licence paragraph: its text, one blank in, "." for an empty line.
        if (lines.value(0) == u"License: Expat"_s && lines.size() > 1) {
            lines.removeFirst();
            for (QString &line : lines)
                line = line == u" ."_s ? QString() : line.mid(1);
            expat = lines.join(u'\n');
        }
    }
    QVERIFY(!holders.isEmpty());
    for (const QString &holder : holders)
        QCOMPARE(holder, parts.captured(1));
    QCOMPARE(expat, parts.captured(2));
}

QTEST_GUILESS_MAIN(TstReleaseFiles)
#include "tst_releasefiles.moc"
