// SPDX-License-Identifier: MIT
// The monitor's socket server in this process, over a table the test fills and a clock it holds:
// every request's answer, and the bounds that keep one client from holding up the others.

#include "listener.h"
#include "monitorprocess.h"
#include "monitorserver.h"

#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using ravelin::monitor::Listener;
using ravelin::monitor::Log;
using ravelin::monitor::MonitorServer;
using ravelin::monitor::PrinterTable;
using ravelin::monitor::ServerLimits;
using ravelin::qvlmstat::ReasonedWord;
using SystemClock = std::chrono::system_clock;

namespace {

const SystemClock::time_point Start = SystemClock::time_point(1'800'000'000s);

} // namespace

class TestMonitorServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void boundsKeepOthersServed_data();
    void boundsKeepOthersServed();
    void aStaleSocketIsReplaced();

private:
    void serve(ServerLimits limits = {});
    QString path() const { return m_dir.filePath(u"monitor.sock"_s); }

    QTemporaryDir m_dir{u"/tmp/rvmonitor.XXXXXX"_s};
    std::unique_ptr<PrinterTable> m_table;
    QStringList m_log;
    Log m_logger{[this](const std::string &line) { m_log << QString::fromStdString(line); }};
    Listener m_listener;
    std::unique_ptr<MonitorServer> m_server;
    std::thread m_thread;
};

void TestMonitorServer::init()
{
    QVERIFY(m_dir.isValid());
    m_table = std::make_unique<PrinterTable>();
    m_table->setQueues({{"QVT-Front", "socket://127.0.0.1:9100", "Quorvel QVT-7460"},
                        {"QVT-Line", "serial:/dev/ttyS0?baud=9600", ""},
                        {"QVT-New", "file:/dev/usb/lp0", ""}});
    const auto took = 3ms;
    m_table->record("QVT-Front", "socket://127.0.0.1:9100", 1, {0x0010, {}, true}, Start, took);
    // Cover open two seconds later, then paper out too.
    m_table->record("QVT-Front", "socket://127.0.0.1:9100", 2, {0x0011, {}, true}, Start + 2s,
                    took);
    m_table->record("QVT-Front", "socket://127.0.0.1:9100", 3, {0x0013, {}, true}, Start + 3s,
                    took);
    m_table->record("QVT-Line", "serial:/dev/ttyS0?baud=9600", 3,
                    {0x0080, "QVT-Line: /dev/ttyS0: permission denied", false}, Start + 4s, took);
    m_table->setDefaultDestination("qvt-front");
}

void TestMonitorServer::cleanup()
{
    if (m_server) {
        m_server->stop();
        m_thread.join();
    }
    m_server.reset();
    m_listener = {};
    m_log.clear();
}

void TestMonitorServer::serve(ServerLimits limits)
{
    m_listener = Listener::at(QFile::encodeName(path()).toStdString());
    QVERIFY2(m_listener.valid(), m_listener.error().c_str());
    m_server = std::make_unique<MonitorServer>(m_listener.descriptor(), *m_table, m_logger, "2.1.0",
                                               limits, [] { return Start + 5s; });
    m_thread = std::thread([this] { m_server->run(); });
}

void TestMonitorServer::answers_data()
{
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QByteArray>("answers");

    QTest::newRow("status") << "status QVT-Front\n"_ba
                            << "ok QVT-Front 0x0013 2000\n"_ba;
    QTest::newRow("status in another case, of an instance, with CR LF")
        << "status qvt-front/receipt\r\n"_ba
        << "ok QVT-Front 0x0013 2000\n"_ba;
    QTest::newRow("status with a reason")
        << "status QVT-Line\n"_ba
        << "ok QVT-Line 0x0080 1000 QVT-Line: /dev/ttyS0: permission denied\n"_ba;
    QTest::newRow("status before the first reading") << "status QVT-New\n"_ba
                                                     << "pending QVT-New\n"_ba;
    QTest::newRow("status of a queue not watched") << "status Laser\n"_ba
                                                   << "unknown Laser\n"_ba;
    QTest::newRow("default") << "default\n"_ba
                             << "ok QVT-Front 0x0013 2000\n"_ba;
    QTest::newRow("list")
        << "list\n"_ba
        << "printer QVT-Front 0x0013 2000 yes socket\n"
           "printer QVT-Line 0x0080 1000 no serial QVT-Line: /dev/ttyS0: permission denied\n"
           "printer QVT-New 0x0080 - no file waiting for the first reading\n"
           "end 3\n"_ba;
    QTest::newRow("bits: Head Up 3 s ago, Paper Out 2 s ago")
        << "bits QVT-Front\n"_ba
        << "bits QVT-Front 3000 2000 - - - - - - - - - - - - - -\n"_ba;
    QTest::newRow("version") << "version\n"_ba
                             << "ok ravelin-monitor 2.1.0 protocol 1\n"_ba;
    QTest::newRow("garbage, then a request on the same connection")
        << "\x01\xff garbage\nstatus QVT-Front\n"_ba
        << "error the request is not UTF-8\nok QVT-Front 0x0013 2000\n"_ba;
    QTest::newRow("an over-long line, then a request")
        << QByteArray(1000, 'x') + "\nversion\n"_ba
        << "error a request is at most 256 bytes with its line feed\n"
           "ok ravelin-monitor 2.1.0 protocol 1\n"_ba;
    QTest::newRow("the longest line") << "status " + QByteArray(248, 'Q') + "\n"_ba
                                      << "unknown " + QByteArray(248, 'Q') + "\n"_ba;
}

