// SPDX-License-Identifier: MIT
// Name look-ups that do not end, as against a name server that never answers: calls that want
// the same name share one look-up, only a few names are looked up at once, and nothing piles up
// however often the calls come. The resolver is the test's and holds every look-up until let go.

#include "boundedio.h"

#include <QDir>
#include <QTest>

#include <condition_variable>
#include <mutex>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using ravelin::qvlmstat::Deadline;
using ravelin::qvlmstat::HostAddresses;
using ravelin::qvlmstat::lookUpHost;
using ravelin::qvlmstat::nameLookupsInFlight;
using ravelin::qvlmstat::Outcome;

namespace {

struct Gate
{
    static inline std::mutex mutex;
    static inline std::condition_variable opened;
    static inline bool open = false;
    static inline int calls = 0;

    static int resolve(const char *, const char *, const addrinfo *, addrinfo **found)
    {
        std::unique_lock lock(mutex);
        ++calls;
        opened.wait(lock, [] { return open; });
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_socktype = SOCK_STREAM;
        return ::getaddrinfo("127.0.0.1", nullptr, &hints, found);
    }
    static void set(bool isOpen)
    {
        const std::lock_guard lock(mutex);
        open = isOpen;
        calls = 0;
        opened.notify_all();
    }
    static int callsSoFar()
    {
        const std::lock_guard lock(mutex);
        return calls;
    }
};

int threads()
{
    return int(QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestNameLookups : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void lookUpsDoNotPileUp_data();
    void lookUpsDoNotPileUp();
};

void TestNameLookups::cleanup()
{
    Gate::set(true);
    QTRY_COMPARE_WITH_TIMEOUT(nameLookupsInFlight(), 0u, 5000);
}

void TestNameLookups::lookUpsDoNotPileUp_data()
{
    QTest::addColumn<QStringList>("hosts"); // asked in turn, each call waiting 50 ms
    QTest::addColumn<int>("lookUps");       // look-ups started
    QTest::addColumn<int>("busy");          // calls refused at once: too many look-ups
    QTest::addColumn<bool>("released");     // the resolver answers every look-up at once

    const auto repeated = [](const QStringList &names, int rounds) {
        QStringList hosts;
        for (int round = 0; round < rounds; ++round)
            hosts += names;
        return hosts;
    };
    QTest::newRow("one name asked by ten calls")
        << repeated({u"a.ravelin.invalid"_s}, 10) << 1 << 0 << false;
    // The printers of four queues on names that never resolve, polled again and again.
    QTest::newRow("four names asked five times each")
        << repeated({u"p1.ravelin.invalid"_s, u"p2.ravelin.invalid"_s, u"p3.ravelin.invalid"_s,
                     u"p4.ravelin.invalid"_s},
                    5)
        << 4 << 0 << false;
    QStringList many;
    for (int i = 0; i < 12; ++i)
        many << u"n%1.ravelin.invalid"_s.arg(i);
    QTest::newRow("more names than may be looked up at once")
        << repeated(many, 2) << int(ravelin::qvlmstat::MaxNameLookups)
        << 2 * (12 - int(ravelin::qvlmstat::MaxNameLookups)) << false;
    QTest::newRow("a resolver that answers: every call looks up")
        << repeated({u"quick.ravelin.invalid"_s}, 3) << 3 << 0 << true;
}

void TestNameLookups::lookUpsDoNotPileUp()
{
    QFETCH(QStringList, hosts);
    QFETCH(int, lookUps);
    QFETCH(int, busy);
    QFETCH(bool, released);
    Gate::set(released);
    const int threadsBefore = threads();

    int refused = 0;
    for (const QString &host : hosts) {
        const Deadline deadline(50ms);
        const HostAddresses found = lookUpHost(host.toStdString(), deadline, &Gate::resolve);
        if (released) {
            QCOMPARE(found.outcome, Outcome::Done);
            // An answer the resolver gave may come after the call has returned; wait for it.
            QTRY_COMPARE_WITH_TIMEOUT(nameLookupsInFlight(), 0u, 5000);
        } else if (found.failure == HostAddresses::Failure::Busy) {
            QVERIFY2(!deadline.passed(), "a refused call waited");
            ++refused;
        } else {
            QCOMPARE(found.failure, HostAddresses::Failure::TimedOut);
        }
    }
    QCOMPARE(refused, busy);
    QTRY_COMPARE_WITH_TIMEOUT(Gate::callsSoFar(), lookUps, 5000);
    if (!released) {
        QCOMPARE(nameLookupsInFlight(), std::size_t(lookUps));
        QVERIFY2(threads() <= threadsBefore + lookUps,
                 qPrintable(u"%1 threads, %2 before"_s.arg(threads()).arg(threadsBefore)));
    }
}

QTEST_GUILESS_MAIN(TestNameLookups)
#include "tst_namelookups.moc"
