// SPDX-License-Identifier: MIT
// The stand-in status library against a real scheduler: the private one that
// "scripts/private-cups run" starts. The library is loaded through the program's own loader,
// from the place the build puts it, as the program loads it.

#include "privatecups.h"
#include "statuslibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <malloc.h>

#include <memory>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;
using ravelin::StatusWord;

namespace {

constexpr StatusWord PrinterError = 0x0080;
constexpr StatusWord PrinterBusy = 0x0800;

// Bytes the C heap has handed out and not had back (0 where a sanitizer replaces the heap).
qint64 heapInUse()
{
    return qint64(mallinfo2().uordblks);
}

int openFileDescriptors()
{
    return int(QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System).size());
}

// Three queues telling each other apart by their reasons, QVT-A the scheduler's default:
// QVT-A gives 0x0010, QVT-B 0x0100 and QVT-C 0x0001.
bool threeQueuesWithTheFirstAsDefault()
{
    return PrivateCups::addQueue(u"QVT-A"_s) && PrivateCups::addQueue(u"QVT-B"_s) &&
           PrivateCups::addQueue(u"QVT-C"_s) &&
           PrivateCups::setReasons(u"QVT-A"_s, {u"media-low"_s}) &&
           PrivateCups::setReasons(u"QVT-B"_s, {u"media-jam"_s}) &&
           PrivateCups::setReasons(u"QVT-C"_s, {u"cover-open"_s}) &&
           PrivateCups::setServerDefault(u"QVT-A"_s);
}

} // namespace

class TestQvlmstat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void theBuildPutsTheLibraryWhereTheProgramLooks();

    void reasonsGiveTheExactWord_data();
    void reasonsGiveTheExactWord();
    void processingSetsPrinterBusy();
    void backendReasonsWhileProcessing();
    void stoppedSetsPrinterError();
    void stoppedWithReasons();
    void unknownQueueGivesPrinterErrorAlone_data();
    void unknownQueueGivesPrinterErrorAlone();
    void anInstanceHasItsQueuesStatus();
    void queueNamesAreTheSchedulers();
    void aNameBeyondAscii();

    void lmStatusWithoutDefaultIsPrinterError();
    void lmStatusOfTheSchedulersDefault();
    void lmStatusOfTheUsersDefault();
    void lmStatusOfTheSystemsLpoptionsDefault();
    void lmStatusOfLpdest();
    void lmStatusOfAMissingDefault();

    void manyCallsLeaveNothingBehind();

private:
    std::unique_ptr<StatusLibrary> m_library;
};

void TestQvlmstat::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
    m_library = std::make_unique<StatusLibrary>(QStringList{QStringLiteral(QVLMSTAT_PATH)});
}

void TestQvlmstat::init()
{
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
    QVERIFY(PrivateCups::removeEverything());
}

void TestQvlmstat::cleanup()
{
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
}

// The program looks for the stand-in at ../lib/ravelin/ from its own folder, after the bare
// name; the build puts it there for the programs in bin/.
void TestQvlmstat::theBuildPutsTheLibraryWhereTheProgramLooks()
{
    const QStringList candidates =
        StatusLibrary::standardCandidates(QCoreApplication::applicationDirPath());
    QCOMPARE(candidates.size(), 2);
    QCOMPARE(candidates.first(), u"libQVLMSTAT.so"_s);
    QCOMPARE(QFileInfo(candidates.last()).canonicalFilePath(),
             QFileInfo(QStringLiteral(QVLMSTAT_PATH)).canonicalFilePath());

    QCOMPARE(m_library->GetPrinterStatus(u"No-Such-Queue"_s), PrinterError);
    QVERIFY(m_library->isLoaded());
    QCOMPARE(m_library->loadedPath(), QStringLiteral(QVLMSTAT_PATH));
}

void TestQvlmstat::reasonsGiveTheExactWord_data()
{
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<int>("word");

    QTest::newRow("none") << QStringList() << 0x0000;
    QTest::newRow("one vendor keyword") << QStringList{u"com.quorvel-head-up"_s} << 0x0001;
    QTest::newRow("several reasons")
        << QStringList{u"com.quorvel-paper-low-warning"_s, u"com.quorvel-cutter-home"_s,
                       u"media-jam-error"_s, u"com.quorvel-receipt-taken-report"_s,
                       u"toner-low-warning"_s}
        << 0x0518;
    QTest::newRow("standard keywords")
        << QStringList{u"cover-open"_s, u"media-empty-error"_s, u"media-low-report"_s} << 0x0013;
    QTest::newRow("every vendor keyword") << QStringList{u"com.quorvel-head-up"_s,
                                                         u"com.quorvel-paper-out"_s,
                                                         u"com.quorvel-paper-at-delivery"_s,
                                                         u"com.quorvel-cutter-home"_s,
                                                         u"com.quorvel-paper-low"_s,
                                                         u"com.quorvel-spare-sensor"_s,
                                                         u"com.quorvel-over-temp"_s,
                                                         u"com.quorvel-printer-error"_s,
                                                         u"com.quorvel-delivery-jam"_s,
                                                         u"com.quorvel-receipt-dropped"_s,
                                                         u"com.quorvel-receipt-taken"_s,
                                                         u"com.quorvel-printer-busy"_s,
                                                         u"com.quorvel-cutter-error"_s,
                                                         u"com.quorvel-rx-buffer-full"_s,
                                                         u"com.quorvel-spare"_s,
                                                         u"com.quorvel-receipt-purged"_s}
                                          << 0xFFFF;
    QTest::newRow("only other keywords")
        << QStringList{u"toner-low-warning"_s, u"com.example-head-up"_s} << 0x0000;
}

