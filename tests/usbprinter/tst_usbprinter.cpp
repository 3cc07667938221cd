// SPDX-License-Identifier: MIT
// The USB printer reader against receipt printers on a USB bus emulated in this process (the
// simulator's USB face): the status table through USB, the printer found by its serial number
// among two of one model, an interface another program holds, a device node that may not be
// opened, silent, partial and invalid answers within the bound, stale bytes, the kernel's
// printer driver, and after every reading: nothing sent but the four requests (and the standard
// requests for descriptors and the device ID), the interface let go.
//
// Runs under umockdev's preload library (see CMakeLists.txt); no device or privilege of the
// machine is used.

#include "usbface.h"
#include "usbprinters.h"

#include <QTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;
using namespace std::string_literals;
using ravelin::printersim::UsbBus;
using ravelin::printersim::UsbIdentity;
using ravelin::printersim::UsbPrinter;
using ravelin::printersim::WithoutOverridingFileModes;
using ravelin::qvlmstat::Deadline;
using ravelin::qvlmstat::PrinterErrorBit;
using ravelin::qvlmstat::SteadyClock;
using ravelin::usbprinter::UsbPrinters;
using ravelin::usbprinter::UsbReading;
using ravelin::usbprinter::UsbResult;

namespace {

constexpr std::chrono::milliseconds Budget{300};
// What a loaded machine may add to a reading that keeps its deadline.
constexpr std::chrono::milliseconds Slack{150};

const QByteArray AllFourRequests = "10 04 01 10 04 02 10 04 03 10 04 04"_ba;

const char *const LobbyUri = "usb://Quorvel/QVT-7460?serial=A1B2C3";
const char *const TwinUri = "usb://Quorvel/QVT-7460?serial=Z9Y8X7";
const char *const KitchenUri = "usb://Quorvel/QVT-7420?serial=K1&interface=1";
const char *const OneWayUri = "usb://Quorvel/QVT-7410?serial=U1";

UsbIdentity identity(const char *model, const char *serial)
{
    UsbIdentity id;
    id.product = model;
    id.serial = serial;
    id.deviceId = "MFG:Quorvel;MDL:"s + model + ";CMD:ESC/POS;CLS:PRINTER;";
    return id;
}

QByteArray received(UsbPrinter &printer)
{
    const QByteArray answer = QByteArray::fromStdString(printer.command("received"));
    return answer.startsWith("ok") ? answer.mid(3) : "?"_ba;
}

QStringList calls(const UsbPrinter &printer)
{
    QStringList lines;
    for (const std::string &line : printer.calls())
        lines << QString::fromStdString(line);
    return lines;
}

QString answersText(const UsbReading &reading)
{
    QStringList text;
    for (const auto &answer : reading.answers)
        text << (answer ? u"0x%1"_s.arg(uint(*answer), 2, 16, QChar(u'0')) : u"-"_s);
    return text.join(u' ');
}

} // namespace

class TestUsbPrinter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void wordThroughUsb_data();
    void wordThroughUsb();
    void foundByItsSerialNumber_data();
    void foundByItsSerialNumber();
    void interfaceHeldElsewhere();
    void permissionDenied_data();
    void permissionDenied();
    void poorAnswersWithinTheBound_data();
    void poorAnswersWithinTheBound();
    void staleBytesDrained();
    void kernelDriverUnboundAndBoundAgain();
    void unidirectionalPrinterNotAsked();

private:
    // Every reading's aftermath on every printer, checked after each test: nothing but the
    // status requests and the standard ones sent, every interface claimed let go, no reset.
    void verifyOnlyStatusRequests(const UsbPrinter &printer);
    void verifyLetGo(const UsbPrinter &printer);
    std::vector<UsbPrinter *> printers() const { return {m_lobby, m_twin, m_kitchen, m_oneWay}; }

    UsbBus m_bus; // goes last: the reader closes its devices first
    UsbPrinter *m_lobby = nullptr;
    UsbPrinter *m_twin = nullptr;
    UsbPrinter *m_kitchen = nullptr;
    UsbPrinter *m_oneWay = nullptr;
    std::unique_ptr<UsbPrinters> m_reader;
};

