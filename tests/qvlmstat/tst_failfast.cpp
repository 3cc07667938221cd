// SPDX-License-Identifier: MIT
// How the stand-in treats a peer it found silent: calls in the next five seconds answer at once
// without contacting it, one call in each five seconds tries again, and the first answer after a
// recovery is fresh. The library's own service is driven here with a clock the test moves, so
// that five seconds pass without waiting for them, and with a name resolver the test holds.

#include "fakescheduler.h"
#include "printersim.h"
#include "statusservice.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using ravelin::qvlmstat::PrinterErrorBit;
using ravelin::qvlmstat::StatusService;
using ravelin::qvlmstat::StatusWord;
using Behaviour = FakeScheduler::Behaviour;

namespace {

// What a call that does not wait takes, with room for a loaded machine; a call that waits takes
// the library's whole budget, 800 ms.
constexpr qint64 AtOnceMs = 300;

// A name resolver that holds every look-up until the test lets it go.
struct HeldResolver
{
    static inline std::mutex mutex;
    static inline std::condition_variable released;
    static inline bool letGo = false;
    static inline int calls = 0;

    static int resolve(const char *, const char *, const addrinfo *, addrinfo **found)
    {
        std::unique_lock lock(mutex);
        ++calls;
        released.wait(lock, [] { return letGo; });
        // A result the caller no longer waits for: it must be freed all the same.
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_socktype = SOCK_STREAM;
        return ::getaddrinfo("127.0.0.1", "631", &hints, found);
    }
    static void release()
    {
        const std::lock_guard lock(mutex);
        letGo = true;
        released.notify_all();
    }
};

} // namespace

class TestFailFast : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void aSilentSchedulerIsNotWaitedOnAgain();
    void oneRetryAtATime();
    void aSilentPrinterIsNotWaitedOnAgain_data();
    void aSilentPrinterIsNotWaitedOnAgain();
    void aSlowNameLookupIsGivenUp();

private:
    // One call at the test's clock time "at" (from the start), and how long it really took.
    StatusWord callAt(StatusService &service, std::chrono::milliseconds at, qint64 *tookMs);
    StatusService newService();
    QString socketPath() const { return m_dir.filePath(u"scheduler.sock"_s); }

    QTemporaryDir m_dir{u"/tmp/rvtest.XXXXXX"_s};
    // The lines the service wrote about reasons.
    QStringList m_lines;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_now;
};

void TestFailFast::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Away from the machine's and the user's CUPS configuration.
    qputenv("CUPS_SERVERROOT", QFile::encodeName(m_dir.path()));
    qputenv("HOME", QFile::encodeName(m_dir.path()));
}

void TestFailFast::cleanupTestCase()
{
    HeldResolver::release();
}

void TestFailFast::init()
{
    QFile::remove(socketPath());
    cupsSetServer(QFile::encodeName(socketPath()).constData());
    m_start = m_now = std::chrono::steady_clock::now();
    m_lines.clear();
}

StatusService TestFailFast::newService()
{
    // No language monitor: every call goes to the scheduler.
    return StatusService(
        [this] { return m_now; }, &HeldResolver::resolve,
        [] { return std::optional<std::string>(); },
        [this](const std::string &line) { m_lines << QString::fromStdString(line); });
}

StatusWord TestFailFast::callAt(StatusService &service, std::chrono::milliseconds at,
                                qint64 *tookMs)
{
    m_now = m_start + at;
    QElapsedTimer timer;
    timer.start();
    const StatusWord word = service.printerStatus("QVT-Fake").word;
    *tookMs = timer.elapsed();
    return word;
}

void TestFailFast::aSilentSchedulerIsNotWaitedOnAgain()
{
    FakeScheduler scheduler(socketPath(), Behaviour::Silent);
    QVERIFY(scheduler.isListening());
    FakeScheduler::Printer printer;
    printer.reason = "media-low";
    scheduler.setPrinter(printer);
    StatusService service = newService();
    qint64 took = 0;

    QCOMPARE(callAt(service, 0ms, &took), PrinterErrorBit);
    QVERIFY2(took >= 700, qPrintable(u"the first call took only %1 ms"_s.arg(took)));
    for (const auto at : {1ms, 2500ms, 4999ms}) {
        QCOMPARE(callAt(service, at, &took), PrinterErrorBit);
        QVERIFY2(took < AtOnceMs, qPrintable(u"%1 ms"_s.arg(took)));
    }
    // The retry, still silent; then another five seconds without.
    QCOMPARE(callAt(service, 5000ms, &took), PrinterErrorBit);
    QCOMPARE(callAt(service, 9000ms, &took), PrinterErrorBit);
    QVERIFY2(took < AtOnceMs, qPrintable(u"%1 ms"_s.arg(took)));
    QCOMPARE(scheduler.connections(), 2);

    // Recovered: the retry's answer is fresh, and so is every one after it.
    scheduler.setBehaviour(Behaviour::Answer);
    QCOMPARE(callAt(service, 10000ms, &took), 0x0010);
    QCOMPARE(callAt(service, 10001ms, &took), 0x0010);
    QCOMPARE(scheduler.connections(), 4);
    // Said once when it fell silent, whatever the calls in between, and once when it answered.
    QCOMPARE(m_lines,
             QStringList(
                 {u"QVT-Fake: the scheduler at %1 did not answer within 800 ms"_s.arg(socketPath()),
                  u"QVT-Fake: answering again"_s}));
}

