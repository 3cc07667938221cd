// SPDX-License-Identifier: MIT
// The language monitor as it runs: ravelin-monitor in a process of its own over the private
// scheduler that "scripts/private-cups run" starts, reading the printer simulator, and the status
// library, loaded as the program loads it, asking it first.

#include "monitorprocess.h"
#include "printersim.h"
#include "privatecups.h"
#include "statuslibrary.h"
#include "statusreason.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/prctl.h>

#include <memory>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;
using ravelin::StatusWord;

namespace {

constexpr StatusWord HeadUp = 0x0001;
constexpr StatusWord PaperLow = 0x0010;
constexpr StatusWord PrinterError = 0x0080;
const QList<int> CoverOpen = {0x12, 0x16, 0x12, 0x12};
const QList<int> PaperNearEnd = {0x12, 0x12, 0x12, 0x1E};

// The monitor reads once at its start and then not for half a minute: every word a test sees
// meanwhile comes from its memory.
const QStringList ReadOnce = {u"--period"_s, u"30000"_s};
const QStringList ReadOften = {u"--period"_s, u"100"_s};

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void wordsComeFromTheMonitor_data();
    void wordsComeFromTheMonitor();
    void aChangeShowsAtTheNextReading();
    void withoutTheMonitorTheLibraryAsksItself_data();
    void withoutTheMonitorTheLibraryAsksItself();
    void queuesComeAndGo();
    void eachChangeOfReasonIsToldOnce();
    void endsOnSignal_data();
    void endsOnSignal();
    void takesTheSocketSystemdPasses_data();
    void takesTheSocketSystemdPasses();

private:
    // A socket path of this test's own: the library remembers a mute monitor by its path.
    QString newSocketPath() { return m_dir.filePath(u"monitor%1.sock"_s.arg(++m_sockets)); }
    std::unique_ptr<MonitorProcess> startMonitor(const QStringList &arguments);
    // The library's reason for the calling thread's last word.
    QByteArray lastReason() const;

    QTemporaryDir m_dir{u"/tmp/rvmon.XXXXXX"_s};
    int m_sockets = 0;
    std::unique_ptr<StatusLibrary> m_library;
    std::unique_ptr<PrinterSim> m_printer;
};

void TestMonitor::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
    QVERIFY(m_dir.isValid());
    m_library = std::make_unique<StatusLibrary>(QStringList{QStringLiteral(QVLMSTAT_PATH)});
}

void TestMonitor::init()
{
    qunsetenv("LPDEST");
    QVERIFY(PrivateCups::removeEverything());
    m_printer = std::make_unique<PrinterSim>();
    QVERIFY(m_printer->start());
    QVERIFY(PrivateCups::addQueue(u"QVT-Front"_s, m_printer->socketUri()));
}

void TestMonitor::cleanup()
{
    m_printer.reset();
    qputenv("RAVELIN_MONITOR_SOCKET", "");
    qunsetenv("LPDEST");
}

std::unique_ptr<MonitorProcess> TestMonitor::startMonitor(const QStringList &arguments)
{
    auto monitor = std::make_unique<MonitorProcess>(newSocketPath());
    if (!monitor->start(arguments))
        return {};
    qputenv("RAVELIN_MONITOR_SOCKET", QFile::encodeName(monitor->socketPath()));
    return monitor;
}

QByteArray TestMonitor::lastReason() const
{
    return lastStatusReason(QVLMSTAT_PATH);
}

void TestMonitor::wordsComeFromTheMonitor_data()
{
    QTest::addColumn<QString>("name"); // empty: GetLMStatus
    QTest::addColumn<QByteArray>("lpdest");
    QTest::addColumn<QString>("serverDefault");

    QTest::newRow("a named queue") << u"QVT-Front"_s << QByteArray() << u"QVT-Other"_s;
    QTest::newRow("an instance") << u"QVT-Front/receipt"_s << QByteArray() << u"QVT-Other"_s;
    QTest::newRow("the name in another case") << u"qvt-front"_s << QByteArray() << u"QVT-Other"_s;
    QTest::newRow("the scheduler's default destination")
        << QString() << QByteArray() << u"QVT-Front"_s;
    QTest::newRow("the caller's default destination")
        << QString() << "QVT-Front/receipt"_ba << u"QVT-Other"_s;
}