void TestUsbPrinter::initTestCase()
{
    QVERIFY2(m_bus.start(), m_bus.error().c_str());
    m_lobby = m_bus.plug(identity("QVT-7460", "A1B2C3"));
    m_twin = m_bus.plug(identity("QVT-7460", "Z9Y8X7"));
    UsbIdentity kitchen = identity("QVT-7420", "K1");
    kitchen.interfaceNumber = 1;
    kitchen.kernelDriver = true;
    m_kitchen = m_bus.plug(kitchen);
    UsbIdentity oneWay = identity("QVT-7410", "U1");
    oneWay.protocol = 1;
    m_oneWay = m_bus.plug(oneWay);
    for (UsbPrinter *printer : printers())
        QVERIFY2(printer, m_bus.error().c_str());
    m_reader = std::make_unique<UsbPrinters>();
}

void TestUsbPrinter::init()
{
    for (UsbPrinter *printer : printers()) {
        QCOMPARE(printer->command("fault none"), "ok");
        QCOMPARE(printer->command("state clear"), "ok");
        QCOMPARE(printer->command("reset"), "ok");
        printer->holdElsewhere(false);
        printer->forgetCalls();
        QVERIFY(m_bus.setAccessible(*printer, true));
    }
}

void TestUsbPrinter::cleanup()
{
    for (const UsbPrinter *printer : printers()) {
        verifyOnlyStatusRequests(*printer);
        verifyLetGo(*printer);
    }
}

void TestUsbPrinter::verifyOnlyStatusRequests(const UsbPrinter &printer)
{
    for (const QString &call : calls(printer)) {
        const bool standard = call.startsWith(u"control 80 06 "_s); // GET_DESCRIPTOR
        const bool deviceId = call.startsWith(u"control a1 00 "_s); // GET_DEVICE_ID
        const bool statusRequest = call.size() == 17 && call.startsWith(u"bulk-out 10 04 0"_s) &&
                                   call.back() >= u'1' && call.back() <= u'4';
        QVERIFY2(!call.startsWith(u"ioctl"_s) &&
                     !call.startsWith(u"bulk-out"_s) == !statusRequest &&
                     (!call.startsWith(u"control"_s) || standard || deviceId),
                 qPrintable(call));
    }
}

void TestUsbPrinter::verifyLetGo(const UsbPrinter &printer)
{
    QVERIFY(!printer.claimed());
    // Every interface claimed was released by the reader itself, not only by closing.
    const QStringList lines = calls(printer);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        if (!line.startsWith(u"claim "_s) || line.contains(u':'))
            continue;
        const QString release = u"release "_s + line.mid(6);
        QVERIFY2(lines.indexOf(release, i) > i, qPrintable(lines.join(u", "_s)));
    }
    QCOMPARE(printer.kernelDriverBound(), printer.identity().kernelDriver);
}

void TestUsbPrinter::wordThroughUsb_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<int>("word");

    QTest::newRow("all clear") << "clear"_ba << 0x0000;
    QTest::newRow("cover open") << "cover-open"_ba << 0x0001;
    QTest::newRow("paper near its end") << "paper-near-end"_ba << 0x0010;
    QTest::newRow("paper end") << "paper-end"_ba << 0x0002;
    QTest::newRow("paper fed by the feed button") << "feed-button"_ba << 0x0800;
    QTest::newRow("cutter error") << "cutter-error"_ba << 0x1000;
    QTest::newRow("head too hot") << "over-temp"_ba << 0x0040;
    QTest::newRow("offline, no cause shown") << "offline"_ba << 0x0080;
    QTest::newRow("several at once") << "cover-open paper-near-end"_ba << 0x0011;
}

void TestUsbPrinter::wordThroughUsb()
{
    QFETCH(QByteArray, state);
    QFETCH(int, word);
    QCOMPARE(m_lobby->command("state " + state.toStdString()), "ok");

    const UsbReading reading = m_reader->ask(LobbyUri, Deadline(Budget));
    QCOMPARE(int(reading.result), int(UsbResult::Read));
    QCOMPARE(reading.why, std::string());
    QCOMPARE(deviceWord(reading), word);
    QCOMPARE(reading.device, m_lobby->deviceNode());
    QCOMPARE(received(*m_lobby), AllFourRequests);
}

void TestUsbPrinter::foundByItsSerialNumber_data()
{
    QTest::addColumn<QByteArray>("uri");
    QTest::addColumn<QString>("asked"); // lobby, twin, either, none

    QTest::newRow("the first's serial number") << QByteArray(LobbyUri) << u"lobby"_s;
    QTest::newRow("the second's serial number") << QByteArray(TwinUri) << u"twin"_s;
    QTest::newRow("no serial number in the queue's URI")
        << "usb://Quorvel/QVT-7460"_ba << u"either"_s;
    QTest::newRow("a serial number neither has")
        << "usb://Quorvel/QVT-7460?serial=X"_ba << u"none"_s;
    QTest::newRow("another model") << "usb://Quorvel/QVT-7470?serial=A1B2C3"_ba << u"none"_s;
}

