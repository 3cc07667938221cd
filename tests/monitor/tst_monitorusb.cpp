// SPDX-License-Identifier: MIT
// The monitor's core in this process, reading a queue of the private scheduler whose printer
// hangs on a USB bus emulated here (the simulator's USB face): the word read over USB into the
// table, nothing sent while the queue prints, an interface another program holds, a device node
// the monitor may not open. Runs under umockdev's preload library (see CMakeLists.txt).

#include "privatecups.h"
#include "queuewatcher.h"
#include "usbdevicekind.h"
#include "usbface.h"
#include "usbprinters.h"

#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;
using namespace ravelin::monitor;
using ravelin::printersim::UsbBus;
using ravelin::printersim::UsbPrinter;
using ravelin::printersim::WithoutOverridingFileModes;
using ravelin::qvlmstat::Deadline;
using ravelin::qvlmstat::DevicePlan;

namespace {

const QString Queue = u"QVT-Usb"_s;
const QString Uri = u"usb://Quorvel/QVT-7460?serial=A1B2C3"_s;
constexpr std::chrono::milliseconds Period{50};

} // namespace

class TestMonitorUsb : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void wordThroughUsb_data();
    void wordThroughUsb();
    void notAskedWhileTheQueuePrints();
    void heldElsewhereReadsAsTheSchedulersWord();
    void permissionDeniedIsToldOnce();

private:
    // The monitor's rounds, each USB reading counted; stop() ends them and waits for the readers.
    void start();
    void stop() { m_watcher->stop(); }
    PrinterState state(const QString &name = Queue) const
    {
        return m_table->find(name.toStdString()).value_or(PrinterState{});
    }
    QStringList linesWith(const QString &text) const
    {
        const std::lock_guard lock(m_linesMutex);
        return m_lines.filter(text);
    }
    QByteArray received() { return QByteArray::fromStdString(m_printer->command("received")); }

    UsbBus m_bus; // goes last: the reader closes its devices first
    UsbPrinter *m_printer = nullptr;
    std::unique_ptr<ravelin::usbprinter::UsbPrinters> m_usb;
    std::unique_ptr<PrinterTable> m_table;
    mutable std::mutex m_linesMutex;
    QStringList m_lines;
    Log m_log{[this](const std::string &line) {
        const std::lock_guard lock(m_linesMutex);
        m_lines << QString::fromStdString(line);
    }};
    std::atomic<int> m_rounds = 0;
    std::atomic<int> m_readings = 0;
    std::unique_ptr<QueueWatcher> m_watcher;
};

void TestMonitorUsb::initTestCase()
{
    // The preload libraries are in this process already; the scheduler's clients that the test
    // runs go without them (the sanitizer's runtime hangs lpstat).
    qunsetenv("LD_PRELOAD");
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
    QVERIFY2(m_bus.start(), m_bus.error().c_str());
    m_printer = m_bus.plug({});
    QVERIFY2(m_printer, m_bus.error().c_str());
    m_usb = std::make_unique<ravelin::usbprinter::UsbPrinters>();
}

void TestMonitorUsb::init()
{
    QVERIFY(PrivateCups::removeEverything());
    QVERIFY(PrivateCups::addQueue(Queue, Uri));
    QCOMPARE(m_printer->command("fault none"), "ok");
    QCOMPARE(m_printer->command("state clear"), "ok");
    QCOMPARE(m_printer->command("reset"), "ok");
    m_printer->holdElsewhere(false);
    m_printer->forgetCalls();
    QVERIFY(m_bus.setAccessible(*m_printer, true));
    m_table = std::make_unique<PrinterTable>();
    m_lines.clear();
    m_rounds = 0;
    m_readings = 0;
}

void TestMonitorUsb::cleanup()
{
    m_watcher.reset();
}

void TestMonitorUsb::start()
{
    DeviceKind usb = usbDeviceKind(*m_usb);
    usb.read = [this, read = usb.read](const DevicePlan &plan, const Deadline &deadline) {
        ++m_readings;
        return read(plan, deadline);
    };
    m_watcher = std::make_unique<QueueWatcher>(
        *m_table, m_log,
        QueueWatcher::Settings{
            .period = Period, .kinds = {usb}, .afterRound = [this] { ++m_rounds; }});
    m_watcher->start();
}