// The printer is not contacted by the calls: the monitor answers from what it read.
void TestMonitor::wordsComeFromTheMonitor()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, lpdest);
    QFETCH(QString, serverDefault);
    QVERIFY(PrivateCups::addQueue(u"QVT-Other"_s));
    QVERIFY(PrivateCups::setServerDefault(serverDefault));
    if (!lpdest.isEmpty())
        qputenv("LPDEST", lpdest);
    QVERIFY(m_printer->answer(CoverOpen));
    const auto monitor = startMonitor(ReadOnce);
    QVERIFY(monitor);
    QTRY_VERIFY(monitor->ask("status QVT-Front").startsWith("ok QVT-Front 0x0001 "));
    QVERIFY(m_printer->run(u"reset"_s));
    for (int call = 0; call < 5; ++call) {
        const StatusWord word =
            name.isEmpty() ? m_library->GetLMStatus() : m_library->GetPrinterStatus(name);
        QCOMPARE(word, HeadUp);
        QCOMPARE(lastReason(), QByteArray());
    }
    QCOMPARE(m_printer->connections(), 0);
}

// What the printer shows is in the window's next word after the monitor's next reading.
void TestMonitor::aChangeShowsAtTheNextReading()
{
    const auto monitor = startMonitor(ReadOften);
    QVERIFY(monitor);
    QTRY_COMPARE(m_library->GetPrinterStatus(u"QVT-Front"_s), 0x0000);
    QVERIFY(m_printer->answer(CoverOpen));
    QTRY_COMPARE(m_library->GetPrinterStatus(u"QVT-Front"_s), HeadUp);
    QVERIFY(m_printer->answer(PaperNearEnd));
    QTRY_COMPARE(m_library->GetLMStatus(), 0x0080); // no default destination anywhere
    QTRY_COMPARE(m_library->GetPrinterStatus(u"QVT-Front"_s), PaperLow);
}

void TestMonitor::withoutTheMonitorTheLibraryAsksItself_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("queue");
    QTest::addColumn<int>("printerConnections"); // made by the call itself

    QTest::newRow("no monitor") << u"none"_s << u"QVT-Front"_s << 1;
    QTest::newRow("a monitor that has stopped") << u"stopped"_s << u"QVT-Front"_s << 1;
    QTest::newRow("a monitor that takes no request") << u"mute"_s << u"QVT-Front"_s << 1;
    QTest::newRow("a queue the monitor does not watch") << u"running"_s << u"Laser"_s << 0;
    // Its first reading is made at its start; afterwards it answers again.
    QTest::newRow("a monitor started again") << u"restarted"_s << u"QVT-Front"_s << 0;
}

void TestMonitor::withoutTheMonitorTheLibraryAsksItself()
{
    QFETCH(QString, how);
    QFETCH(QString, queue);
    QFETCH(int, printerConnections);
    QVERIFY(PrivateCups::addQueue(u"Laser"_s, m_printer->socketUri()));
    QVERIFY(PrivateCups::setReasons(u"Laser"_s, {u"media-low"_s}));
    QVERIFY(m_printer->answer(PaperNearEnd));

    std::unique_ptr<MonitorProcess> monitor;
    int mute = -1;
    if (how == u"none"_s) {
        qputenv("RAVELIN_MONITOR_SOCKET", QFile::encodeName(newSocketPath()));
    } else if (how == u"mute"_s) {
        // It takes connections into its backlog and never answers.
        const QString path = newSocketPath();
        mute = listeningSocket(path);
        QVERIFY(mute >= 0);
        qputenv("RAVELIN_MONITOR_SOCKET", QFile::encodeName(path));
    } else {
        monitor = startMonitor(ReadOnce);
        QVERIFY(monitor);
        QTRY_VERIFY(monitor->ask("status QVT-Front").startsWith("ok "));
        if (how == u"stopped"_s || how == u"restarted"_s) {
            QVERIFY(monitor->stop());
            QVERIFY(!QFile::exists(monitor->socketPath()));
        }
        if (how == u"restarted"_s) {
            QVERIFY(monitor->start(ReadOnce));
            QTRY_VERIFY(monitor->ask("status QVT-Front").startsWith("ok "));
        }
    }
    QVERIFY(m_printer->run(u"reset"_s));
    QCOMPARE(m_library->GetPrinterStatus(queue), PaperLow);
    QCOMPARE(m_printer->connections(), printerConnections);
    if (mute >= 0)
        ::close(mute);
}

void TestMonitor::queuesComeAndGo()
{
    PrivateCups::run(u"lpadmin"_s, {u"-x"_s, u"QVT-Front"_s});
    const auto monitor = startMonitor(ReadOften);
    QVERIFY(monitor);
    QCOMPARE(monitor->ask("list"), "end 0"_ba);

    QVERIFY(PrivateCups::addQueue(u"QVT-New"_s, m_printer->socketUri()));
    QTRY_VERIFY(monitor->ask("status QVT-New").startsWith("ok QVT-New 0x0000 "));
    // Moved to another printer, whose cover is open.
    PrinterSim other;
    QVERIFY(other.start({u"--tcp"_s, u"0"_s}));
    QVERIFY(other.answer(CoverOpen));
    QVERIFY(PrivateCups::addQueue(u"QVT-New"_s, other.socketUri()));
    QTRY_VERIFY(monitor->ask("status QVT-New").startsWith("ok QVT-New 0x0001 "));
    QVERIFY(PrivateCups::run(u"lpadmin"_s, {u"-x"_s, u"QVT-New"_s}));
    QTRY_COMPARE(monitor->ask("status QVT-New"), "unknown QVT-New"_ba);
    // (A line is written just after the table changes, and read by this process when it comes.)
    QTRY_COMPARE(monitor->log().filter(u"QVT-New"_s),
                 QStringList({u"watching QVT-New (socket)"_s,
                              u"no longer watching QVT-New: the scheduler no longer lists it"_s}));
}