void TestUsbPrinter::foundByItsSerialNumber()
{
    QFETCH(QByteArray, uri);
    QFETCH(QString, asked);
    // Each shows a condition of its own, so that the word tells who answered.
    QCOMPARE(m_lobby->command("state paper-near-end"), "ok");
    QCOMPARE(m_twin->command("state cover-open"), "ok");

    const UsbReading reading = m_reader->ask(uri.toStdString(), Deadline(Budget));
    const QByteArray lobby = received(*m_lobby), twin = received(*m_twin);
    if (asked == u"none"_s) {
        QCOMPARE(int(reading.result), int(UsbResult::NotFound));
        QCOMPARE(deviceWord(reading), PrinterErrorBit);
        QVERIFY2(reading.why.find(uri.toStdString()) != std::string::npos, reading.why.c_str());
        QCOMPARE(lobby + twin, QByteArray());
    } else {
        QCOMPARE(int(reading.result), int(UsbResult::Read));
        const bool wasLobby = asked == u"lobby"_s || (asked == u"either"_s && !lobby.isEmpty());
        QCOMPARE(deviceWord(reading), wasLobby ? 0x0010 : 0x0001);
        QCOMPARE(wasLobby ? lobby : twin, AllFourRequests);
        QCOMPARE(wasLobby ? twin : lobby, QByteArray());
        QCOMPARE(reading.device, (wasLobby ? m_lobby : m_twin)->deviceNode());
    }
}

void TestUsbPrinter::interfaceHeldElsewhere()
{
    // The print system's backend printing a job holds the interface: the printer is not asked
    // and adds nothing to the scheduler's word.
    m_lobby->holdElsewhere(true);
    const UsbReading reading = m_reader->ask(LobbyUri, Deadline(Budget));
    QCOMPARE(int(reading.result), int(UsbResult::Busy));
    QCOMPARE(deviceWord(reading), 0);
    QCOMPARE(received(*m_lobby), QByteArray());
    QVERIFY(calls(*m_lobby).contains(u"claim 0: Device or resource busy"_s));

    // Free again, it is asked at once.
    m_lobby->holdElsewhere(false);
    QCOMPARE(int(m_reader->ask(LobbyUri, Deadline(Budget)).result), int(UsbResult::Read));
    QCOMPARE(received(*m_lobby), AllFourRequests);
}

void TestUsbPrinter::permissionDenied_data()
{
    QTest::addColumn<bool>("knownBefore");

    QTest::newRow("a printer the reader has not seen") << false;
    QTest::newRow("a printer read before") << true;
}

void TestUsbPrinter::permissionDenied()
{
    QFETCH(bool, knownBefore);
    std::unique_ptr<UsbPrinters> fresh;
    UsbPrinters *reader = m_reader.get();
    if (!knownBefore) {
        fresh = std::make_unique<UsbPrinters>();
        reader = fresh.get();
    } else {
        QCOMPARE(int(reader->ask(LobbyUri, Deadline(Budget)).result), int(UsbResult::Read));
        QCOMPARE(m_lobby->command("reset"), "ok");
    }
    QVERIFY(m_bus.setAccessible(*m_lobby, false));
    UsbReading reading;
    {
        const WithoutOverridingFileModes asAnyUser;
        reading = reader->ask(LobbyUri, Deadline(Budget));
    }
    QCOMPARE(int(reading.result), int(UsbResult::PermissionDenied));
    QCOMPARE(deviceWord(reading), PrinterErrorBit);
    QCOMPARE(reading.device, m_lobby->deviceNode());
    // The log line names the device and the ways to grant access.
    for (const std::string &part :
         {m_lobby->deviceNode(), std::string("permission denied"),
          std::string("60-ravelin-usb-printers.rules"), std::string("group lp")}) {
        QVERIFY2(reading.why.find(part) != std::string::npos, reading.why.c_str());
    }
    QCOMPARE(received(*m_lobby), QByteArray());
}