void TestMonitorServer::answers()
{
    QFETCH(QByteArray, requests);
    QFETCH(QByteArray, answers);
    serve();
    SocketClient client(path());
    QCOMPARE(client.ask(requests, int(answers.count('\n'))), answers);
}

void TestMonitorServer::boundsKeepOthersServed_data()
{
    QTest::addColumn<QString>("client");
    QTest::newRow("a client that never reads") << u"never reads"_s;
    QTest::newRow("a client that goes idle") << u"idle"_s;
    QTest::newRow("one client too many") << u"too many"_s;
    QTest::newRow("a client that stops sending mid-line") << u"half a line"_s;
}

// Each bound closes the client that passes it, and another client is served meanwhile and after.
void TestMonitorServer::boundsKeepOthersServed()
{
    QFETCH(QString, client);
    serve({.clients = 4, .idle = 300ms, .unsentBytes = 64 * 1024});
    const QByteArray version = "ok ravelin-monitor 2.1.0 protocol 1\n"_ba;
    SocketClient other(path());
    QCOMPARE(other.ask("version\n"), version);

    std::vector<std::unique_ptr<SocketClient>> clients;
    if (client == u"never reads"_s) {
        auto &greedy = clients.emplace_back(std::make_unique<SocketClient>(path()));
        // Far more answers than the bound, asked without reading one.
        const QByteArray lists = QByteArray("list\n").repeated(20000);
        ::send(greedy->fd, lists.constData(), size_t(lists.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        QCOMPARE(other.ask("version\n"), version);
        QVERIFY(greedy->isClosedByServer());
    } else if (client == u"idle"_s || client == u"half a line"_s) {
        auto &idle = clients.emplace_back(std::make_unique<SocketClient>(path()));
        if (client == u"half a line"_s)
            QVERIFY(idle->send("status QVT-"));
        QVERIFY(idle->isClosedByServer());
    } else {
        for (int i = 0; i < 3; ++i)
            QCOMPARE(clients.emplace_back(std::make_unique<SocketClient>(path()))->ask("version\n"),
                     version);
        auto &fifth = clients.emplace_back(std::make_unique<SocketClient>(path()));
        QCOMPARE(fifth->receive(), "error busy\n"_ba);
        QVERIFY(fifth->isClosedByServer());
        clients.pop_back();
        clients.pop_back(); // the fourth goes; a new one is served
        // (Once the server has answered this, it has seen the fourth go.)
        QCOMPARE(other.ask("version\n"), version);
        QCOMPARE(SocketClient(path()).ask("version\n"), version);
    }
    QCOMPARE(SocketClient(path()).ask("version\n"), version);
}

// A socket left by a monitor that is gone is taken over; one where a monitor listens is not.
void TestMonitorServer::aStaleSocketIsReplaced()
{
    const std::string socket = QFile::encodeName(path()).toStdString();
    {
        Listener gone = Listener::at(socket);
        QVERIFY(gone.valid());
        ::close(::dup(gone.descriptor()));
        // A monitor that died leaves its socket file behind: make one by hand.
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        gone = {};
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socket.c_str());
        QCOMPARE(::bind(stale, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(stale);
    }
    QVERIFY(QFile::exists(path()));
    Listener taken = Listener::at(socket);
    QVERIFY2(taken.valid(), taken.error().c_str());
    const Listener second = Listener::at(socket);
    QVERIFY(!second.valid());
    QCOMPARE(second.error(), "another monitor listens at " + socket);
    taken = {};
    QVERIFY(!QFile::exists(path()));
}

QTEST_GUILESS_MAIN(TestMonitorServer)
#include "tst_monitorserver.moc"