// A printer found silent reads Printer Error with its reason, through the protocol and the
// library alike; the monitor logs it once, whatever the rounds in between, and once when it
// answers again.
void TestMonitor::eachChangeOfReasonIsToldOnce()
{
    const auto monitor = startMonitor(ReadOften);
    QVERIFY(monitor);
    QTRY_VERIFY(monitor->ask("status QVT-Front").startsWith("ok QVT-Front 0x0000 "));
    QVERIFY(m_printer->run(u"fault silent"_s));
    const QByteArray reason = "QVT-Front: 127.0.0.1:" + QByteArray::number(m_printer->port()) +
                              " did not answer the first status request within 800 ms";
    QTRY_VERIFY(monitor->ask("status QVT-Front").endsWith(" " + reason));
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Front"_s), PrinterError);
    QCOMPARE(lastReason(), reason);
    // Asked again once the fail-fast period is over, tens of rounds later.
    QVERIFY(m_printer->run(u"reset"_s));
    QTRY_COMPARE_WITH_TIMEOUT(m_printer->connections(), 1, 15000);
    QVERIFY(m_printer->run(u"fault none"_s));
    QTRY_VERIFY_WITH_TIMEOUT(monitor->ask("status QVT-Front").startsWith("ok QVT-Front 0x0000 "),
                             15000);
    QCOMPARE(m_library->GetPrinterStatus(u"QVT-Front"_s), 0x0000);
    QCOMPARE(lastReason(), QByteArray());
    QTRY_COMPARE(monitor->log().filter(u"QVT-Front:"_s),
                 QStringList({QString::fromUtf8(reason), u"QVT-Front: answering again"_s}));
}

void TestMonitor::endsOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

// Even in the middle of a reading of a silent printer.
void TestMonitor::endsOnSignal()
{
    QFETCH(int, signal);
    QVERIFY(m_printer->run(u"fault silent"_s));
    const auto monitor = startMonitor(ReadOften);
    QVERIFY(monitor);
    QTRY_COMPARE(m_printer->received(), "10 04 01"_ba);
    QVERIFY(monitor->stop(signal));
    QVERIFY(!QFile::exists(monitor->socketPath()));
    const QStringList log = monitor->log();
    QCOMPARE(log.mid(log.size() - 2),
             QStringList(
                 {u"stopping on SIG"_s + QString::fromLatin1(sigabbrev_np(signal)), u"stopped"_s}));
}

void TestMonitor::takesTheSocketSystemdPasses_data()
{
    QTest::addColumn<bool>("ours");
    QTest::newRow("passed to it") << true;
    // Its parent's, say, handed down: not taken, nor left in the environment.
    QTest::newRow("passed to another process") << false;
}

// Socket activation: a listening socket at descriptor 3, LISTEN_FDS=1 and LISTEN_PID naming the
// process. The socket stays systemd's: the monitor does not remove it.
void TestMonitor::takesTheSocketSystemdPasses()
{
    QFETCH(bool, ours);
    const QString passed = newSocketPath();
    const QString own = newSocketPath();
    const int listener = listeningSocket(passed);
    QVERIFY(listener >= 0);

    QProcess monitor;
    monitor.setChildProcessModifier([listener] {
        ::dup2(listener, 3);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    // The shell's process becomes the monitor's, and $$ names it.
    monitor.start(u"/bin/sh"_s, {u"-c"_s,
                                 (ours ? u"LISTEN_PID=$$"_s : u"LISTEN_PID=1"_s) +
                                     u" LISTEN_FDS=1 exec \"$0\" --socket \"$1\""_s,
                                 QStringLiteral(MONITOR_PATH), own});
    ::close(listener);
    QVERIFY(monitor.waitForStarted());
    QTRY_VERIFY(
        MonitorProcess::ask(ours ? passed : own, "version").startsWith("ok ravelin-monitor"));
    QCOMPARE(QFile::exists(own), !ours);
    ::kill(pid_t(monitor.processId()), SIGTERM);
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitCode(), 0);
    QVERIFY(QFile::exists(passed));
    QVERIFY(!QFile::exists(own));
}

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