void TestUsbPrinter::poorAnswersWithinTheBound_data()
{
    QTest::addColumn<QByteArray>("commands"); // separated by '|'
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<int>("word");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("silent") << "fault silent"_ba << int(UsbResult::TimedOut) << u"- - - -"_s
                            << 0x0080 << "10 04 01"_ba;
    QTest::newRow("one answer invalid, the others kept")
        << "answer 3 0x93"_ba << int(UsbResult::Read) << u"0x12 0x12 - 0x12"_s << 0x0080
        << AllFourRequests;
    QTest::newRow("one answer invalid, paper low shown beside it")
        << "answer 2 0x13|answer 4 0x1e"_ba << int(UsbResult::Read) << u"0x12 - 0x12 0x1e"_s
        << 0x0090 << AllFourRequests;
    QTest::newRow("every answer invalid")
        << "fault invalid"_ba << int(UsbResult::Read) << u"- - - -"_s << 0x0080 << AllFourRequests;
    QTest::newRow("invalid bytes trickling, unasked")
        << "fault trickle"_ba << int(UsbResult::Read) << u"- - - -"_s << 0x0080 << AllFourRequests;
    QTest::newRow("gone") << "fault close"_ba << int(UsbResult::Failed) << u"- - - -"_s << 0x0080
                          << ""_ba;
}

void TestUsbPrinter::poorAnswersWithinTheBound()
{
    QFETCH(QByteArray, commands);
    QFETCH(int, result);
    QFETCH(QString, answers);
    QFETCH(int, word);
    QFETCH(QByteArray, sent);
    for (const QByteArray &command : commands.split('|'))
        QCOMPARE(m_lobby->command(command.toStdString()), "ok");

    const Deadline deadline(Budget);
    const UsbReading reading = m_reader->ask(LobbyUri, deadline);
    const SteadyClock::time_point returned = SteadyClock::now();
    QCOMPARE(int(reading.result), result);
    QCOMPARE(answersText(reading), answers);
    QCOMPARE(deviceWord(reading), word);
    QVERIFY2(!reading.why.empty() && reading.why.starts_with(m_lobby->deviceNode()),
             reading.why.c_str());
    QCOMPARE(received(*m_lobby), sent);
    // Within the bound, and the interface free before the deadline.
    QVERIFY(returned <= deadline.end() + Slack);
    QVERIFY(m_lobby->releasedAt() <= deadline.end());
}

void TestUsbPrinter::staleBytesDrained()
{
    // Answers to requests nobody read, cover open and paper near its end, wait on the endpoint
    // in two packets; the printer is now all clear.
    m_lobby->leaveUnread({0x16});
    m_lobby->leaveUnread({0x1e, 0x16});
    const UsbReading reading = m_reader->ask(LobbyUri, Deadline(Budget));
    QCOMPARE(int(reading.result), int(UsbResult::Read));
    QCOMPARE(deviceWord(reading), 0);
    QCOMPARE(m_lobby->unreadBytes(), std::size_t{0});
    QCOMPARE(received(*m_lobby), AllFourRequests);
}

void TestUsbPrinter::kernelDriverUnboundAndBoundAgain()
{
    // The kernel's printer driver holds the kitchen printer's interface 1: unbound for the
    // exchange, bound again after it.
    QCOMPARE(m_kitchen->command("state paper-end"), "ok");
    const UsbReading reading = m_reader->ask(KitchenUri, Deadline(Budget));
    QCOMPARE(int(reading.result), int(UsbResult::Read));
    QCOMPARE(deviceWord(reading), 0x0002);
    QCOMPARE(received(*m_kitchen), AllFourRequests);
    const QStringList lines = calls(*m_kitchen);
    const qsizetype unbound = lines.indexOf(u"disconnect 1"_s);
    const qsizetype claimed = lines.indexOf(u"claim 1"_s);
    const qsizetype released = lines.indexOf(u"release 1"_s);
    const qsizetype bound = lines.indexOf(u"connect 1"_s);
    QVERIFY2(unbound >= 0 && unbound < claimed && claimed < released && released < bound,
             qPrintable(lines.join(u", "_s)));
    QVERIFY(m_kitchen->kernelDriverBound());
}

void TestUsbPrinter::unidirectionalPrinterNotAsked()
{
    const UsbReading reading = m_reader->ask(OneWayUri, Deadline(Budget));
    QCOMPARE(int(reading.result), int(UsbResult::Failed));
    QCOMPARE(deviceWord(reading), PrinterErrorBit);
    QVERIFY2(reading.why.find("unidirectional") != std::string::npos, reading.why.c_str());
    QCOMPARE(received(*m_oneWay), QByteArray());
    QVERIFY(!calls(*m_oneWay).join(u' ').contains(u"claim"_s));
}

QTEST_APPLESS_MAIN(TestUsbPrinter)
#include "tst_usbprinter.moc"
