// The stand-in status library when the scheduler cannot answer: Printer Error alone, and the
// call returns. libcups reads which scheduler to use once, at its first use in a thread, so
// each case runs in a process of its own: CTest runs this program once per test function,
// naming it on the command line.
//
// The time a call takes is printed, not checked (the library gives each call 0.8 s); CTest's
// TIMEOUT catches a call that hangs.

#include "statuslibrary.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;

namespace {

constexpr ravelin::StatusWord PrinterError = 0x0080;

} // namespace

class TestQvlmstatUnreachable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void schedulerDown();
    void silentScheduler();

private:
    // Points libcups at this socket, and away from the machine's and the user's configuration.
    void useScheduler(const QString &socketPath);
    void expectPrinterErrorFromEveryCall();

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

// A scheduler that takes connections and never answers: a listening socket that nobody reads.
void TestQvlmstatUnreachable::silentScheduler()
{
    const QByteArray path = QFile::encodeName(m_dir.filePath(u"silent.sock"_s));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(path.size()) < sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(m_listener >= 0);
    QCOMPARE(::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(m_listener, 64), 0);

    useScheduler(QFile::decodeName(path));
    expectPrinterErrorFromEveryCall();
}

QTEST_GUILESS_MAIN(TestQvlmstatUnreachable)
#include "tst_qvlmstat_unreachable.moc"