// While one call retries, a call from another thread does not wait on the peer too.
void TestFailFast::oneRetryAtATime()
{
    FakeScheduler scheduler(socketPath(), Behaviour::Silent);
    QVERIFY(scheduler.isListening());
    StatusService service = newService();
    qint64 took = 0;
    QCOMPARE(callAt(service, 0ms, &took), PrinterErrorBit);

    m_now = m_start + 5000ms;
    StatusWord retried = 0;
    std::thread retry([&] {
        // libcups keeps its choice of scheduler per thread.
        cupsSetServer(QFile::encodeName(socketPath()).constData());
        retried = service.printerStatus("QVT-Fake").word;
    });
    QTRY_COMPARE_WITH_TIMEOUT(scheduler.connections(), 2, 5000);
    QElapsedTimer timer;
    timer.start();
    const StatusWord meanwhile = service.printerStatus("QVT-Fake").word;
    took = timer.elapsed();
    retry.join();
    QCOMPARE(meanwhile, PrinterErrorBit);
    QVERIFY2(took < AtOnceMs, qPrintable(u"%1 ms"_s.arg(took)));
    QCOMPARE(retried, PrinterErrorBit);
    QCOMPARE(scheduler.connections(), 2);
}

void TestFailFast::aSilentPrinterIsNotWaitedOnAgain_data()
{
    QTest::addColumn<int>("state");    // the queue's printer-state
    QTest::addColumn<int>("silent");   // the word while the printer is silent
    QTest::addColumn<int>("answered"); // the word once it answers, its cover open
    QTest::addColumn<bool>("told");    // whether its silence is a reason for Printer Error
    QTest::newRow("idle") << 3 << int(PrinterErrorBit) << 0x0001 << true;
    // Busy with the job: the scheduler's Printer Busy stands alone.
    QTest::newRow("printing") << 4 << 0x0800 << 0x0801 << false;
}

// The scheduler is asked at every call; the silent printer is not.
void TestFailFast::aSilentPrinterIsNotWaitedOnAgain()
{
    QFETCH(int, state);
    QFETCH(int, silent);
    QFETCH(int, answered);
    QFETCH(bool, told);
    PrinterSim printer;
    QVERIFY(printer.start());
    QVERIFY(printer.answer({0x12, 0x16, 0x12, 0x12}));
    QVERIFY(printer.run(u"fault silent"_s));
    FakeScheduler scheduler(socketPath(), Behaviour::Answer);
    QVERIFY(scheduler.isListening());
    FakeScheduler::Printer queue;
    queue.state = state;
    queue.deviceUri = printer.socketUri().toLatin1();
    scheduler.setPrinter(queue);
    StatusService service = newService();
    qint64 took = 0;

    QCOMPARE(callAt(service, 0ms, &took), silent);
    for (const auto at : {1ms, 4999ms}) {
        QCOMPARE(callAt(service, at, &took), silent);
        QVERIFY2(took < AtOnceMs, qPrintable(u"%1 ms"_s.arg(took)));
    }
    QCOMPARE(printer.connections(), 1);

    QVERIFY(printer.run(u"fault none"_s));
    QCOMPARE(callAt(service, 5000ms, &took), answered);
    QCOMPARE(callAt(service, 5001ms, &took), answered);
    QCOMPARE(printer.connections(), 3);
    QCOMPARE(scheduler.connections(), 5);
    const QString silence = u"QVT-Fake: 127.0.0.1:%1 did not answer the first status request "
                            "within 800 ms"_s.arg(printer.port());
    QCOMPARE(m_lines,
             told ? QStringList({silence, u"QVT-Fake: answering again"_s}) : QStringList());
}

// A scheduler named by a host name that takes its time to resolve: the call gives the look-up
// its budget and no more, and the next calls do not start another.
void TestFailFast::aSlowNameLookupIsGivenUp()
{
    cupsSetServer("scheduler.ravelin.invalid");
    StatusService service = newService();
    qint64 took = 0;
    QCOMPARE(callAt(service, 0ms, &took), PrinterErrorBit);
    QVERIFY2(took < 1000, qPrintable(u"%1 ms"_s.arg(took)));
    QCOMPARE(callAt(service, 1000ms, &took), PrinterErrorBit);
    QVERIFY2(took < AtOnceMs, qPrintable(u"%1 ms"_s.arg(took)));
    const std::lock_guard lock(HeldResolver::mutex);
    QCOMPARE(HeldResolver::calls, 1);
}

QTEST_GUILESS_MAIN(TestFailFast)
#include "tst_failfast.moc"