void TestMonitorUsb::wordThroughUsb_data()
{
    QTest::addColumn<QByteArray>("printer");
    QTest::addColumn<QStringList>("schedulerReasons");
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("reason");

    QTest::newRow("all clear") << "state clear"_ba << QStringList() << 0x0000 << QString();
    QTest::newRow("cover open") << "state cover-open"_ba << QStringList() << 0x0001 << QString();
    QTest::newRow("cover open, the scheduler's paper low beside it")
        << "state cover-open"_ba << QStringList{u"media-low"_s} << 0x0011 << QString();
    QTest::newRow("an error it cannot recover from")
        << "state unrecoverable-error"_ba << QStringList() << 0x0080
        << Queue + u": "_s + Uri + u" reports an unrecoverable error"_s;
    QTest::newRow("silent") << "fault silent"_ba << QStringList() << 0x0080
                            << Queue + u": "_s + QString::fromStdString(m_printer->deviceNode()) +
                                   u" did not answer the first status request within"_s;
}

// Two queues on the printer share one reader: one reading per round for both.
void TestMonitorUsb::wordThroughUsb()
{
    QFETCH(QByteArray, printer);
    QFETCH(QStringList, schedulerReasons);
    QFETCH(int, word);
    QFETCH(QString, reason);
    QCOMPARE(m_printer->command(printer.toStdString()), "ok");
    QVERIFY(PrivateCups::addQueue(u"QVT-Usb-Copy"_s, Uri));
    for (const QString &queue : {Queue, u"QVT-Usb-Copy"_s})
        QVERIFY(PrivateCups::setReasons(queue, schedulerReasons));

    start();
    QTRY_VERIFY(state().read && state(u"QVT-Usb-Copy"_s).read);
    stop();
    QCOMPARE(state().word, word);
    QCOMPARE(state(u"QVT-Usb-Copy"_s).word, word);
    QVERIFY2(QString::fromStdString(state().reason).startsWith(reason), state().reason.c_str());
    QCOMPARE(state().reason.empty(), reason.isEmpty());
    QVERIFY(received().startsWith("ok 10 04 01"));
    QVERIFY(m_readings <= m_rounds);
    QVERIFY(!m_printer->claimed());
}

// The scheduler says the queue is printing: the printer is left to the job.
void TestMonitorUsb::notAskedWhileTheQueuePrints()
{
    QCOMPARE(m_printer->command("state cover-open"), "ok");
    QVERIFY(PrivateCups::holdJob(Queue));

    start();
    QTRY_VERIFY(m_rounds >= 3 && state().read);
    stop();
    QCOMPARE(state().word, ravelin::qvlmstat::PrinterBusyBit);
    QCOMPARE(state().reason, std::string());
    QCOMPARE(m_readings, 0);
    QCOMPARE(received(), "ok"_ba);
    QVERIFY(std::ranges::none_of(
        m_printer->calls(), [](const std::string &call) { return call.starts_with("claim"); }));
}

// The backend printing a job that started after the scheduler's report holds the interface: the
// scheduler's word alone, no Printer Error, nothing said.
void TestMonitorUsb::heldElsewhereReadsAsTheSchedulersWord()
{
    QCOMPARE(m_printer->command("state cover-open"), "ok");
    start();
    QTRY_COMPARE(state().word, 0x0001);
    m_printer->holdElsewhere(true);
    const int before = m_readings;
    QTRY_VERIFY(m_readings >= before + 2); // one whole reading made and recorded
    stop();
    QCOMPARE(state().word, 0x0000);
    QCOMPARE(state().reason, std::string());
    QVERIFY(state().reachable);
    QCOMPARE(linesWith(Queue), QStringList{u"watching QVT-Usb (usb)"_s});
    QVERIFY(received().count("10 04 01") <= before);
}

// Printer Error, and the reason, which says how to grant access, logged once over the rounds.
void TestMonitorUsb::permissionDeniedIsToldOnce()
{
    QVERIFY(m_bus.setAccessible(*m_printer, false));
    {
        const WithoutOverridingFileModes asAnyUser; // for the monitor's threads
        start();
    }
    QTRY_VERIFY(m_readings >= 4);
    stop();
    QCOMPARE(state().word, 0x0080);
    for (const std::string &part :
         {"QVT-Usb: " + m_printer->deviceNode(), std::string("permission denied"),
          std::string("60-ravelin-usb-printers.rules"), std::string("group lp")}) {
        QVERIFY2(state().reason.find(part) != std::string::npos, state().reason.c_str());
    }
    QCOMPARE(linesWith(u"permission denied"_s),
             QStringList{QString::fromStdString(state().reason)});
    QCOMPARE(received(), "ok"_ba);
}

QTEST_GUILESS_MAIN(TestMonitorUsb)
#include "tst_monitorusb.moc"
