// SPDX-License-Identifier: MIT
// Where the program looks for the status library: LD_LIBRARY_PATH's absolute folders and the
// system's, then the stand-in beside the program, and never the current folder, however
// LD_LIBRARY_PATH names it.

#include "probe.h"
#include "statuslibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;

class TestLibrarySearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void currentFolderIsNeverSearched_data();
    void currentFolderIsNeverSearched();
};

void TestLibrarySearch::initTestCase()
{
    StatusLibrary system(QStringList{StatusLibrary::fileName()});
    try {
        system.GetLMStatus();
        QSKIP("this system has a status library of its own in its library folders");
    } catch (const ravelin::StatusLibraryError &) {
    }
}

// Each row runs the probe in <root>/work, which holds a double that must never be loaded, as does
// <root>/work/rel. {maker} stands for <root>/maker, which holds a double of its own; the stand-in
// sits in <root>/lib/ravelin beside the program's <root>/bin.
void TestLibrarySearch::currentFolderIsNeverSearched_data()
{
    QTest::addColumn<QString>("libraryPath");
    QTest::addColumn<bool>("standIn");
    QTest::addColumn<QString>("loaded"); // a folder under <root>, or empty for none

    QTest::newRow("empty element first") << u":/opt/x"_s << true << u"lib/ravelin"_s;
    QTest::newRow("empty element last") << u"/opt/x:"_s << true << u"lib/ravelin"_s;
    QTest::newRow("empty element between") << u"/a::/b"_s << true << u"lib/ravelin"_s;
    QTest::newRow("only an empty element") << u":"_s << true << u"lib/ravelin"_s;
    QTest::newRow("the current folder as .") << u"."_s << true << u"lib/ravelin"_s;
    QTest::newRow("a relative folder") << u"rel:/opt/x"_s << true << u"lib/ravelin"_s;
    QTest::newRow("empty element and no stand-in: nothing loads")
        << u":/opt/x"_s << false << QString();
    QTest::newRow("absolute element wins over the stand-in") << u"{maker}"_s << true << u"maker"_s;
    QTest::newRow("absolute element after an empty one") << u":{maker}"_s << true << u"maker"_s;
    QTest::newRow("absolute element after the current folder")
        << u".:{maker}"_s << true << u"maker"_s;
    QTest::newRow("absolute element with no stand-in") << u"/a::{maker}"_s << false << u"maker"_s;
}

void TestLibrarySearch::currentFolderIsNeverSearched()
{
    QFETCH(QString, libraryPath);
    QFETCH(bool, standIn);
    QFETCH(QString, loaded);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString name = StatusLibrary::fileName();
    QStringList folders{u"bin"_s, u"work"_s, u"work/rel"_s, u"maker"_s};
    if (standIn)
        folders << u"lib/ravelin"_s;
    for (const QString &folder : folders) {
        QVERIFY(QDir().mkpath(root.filePath(folder)));
        if (folder != u"bin"_s)
            QVERIFY(QFile::copy(QString::fromUtf8(STATUS_DOUBLE_PATH),
                                root.filePath(folder + u'/' + name)));
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LD_LIBRARY_PATH"_s,
                       QString(libraryPath).replace(u"{maker}"_s, root.filePath(u"maker"_s)));
    QString output;
    if (!runProbe(LIBRARY_SEARCH_PROBE_PATH, {root.filePath(u"bin"_s)}, 0, output, environment,
                  root.filePath(u"work"_s)))
        return;

    QStringList mapped;
    QString loadedPath;
    for (const QString &line : output.split(u'\n')) {
        if (line.startsWith(u"mapped "_s))
            mapped << QFileInfo(line.mid(7)).canonicalFilePath();
        else if (line.startsWith(u"loaded "_s))
            loadedPath = QFileInfo(line.mid(7)).canonicalFilePath();
    }
    for (const QString &stranger : {u"work/"_s + name, u"work/rel/"_s + name}) {
        QVERIFY2(!mapped.contains(QFileInfo(root.filePath(stranger)).canonicalFilePath()),
                 qPrintable(stranger + u" was loaded:\n"_s + output));
    }
    if (loaded.isEmpty()) {
        QVERIFY2(output.startsWith(u"failed "_s), qPrintable(output));
        QVERIFY2(output.contains(name), qPrintable(output));
        QVERIFY2(output.contains(u"No such file or directory"_s), qPrintable(output));
        QCOMPARE(mapped, QStringList());
    } else {
        const QString expected = QFileInfo(root.filePath(loaded + u'/' + name)).canonicalFilePath();
        QCOMPARE(mapped, QStringList{expected});
        QCOMPARE(loadedPath, expected); // by its full path
    }
}

QTEST_GUILESS_MAIN(TestLibrarySearch)
#include "tst_librarysearch.moc"
