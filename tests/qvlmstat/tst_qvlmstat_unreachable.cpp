// SPDX-License-Identifier: MIT
// The stand-in status library when the scheduler cannot answer: Printer Error alone, and the
// call returns. libcups reads which scheduler to use once, at its first use in a thread, so
// each case runs in a process of its own: CTest runs this program once per test function,
// naming it on the command line.
//
// Where a scheduler holds on, every call returns within its bound of one second, and calls that
// follow a silent scheduler's time-out answer at once. Elsewhere the time a call takes is
// printed, not checked (the library gives each call 0.8 s); CTest's TIMEOUT catches a call that
// hangs.

#include "fakescheduler.h"
#include "statuslibrary.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;

namespace {

constexpr ravelin::StatusWord PrinterError = 0x0080;
// The promise of every call, with the margin nothing: the library's budget is 0.8 s.
constexpr qint64 CallBoundMs = 1000;

} // namespace

class TestQvlmstatUnreachable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void schedulerDown();
    void silentScheduler();
    void tenCallsAgainstASilentScheduler();
    void tricklingScheduler();
    void endlessBody();
    void slowConnect();

private:
    // Points libcups at this socket (or host:port), and away from the machine's and the user's
    // configuration.
    void useScheduler(const QString &socketPath);
    void expectPrinterErrorFromEveryCall();
    void expectPrinterErrorWithinTheBound();
    void expectPrinterErrorWithinTheBoundFrom(FakeScheduler::Behaviour behaviour);
    // A listening socket that nobody reads.
    void listenSilently(const QString &socketPath);

    QTemporaryDir m_dir{u"/tmp/rvtest.XXXXXX"_s};
    int m_listener = -1;
};

void TestQvlmstatUnreachable::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestQvlmstatUnreachable::cleanupTestCase()
{
    if (m_listener >= 0)
        ::close(m_listener);
}

void TestQvlmstatUnreachable::useScheduler(const QString &socketPath)
{
    qputenv("CUPS_SERVER", QFile::encodeName(socketPath));
    qputenv("CUPS_SERVERROOT", QFile::encodeName(m_dir.path()));
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
}

void TestQvlmstatUnreachable::expectPrinterErrorFromEveryCall()
{
    StatusLibrary library({QStringLiteral(QVLMSTAT_PATH)});
    QElapsedTimer timer;

    timer.start();
    QCOMPARE(library.GetPrinterStatus(u"QVT-7460"_s), PrinterError);
    qInfo("GetPrinterStatus took %lld ms", timer.restart());

    QCOMPARE(library.GetLMStatus(), PrinterError);
    qInfo("GetLMStatus without a default took %lld ms", timer.restart());

    // A default named in the environment needs the scheduler all the same.
    qputenv("LPDEST", "QVT-7460");
    QCOMPARE(library.GetLMStatus(), PrinterError);
    qInfo("GetLMStatus with LPDEST took %lld ms", timer.restart());
    qunsetenv("LPDEST");

    QCOMPARE(library.GetPrinterStatus(u"QVT-7460"_s), PrinterError);
    qInfo("GetPrinterStatus again took %lld ms", timer.restart());
}

// Nothing listens where CUPS_SERVER points.
void TestQvlmstatUnreachable::schedulerDown()
{
    useScheduler(m_dir.filePath(u"none.sock"_s));
    expectPrinterErrorFromEveryCall();
}

void TestQvlmstatUnreachable::expectPrinterErrorWithinTheBound()
{
    StatusLibrary library({QStringLiteral(QVLMSTAT_PATH)});
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(library.GetPrinterStatus(u"QVT-7460"_s), PrinterError);
    const qint64 elapsed = timer.elapsed();
    qInfo("GetPrinterStatus took %lld ms", elapsed);
    QVERIFY2(elapsed < CallBoundMs, qPrintable(u"%1 ms"_s.arg(elapsed)));
}

void TestQvlmstatUnreachable::listenSilently(const QString &socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(path.size()) < sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(m_listener >= 0);
    QCOMPARE(::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(m_listener, 64), 0);
}

// A scheduler that takes connections and never answers.
void TestQvlmstatUnreachable::silentScheduler()
{
    const QString path = m_dir.filePath(u"silent.sock"_s);
    listenSilently(path);
    useScheduler(path);
    expectPrinterErrorFromEveryCall();
}

// The first call waits for the silent scheduler until its budget is spent; the nine after it
// know better than to wait again.
void TestQvlmstatUnreachable::tenCallsAgainstASilentScheduler()
{
    const QString path = m_dir.filePath(u"silent.sock"_s);
    listenSilently(path);
    useScheduler(path);
    StatusLibrary library({QStringLiteral(QVLMSTAT_PATH)});
    QElapsedTimer timer;
    timer.start();
    for (int call = 0; call < 10; ++call)
        QCOMPARE(library.GetPrinterStatus(u"QVT-7460"_s), PrinterError);
    const qint64 elapsed = timer.elapsed();
    qInfo("ten calls took %lld ms", elapsed);
    QVERIFY2(elapsed < 2000, qPrintable(u"%1 ms"_s.arg(elapsed)));
}

void TestQvlmstatUnreachable::expectPrinterErrorWithinTheBoundFrom(
    FakeScheduler::Behaviour behaviour)
{
    const QString path = m_dir.filePath(u"fake.sock"_s);
    FakeScheduler scheduler(path, behaviour);
    QVERIFY(scheduler.isListening());
    useScheduler(path);
    expectPrinterErrorWithinTheBound();
    QCOMPARE(scheduler.connections(), 1);
}

// A proper answer, one byte every 40 ms: whole, it would take ten seconds.
void TestQvlmstatUnreachable::tricklingScheduler()
{
    expectPrinterErrorWithinTheBoundFrom(FakeScheduler::Behaviour::Trickle);
}

void TestQvlmstatUnreachable::endlessBody()
{
    expectPrinterErrorWithinTheBoundFrom(FakeScheduler::Behaviour::Endless);
}

// A scheduler on the network whose connection never completes: a listener on the loopback
// address whose queue of connections is full, so that the kernel drops every further attempt.
void TestQvlmstatUnreachable::slowConnect()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(m_listener >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(m_listener, 0), 0);
    socklen_t size = sizeof address;
    QCOMPARE(::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size), 0);

    // Connections that are never taken, until one of them cannot even be made.
    std::vector<int> fillers;
    bool full = false;
    for (int i = 0; i < 16 && !full; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        QVERIFY(filler >= 0);
        fillers.push_back(filler);
        if (::connect(filler, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            QCOMPARE(errno, EINPROGRESS);
            pollfd entry{filler, POLLOUT, 0};
            full = ::poll(&entry, 1, 200) == 0;
        }
    }
    QVERIFY2(full, "the listener's queue did not fill");

    useScheduler(u"127.0.0.1:%1"_s.arg(ntohs(address.sin_port)));
    expectPrinterErrorWithinTheBound();
    for (const int filler : fillers)
        ::close(filler);
}

QTEST_GUILESS_MAIN(TestQvlmstatUnreachable)
#include "tst_qvlmstat_unreachable.moc"