void TestQvlmstat::reasonsGiveTheExactWord()
{
    QFETCH(QStringList, reasons);
    QFETCH(int, word);
    QVERIFY(PrivateCups::addQueue(u"QVT-7460"_s));
    QVERIFY(PrivateCups::addQueue(u"Other-QVT"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-7460"_s, reasons));
    QVERIFY(PrivateCups::setReasons(u"Other-QVT"_s, {u"media-jam"_s}));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-7460"_s), word);
    QCOMPARE(m_library->GetPrinterStatus(u"Other-QVT"_s), 0x0100);
}

void TestQvlmstat::processingSetsPrinterBusy()
{
    QVERIFY(PrivateCups::addHoldingQueue(u"QVT-Busy"_s));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Busy"_s), 0x0000);
    QVERIFY(PrivateCups::holdJob(u"QVT-Busy"_s));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Busy"_s), PrinterBusy);
}

// End to end: the queue's backend reports its reasons while it prints, as a printer's does.
void TestQvlmstat::backendReasonsWhileProcessing()
{
    QVERIFY(PrivateCups::addHoldingQueue(u"QVT-Busy"_s));
    QVERIFY(PrivateCups::holdJob(u"QVT-Busy"_s,
                                 {u"com.quorvel-rx-buffer-full-warning"_s, u"media-low-report"_s}));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Busy"_s), PrinterBusy | 0x2000 | 0x0010);
}

void TestQvlmstat::stoppedSetsPrinterError()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-Stopped"_s));
    QVERIFY(PrivateCups::stopQueue(u"QVT-Stopped"_s)); // reason "paused", ignored
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Stopped"_s), PrinterError);
}

void TestQvlmstat::stoppedWithReasons()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-Stopped"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-Stopped"_s,
                                    {u"com.quorvel-paper-out-error"_s, u"cover-open"_s}));
    QVERIFY(PrivateCups::stopQueue(u"QVT-Stopped"_s));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Stopped"_s), PrinterError | 0x0002 | 0x0001);
}

void TestQvlmstat::unknownQueueGivesPrinterErrorAlone_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("no such queue") << u"No-Such-QVT"_s;
    QTest::newRow("empty") << QString();
    QTest::newRow("instance of no queue") << u"No-Such-QVT/receipt"_s;
    QTest::newRow("instance alone") << u"/receipt"_s;
    QTest::newRow("a blank") << u"QVT 7460"_s;
    QTest::newRow("URI characters") << u"QVT-7460?x=1#y"_s;
}

void TestQvlmstat::unknownQueueGivesPrinterErrorAlone()
{
    QFETCH(QString, name);
    // A queue with reasons that a wrong name must not reach.
    QVERIFY(PrivateCups::addQueue(u"QVT-7460"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-7460"_s, {u"media-low"_s}));
    QCOMPARE(m_library->GetPrinterStatus(name), PrinterError);
}

// An instance is a set of saved options for its queue; it has its queue's status.
void TestQvlmstat::anInstanceHasItsQueuesStatus()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-7460"_s));
    QVERIFY(PrivateCups::addInstance(u"QVT-7460"_s, u"receipt"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-7460"_s, {u"com.quorvel-receipt-dropped"_s}));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-7460/receipt"_s), 0x0200);
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-7460"_s), 0x0200);
}

// The scheduler, not the library, decides what a name means: CUPS queue names are
// case-insensitive.
void TestQvlmstat::queueNamesAreTheSchedulers()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-7460"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-7460"_s, {u"com.quorvel-over-temp-error"_s}));
    QCOMPARE(m_library->GetPrinterStatus(u"qvt-7460"_s), 0x0040);
}

// The name goes to the library in UTF-8 and to the scheduler percent-encoded.
void TestQvlmstat::aNameBeyondAscii()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-Küche"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-Küche"_s, {u"com.quorvel-receipt-purged"_s}));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Küche"_s), 0x8000);
}

void TestQvlmstat::lmStatusWithoutDefaultIsPrinterError()
{
    QCOMPARE(m_library->GetLMStatus(), PrinterError);
    QVERIFY(PrivateCups::addQueue(u"QVT-7460"_s));
    QCOMPARE(m_library->GetLMStatus(), PrinterError);
}

void TestQvlmstat::lmStatusOfTheSchedulersDefault()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-A"_s));
    QVERIFY(PrivateCups::addQueue(u"QVT-B"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-A"_s, {u"media-low"_s}));
    QVERIFY(PrivateCups::setReasons(u"QVT-B"_s, {u"com.quorvel-cutter-error-error"_s}));
    QVERIFY(PrivateCups::setServerDefault(u"QVT-B"_s));
    QCOMPARE(m_library->GetLMStatus(), 0x1000);
    QVERIFY(PrivateCups::stopQueue(u"QVT-B"_s));
    QCOMPARE(m_library->GetLMStatus(), 0x1080);
}

// The user's default (lpoptions) comes before the scheduler's; an instance as default has its
// queue's status.
void TestQvlmstat::lmStatusOfTheUsersDefault()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-A"_s));
    QVERIFY(PrivateCups::addQueue(u"QVT-B"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-A"_s, {u"media-low"_s}));
    QVERIFY(PrivateCups::setReasons(u"QVT-B"_s, {u"media-jam"_s}));
    QVERIFY(PrivateCups::setServerDefault(u"QVT-B"_s));
    QVERIFY(PrivateCups::run(u"lpoptions"_s, {u"-d"_s, u"QVT-A"_s}));
    QCOMPARE(m_library->GetLMStatus(), 0x0010);

    QVERIFY(PrivateCups::addInstance(u"QVT-B"_s, u"receipt"_s));
    QVERIFY(PrivateCups::run(u"lpoptions"_s, {u"-d"_s, u"QVT-B/receipt"_s}));
    QCOMPARE(m_library->GetLMStatus(), 0x0100);
}

// The system's lpoptions (in CUPS_SERVERROOT) come after the user's, before the scheduler.
void TestQvlmstat::lmStatusOfTheSystemsLpoptionsDefault()
{
    QVERIFY(threeQueuesWithTheFirstAsDefault());

    QFile system(PrivateCups::folder() + u"/etc/lpoptions"_s);
    QVERIFY(system.open(QIODevice::WriteOnly));
    system.write("# written by the test\nDest QVT-B copies=2\nDefault QVT-B/receipt copies=1\n");
    system.close();
    QCOMPARE(m_library->GetLMStatus(), 0x0100);

    QVERIFY(PrivateCups::run(u"lpoptions"_s, {u"-d"_s, u"QVT-C"_s}));
    QCOMPARE(m_library->GetLMStatus(), 0x0001);
}

// LPDEST, then PRINTER, come before both.
void TestQvlmstat::lmStatusOfLpdest()
{
    QVERIFY(threeQueuesWithTheFirstAsDefault());

    qputenv("PRINTER", "QVT-C");
    QCOMPARE(m_library->GetLMStatus(), 0x0001);
    qputenv("LPDEST", "QVT-B");
    QCOMPARE(m_library->GetLMStatus(), 0x0100);
}

void TestQvlmstat::lmStatusOfAMissingDefault()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-A"_s));
    QVERIFY(PrivateCups::setServerDefault(u"QVT-A"_s));
    qputenv("LPDEST", "No-Such-QVT");
    QCOMPARE(m_library->GetLMStatus(), PrinterError);
}

// Each call opens its own connection and closes it; nothing stays behind. (The sanitizer build
// checks the memory as well.)
void TestQvlmstat::manyCallsLeaveNothingBehind()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-A"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-A"_s, {u"media-low"_s, u"com.quorvel-spare"_s}));
    QVERIFY(PrivateCups::setServerDefault(u"QVT-A"_s));
    // Warm up: libcups reads its configuration once per thread.
    QCOMPARE(m_library->GetLMStatus(), 0x4010);

    QCOMPARE(m_library->GetPrinterStatus(u"QVT-A"_s), 0x4010);
    QCOMPARE(m_library->GetPrinterStatus(u"No-Such-QVT"_s), PrinterError);

    // Memory that stays taken grows with the calls when something leaks; a once-only
    // allocation (libcups's, Qt's) does not.
    constexpr int Rounds = 300;
    const int descriptors = openFileDescriptors();
    const qint64 heap = heapInUse();
    for (int i = 0; i < Rounds; ++i) {
        const StatusWord known = m_library->GetPrinterStatus(u"QVT-A"_s);
        const StatusWord unknown = m_library->GetPrinterStatus(u"No-Such-QVT"_s);
        const StatusWord lm = m_library->GetLMStatus();
        if (known != 0x4010 || unknown != PrinterError || lm != 0x4010)
            QFAIL(qPrintable(u"call %1: %2 %3 %4"_s.arg(i).arg(known).arg(unknown).arg(lm)));
    }
    QCOMPARE(openFileDescriptors(), descriptors);
    qInfo("heap in use grew by %lld bytes over %d calls", heapInUse() - heap, 3 * Rounds);
    QVERIFY(heapInUse() - heap < 16 * 1024);
}

QTEST_GUILESS_MAIN(TestQvlmstat)
#include "tst_qvlmstat.moc"
