// SPDX-License-Identifier: MIT
// The stand-in asking printers of the series themselves: queues on the private scheduler that
// "scripts/private-cups run" starts, pointing at the printer simulator over its status port or
// its pseudo-terminal; the library loaded as the program loads it. Each test gets a simulator of
// its own.

#include "printersim.h"
#include "privatecups.h"
#include "statuslibrary.h"
#include "statusreason.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;
using ravelin::StatusWord;

namespace {

constexpr StatusWord HeadUp = 0x0001;
constexpr StatusWord PaperOut = 0x0002;
constexpr StatusWord PaperLow = 0x0010;
constexpr StatusWord OverTemp = 0x0040;
constexpr StatusWord PrinterError = 0x0080;
constexpr StatusWord DeliveryJam = 0x0100;
constexpr StatusWord ReceiptTaken = 0x0400;
constexpr StatusWord PrinterBusy = 0x0800;
constexpr StatusWord CutterError = 0x1000;

// The library's promise for every call.
constexpr qint64 CallBoundMs = 1000;

// The answers of a printer with nothing to report.
const QList<int> AllClear = {0x12, 0x12, 0x12, 0x12};
// The same with its cover open.
const QList<int> CoverOpen = {0x12, 0x16, 0x12, 0x12};

QSet<int> openDescriptors()
{
    QSet<int> descriptors;
    for (const QString &entry : QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System))
        descriptors.insert(entry.toInt());
    return descriptors;
}

} // namespace

class TestLiveStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void answersMakeTheWord_data();
    void answersMakeTheWord();
    void theSchedulersWordAndThePrintersTogether_data();
    void theSchedulersWordAndThePrintersTogether();
    void aBusyNetworkPrinterMayStaySilent();
    void lineAndFilePrintersAreAskedOnlyWhileIdle_data();
    void lineAndFilePrintersAreAskedOnlyWhileIdle();
    void faultsAreAnsweredWithinTheBound_data();
    void faultsAreAnsweredWithinTheBound();
    void onlyPrintersOfTheSeriesAreAsked_data();
    void onlyPrintersOfTheSeriesAreAsked();
    void theDefaultDestinationFollowsTheSameRules();
    void noDescriptorOutlivesTheCall();
    void everyDescriptorIsCloseOnExec_data();
    void everyDescriptorIsCloseOnExec();

private:
    StatusWord statusOf(const QString &queue, qint64 *tookMs = nullptr);
    // The template with {socket} replaced by the simulator's status port URI, {pty} by its
    // terminal, {closed port} by a port nobody listens on, {file} by a file that is no device.
    QString deviceUri(QString uri) const;
    // The library remembers a printer that timed out for a few seconds. Its simulator is kept
    // running to the end, so that no later test's simulator gets the same port or terminal.
    void keepUntilTheEnd() { m_silenced.push_back(std::move(m_printer)); }

    std::unique_ptr<StatusLibrary> m_library;
    std::unique_ptr<PrinterSim> m_printer;
    std::vector<std::unique_ptr<PrinterSim>> m_silenced;
};

void TestLiveStatus::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
    m_library = std::make_unique<StatusLibrary>(QStringList{QStringLiteral(QVLMSTAT_PATH)});
}

void TestLiveStatus::init()
{
    qunsetenv("LPDEST");
    qunsetenv("PRINTER");
    QVERIFY(PrivateCups::removeEverything());
    m_printer = std::make_unique<PrinterSim>();
    QVERIFY(m_printer->start());
}

void TestLiveStatus::cleanup()
{
    m_printer.reset();
    qunsetenv("LPDEST");
}

void TestLiveStatus::cleanupTestCase()
{
    m_silenced.clear();
}

StatusWord TestLiveStatus::statusOf(const QString &queue, qint64 *tookMs)
{
    QElapsedTimer timer;
    timer.start();
    const StatusWord word = m_library->GetPrinterStatus(queue);
    if (tookMs)
        *tookMs = timer.elapsed();
    return word;
}

QString TestLiveStatus::deviceUri(QString uri) const
{
    if (uri.contains(u"{closed port}"_s)) {
        // One that was free a moment ago.
        const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr *>(&address), size) == 0)
            ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &size);
        ::close(probe);
        uri.replace(u"{closed port}"_s, QString::number(ntohs(address.sin_port)));
    }
    return uri.replace(u"{socket}"_s, m_printer->socketUri())
        .replace(u"{pty}"_s, m_printer->pty())
        .replace(u"{file}"_s, PrivateCups::folder() + u"/cups-files.conf"_s);
}

void TestLiveStatus::answersMakeTheWord_data()
{
    QTest::addColumn<QList<int>>("answers"); // to DLE EOT 1, 2, 3 and 4
    QTest::addColumn<int>("word");

    QTest::newRow("all clear") << AllClear << 0x0000;
    QTest::newRow("offline, no cause shown") << QList{0x1A, 0x12, 0x12, 0x12} << PrinterError;
    QTest::newRow("offline, cover open") << QList{0x1A, 0x16, 0x12, 0x12} << HeadUp;
    QTest::newRow("offline, paper fed by the button")
        << QList{0x1A, 0x1A, 0x12, 0x12} << PrinterBusy;
    QTest::newRow("offline, stopped by paper end") << QList{0x1A, 0x32, 0x12, 0x12} << PaperOut;
    QTest::newRow("cover open") << CoverOpen << HeadUp;
    QTest::newRow("paper fed by the button") << QList{0x12, 0x1A, 0x12, 0x12} << PrinterBusy;
    QTest::newRow("stopped by paper end") << QList{0x12, 0x32, 0x12, 0x12} << PaperOut;
    QTest::newRow("error, no cause shown") << QList{0x12, 0x52, 0x12, 0x12} << PrinterError;
    // Offline with an error as its cause, and the cutter as the error's: no Printer Error.
    QTest::newRow("offline by an autocutter error") << QList{0x1A, 0x52, 0x1A, 0x12} << CutterError;
    QTest::newRow("error, the autocutter") << QList{0x12, 0x52, 0x1A, 0x12} << CutterError;
    QTest::newRow("error, head temperature") << QList{0x12, 0x52, 0x52, 0x12} << OverTemp;
    QTest::newRow("recoverable error") << QList{0x12, 0x12, 0x16, 0x12} << PrinterError;
    QTest::newRow("unrecoverable error") << QList{0x12, 0x12, 0x32, 0x12} << PrinterError;
    QTest::newRow("autocutter and unrecoverable")
        << QList{0x12, 0x52, 0x3A, 0x12} << (CutterError | PrinterError);
    QTest::newRow("paper near end, bit 2") << QList{0x12, 0x12, 0x12, 0x16} << PaperLow;
    QTest::newRow("paper near end, bit 3") << QList{0x12, 0x12, 0x12, 0x1A} << PaperLow;
    QTest::newRow("paper end, bit 5") << QList{0x12, 0x12, 0x12, 0x32} << PaperOut;
    QTest::newRow("paper end, bit 6") << QList{0x12, 0x12, 0x12, 0x52} << PaperOut;
    QTest::newRow("paper near end and end")
        << QList{0x12, 0x12, 0x12, 0x7E} << (PaperLow | PaperOut);
    QTest::newRow("bits of the printer byte that mean nothing")
        << QList{0x76, 0x12, 0x12, 0x12} << 0x0000;
    QTest::newRow("everything at once")
        << QList{0x1A, 0x7E, 0x7E, 0x7E}
        << (HeadUp | PrinterBusy | PaperOut | PrinterError | CutterError | OverTemp | PaperLow);
    // No answer at all for one request: the state is unknown, the valid answers still count.
    QTest::newRow("an answer with bit 0 set") << QList{0x12, 0x12, 0x13, 0x12} << PrinterError;
    QTest::newRow("an answer with bit 7 set") << QList{0x12, 0x12, 0x12, 0x92} << PrinterError;
    QTest::newRow("an answer with bit 1 clear") << QList{0x10, 0x12, 0x12, 0x12} << PrinterError;
    QTest::newRow("an answer with bit 4 clear") << QList{0x12, 0x02, 0x12, 0x12} << PrinterError;
    QTest::newRow("paper end, the printer byte invalid")
        << QList{0x00, 0x12, 0x12, 0x32} << (PaperOut | PrinterError);
    QTest::newRow("cover open, the roll paper byte invalid")
        << QList{0x12, 0x16, 0x12, 0xFF} << (HeadUp | PrinterError);
}

// Every row also checks that the printer received exactly the four requests.
void TestLiveStatus::answersMakeTheWord()
{
    QFETCH(QList<int>, answers);
    QFETCH(int, word);
    QVERIFY(PrivateCups::addQueue(u"QVT-Front"_s, m_printer->socketUri()));
    QVERIFY(m_printer->answer(answers));
    QVERIFY(m_printer->run(u"reset"_s));
    QCOMPARE(statusOf(u"QVT-Front"_s), word);
    QCOMPARE(m_printer->received(), PrinterSim::oneQuery());
    QCOMPARE(m_printer->connections(), 1);
}

void TestLiveStatus::theSchedulersWordAndThePrintersTogether_data()
{
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("word");

    QTest::newRow("a jam and an open cover")
        << QStringList{u"media-jam-error"_s} << false << CoverOpen << (DeliveryJam | HeadUp);
    QTest::newRow("a vendor reason and paper near end")
        << QStringList{u"com.quorvel-receipt-taken-report"_s} << false
        << QList{0x12, 0x12, 0x12, 0x1E} << (ReceiptTaken | PaperLow);
    QTest::newRow("the same bit from both") << QStringList{u"media-low-warning"_s} << false
                                            << QList{0x12, 0x12, 0x12, 0x16} << PaperLow;
    QTest::newRow("a stopped queue, asked all the same")
        << QStringList() << true << QList{0x12, 0x12, 0x12, 0x32} << (PrinterError | PaperOut);
    QTest::newRow("a stopped queue, one answer invalid: the others still count")
        << QStringList() << true << QList{0x13, 0x12, 0x12, 0x32} << (PrinterError | PaperOut);
    QTest::newRow("reasons of the scheduler, the printer all clear")
        << QStringList{u"cover-open"_s, u"com.quorvel-cutter-home"_s} << false << AllClear
        << (HeadUp | 0x0008);
}

void TestLiveStatus::theSchedulersWordAndThePrintersTogether()
{
    QFETCH(QStringList, reasons);
    QFETCH(bool, stopped);
    QFETCH(QList<int>, answers);
    QFETCH(int, word);
    QVERIFY(PrivateCups::addQueue(u"QVT-Front"_s, m_printer->socketUri()));
    QVERIFY(PrivateCups::setReasons(u"QVT-Front"_s, reasons));
    if (stopped)
        QVERIFY(PrivateCups::stopQueue(u"QVT-Front"_s));
    QVERIFY(m_printer->answer(answers));
    QCOMPARE(statusOf(u"QVT-Front"_s), word);
    QCOMPARE(m_printer->connections(), 1);
}

// A network printer is asked while its queue prints; one that does not answer then is busy with
// the job, and the scheduler's Printer Busy stands alone.
void TestLiveStatus::aBusyNetworkPrinterMayStaySilent()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-Front"_s, m_printer->socketUri()));
    QVERIFY(PrivateCups::holdJob(u"QVT-Front"_s));
    QVERIFY(m_printer->answer(CoverOpen));
    QCOMPARE(statusOf(u"QVT-Front"_s), PrinterBusy | HeadUp);

    QVERIFY(m_printer->run(u"fault close"_s));
    QCOMPARE(statusOf(u"QVT-Front"_s), PrinterBusy);
    QVERIFY(m_printer->run(u"fault invalid"_s));
    QCOMPARE(statusOf(u"QVT-Front"_s), PrinterBusy);
    QVERIFY(m_printer->run(u"fault silent"_s));
    qint64 took = 0;
    QCOMPARE(statusOf(u"QVT-Front"_s, &took), PrinterBusy);
    QVERIFY2(took < CallBoundMs, qPrintable(u"%1 ms"_s.arg(took)));
    // Found silent: not waited on again for a while, with the same answer.
    QCOMPARE(statusOf(u"QVT-Front"_s, &took), PrinterBusy);
    QVERIFY2(took < CallBoundMs / 2, qPrintable(u"%1 ms"_s.arg(took)));
    keepUntilTheEnd();
}

void TestLiveStatus::lineAndFilePrintersAreAskedOnlyWhileIdle_data()
{
    QTest::addColumn<QString>("uri"); // see deviceUri()
    // A job to a file: queue is the scheduler's own to write into the device; it is not held.
    QTest::addColumn<bool>("canHoldAJob");
    QTest::newRow("serial") << u"serial:{pty}?baud=115200+bits=8+parity=none+flow=none"_s << true;
    QTest::newRow("serial, seven bits, even parity, soft flow control")
        << u"serial:{pty}?baud=9600+bits=7+parity=even+flow=soft"_s << true;
    QTest::newRow("serial, hardware flow control")
        << u"serial:{pty}?baud=19200+flow=hard"_s << true;
    QTest::newRow("parallel port") << u"parallel:{pty}"_s << true;
    QTest::newRow("device file") << u"file://{pty}"_s << false;
    QTest::newRow("device file, one slash") << u"file:{pty}"_s << false;
}

// A serial line or device file carries the jobs too: no request may land inside one.
void TestLiveStatus::lineAndFilePrintersAreAskedOnlyWhileIdle()
{
    QFETCH(QString, uri);
    QFETCH(bool, canHoldAJob);
    QVERIFY(PrivateCups::addQueue(u"QVT-Line"_s, deviceUri(uri)));
    QVERIFY(PrivateCups::setReasons(u"QVT-Line"_s, {u"media-jam"_s}));
    QVERIFY(m_printer->answer({0x12, 0x12, 0x12, 0x16}));
    QCOMPARE(statusOf(u"QVT-Line"_s), DeliveryJam | PaperLow);
    QCOMPARE(m_printer->received(), PrinterSim::oneQuery());
    // Asked again, nothing left over from the first time.
    QVERIFY(m_printer->run(u"reset"_s));
    QCOMPARE(statusOf(u"QVT-Line"_s), DeliveryJam | PaperLow);
    QCOMPARE(m_printer->received(), PrinterSim::oneQuery());

    QVERIFY(m_printer->run(u"reset"_s));
    QVERIFY(PrivateCups::stopQueue(u"QVT-Line"_s));
    QCOMPARE(statusOf(u"QVT-Line"_s), DeliveryJam | PrinterError);
    if (canHoldAJob) {
        QVERIFY(PrivateCups::run(u"cupsenable"_s, {u"QVT-Line"_s}));
        QVERIFY(PrivateCups::holdJob(u"QVT-Line"_s));
        QCOMPARE(statusOf(u"QVT-Line"_s), DeliveryJam | PrinterBusy);
    }
    QCOMPARE(m_printer->received(), QByteArray());
}

void TestLiveStatus::faultsAreAnsweredWithinTheBound_data()
{
    QTest::addColumn<QString>("uri"); // see deviceUri()
    QTest::addColumn<QString>("fault");
    // See deviceUri(), and {port} the simulator's; "|" parts alternatives that depend on timing.
    QTest::addColumn<QString>("reason");

    const QString silent = u"{device} did not answer the first status request within 800 ms"_s;
    const QString invalid = u"{device} gave no valid answer to the first status request (0x93)"_s;
    const QString trickling = u"{device} gave no valid answer to the first status request (0xFF)"_s;
    QTest::newRow("network, silent") << u"{socket}"_s << u"silent"_s << silent;
    QTest::newRow("network, invalid bytes") << u"{socket}"_s << u"invalid"_s << invalid;
    QTest::newRow("network, trickling bytes") << u"{socket}"_s << u"trickle"_s << trickling;
    QTest::newRow("network, closed at once")
        << u"{socket}"_s << u"close"_s
        << u"{device} closed the connection|{device} closed the connection before answering the "
           "first status request"_s;
    QTest::newRow("network, refused")
        << u"socket://127.0.0.1:{closed port}"_s << u"none"_s
        << u"{device} refused the connection or could not be reached"_s;
    QTest::newRow("serial, silent") << u"serial:{pty}?baud=9600"_s << u"silent"_s << silent;
    QTest::newRow("serial, invalid bytes")
        << u"serial:{pty}?baud=9600"_s << u"invalid"_s << invalid;
    QTest::newRow("serial, trickling bytes")
        << u"serial:{pty}?baud=9600"_s << u"trickle"_s << trickling;
    QTest::newRow("serial, no such device")
        << u"serial:/dev/ravelin-no-such-tty?baud=9600"_s << u"none"_s
        << u"{device}: no such file or directory"_s;
    QTest::newRow("serial, a baud rate no line runs at")
        << u"serial:{pty}?baud=12345"_s << u"none"_s << u"its device URI cannot be read"_s;
    QTest::newRow("serial, a file that is no device")
        << u"serial:{file}?baud=9600"_s << u"none"_s
        << u"{device} is no serial line (not a character device)"_s;
    QTest::newRow("device file, silent") << u"file:{pty}"_s << u"silent"_s << silent;
    QTest::newRow("device file, no such device")
        << u"file:/dev/usb/ravelin-no-such-lp"_s << u"none"_s
        << u"{device}: no such file or directory"_s;
}

// Each fault costs at most the call's bound and reads as Printer Error: the printer's state is
// unknown, and all clear would be a lie. The reason says what happened.
void TestLiveStatus::faultsAreAnsweredWithinTheBound()
{
    QFETCH(QString, uri);
    QFETCH(QString, fault);
    QFETCH(QString, reason);

    const QString device = deviceUri(uri);
    QVERIFY(PrivateCups::addQueue(u"QVT-Faulty"_s, device));
    QVERIFY(m_printer->run(u"fault "_s + fault));
    qint64 took = 0;
    QCOMPARE(statusOf(u"QVT-Faulty"_s, &took), PrinterError);
    QVERIFY2(took < CallBoundMs, qPrintable(u"%1 ms"_s.arg(took)));
    const QByteArray received = m_printer->received();
    QVERIFY2(PrinterSim::oneQuery().startsWith(received), received.constData());
    // The device as a person names it: the address, or the path.
    const QString named = device.startsWith(u"socket://"_s)
                              ? device.mid(9)
                              : device.section(u':', 1).section(u'?', 0, 0);
    QStringList reasons;
    for (QString alternative : reason.split(u'|'))
        reasons << u"QVT-Faulty: "_s + alternative.replace(u"{device}"_s, named);
    const QString given = QString::fromUtf8(lastStatusReason(QVLMSTAT_PATH));
    QVERIFY2(reasons.contains(given), qPrintable(given));
    keepUntilTheEnd();
}

void TestLiveStatus::onlyPrintersOfTheSeriesAreAsked_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("calledAs");
    QTest::addColumn<QString>("makeAndModel"); // empty: a raw queue
    QTest::addColumn<bool>("asked");

    QTest::newRow("QVT first") << u"QVT-Front"_s << u"QVT-Front"_s << QString() << true;
    QTest::newRow("QVT inside") << u"Front_QVT_7460"_s << u"Front_QVT_7460"_s << QString() << true;
    QTest::newRow("QVT in the scheduler's spelling only")
        << u"QVT-Front"_s << u"qvt-front"_s << QString() << true;
    QTest::newRow("QVT in the caller's spelling only")
        << u"laser-qvt"_s << u"LASER-QVT"_s << QString() << false;
    QTest::newRow("qvt in lower case") << u"qvt-front"_s << u"qvt-front"_s << QString() << false;
    QTest::newRow("another printer")
        << u"Office-Laser"_s << u"Office-Laser"_s << QString() << false;
    QTest::newRow("QVT in the make and model")
        << u"Kitchen"_s << u"Kitchen"_s << u"Quorvel QVT-7460"_s << true;
    QTest::newRow("qvt in the make and model in lower case")
        << u"Kitchen"_s << u"Kitchen"_s << u"Quorvel qvt-7460"_s << false;
    QTest::newRow("another make and model")
        << u"Office-Laser"_s << u"Office-Laser"_s << u"Laser Printer 9100"_s << false;
}

// A printer of another kind on a raw port would print the requests as a page: it is never sent
// a byte, nor even connected to.
void TestLiveStatus::onlyPrintersOfTheSeriesAreAsked()
{
    QFETCH(QString, queue);
    QFETCH(QString, calledAs);
    QFETCH(QString, makeAndModel);
    QFETCH(bool, asked);
    QVERIFY(makeAndModel.isEmpty()
                ? PrivateCups::addQueue(queue, m_printer->socketUri())
                : PrivateCups::addQueueWithModel(queue, m_printer->socketUri(), makeAndModel));
    QVERIFY(m_printer->answer(CoverOpen));
    QCOMPARE(statusOf(calledAs), asked ? HeadUp : 0x0000);
    QCOMPARE(m_printer->connections(), asked ? 1 : 0);
    QCOMPARE(m_printer->received(), asked ? PrinterSim::oneQuery() : QByteArray());
}

void TestLiveStatus::theDefaultDestinationFollowsTheSameRules()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-Front"_s, m_printer->socketUri()));
    QVERIFY(PrivateCups::addQueue(u"Office-Laser"_s, m_printer->socketUri()));
    QVERIFY(m_printer->answer(CoverOpen));
    QVERIFY(PrivateCups::setServerDefault(u"QVT-Front"_s));
    QCOMPARE(m_library->GetLMStatus(), HeadUp);
    qputenv("LPDEST", "Office-Laser");
    QCOMPARE(m_library->GetLMStatus(), 0x0000);
    QCOMPARE(m_printer->connections(), 1);
}

// Each call's connections and devices are its own and closed before it returns, whatever the
// printer did.
void TestLiveStatus::noDescriptorOutlivesTheCall()
{
    QVERIFY(PrivateCups::addQueue(u"QVT-Net"_s, m_printer->socketUri()));
    QVERIFY(PrivateCups::addQueue(u"QVT-Serial"_s, u"serial:%1?baud=9600"_s.arg(m_printer->pty())));
    QVERIFY(PrivateCups::addQueue(u"QVT-File"_s, u"file:%1"_s.arg(m_printer->pty())));
    QVERIFY(PrivateCups::addQueue(u"QVT-Missing"_s, u"file:/dev/ravelin-no-such-lp"_s));
    QCOMPARE(statusOf(u"QVT-Net"_s), 0x0000); // loads the library

    const QSet<int> before = openDescriptors();
    // (No fault that leaves a call waiting: the library would not ask again for a while.)
    for (const QString &fault : {u"none"_s, u"invalid"_s, u"trickle"_s}) {
        QVERIFY(m_printer->run(u"fault "_s + fault));
        for (int i = 0; i < 20; ++i) {
            for (const QString &queue :
                 {u"QVT-Net"_s, u"QVT-Serial"_s, u"QVT-File"_s, u"QVT-Missing"_s}) {
                const StatusWord word = statusOf(queue);
                const StatusWord expected =
                    fault == u"none"_s && queue != u"QVT-Missing"_s ? 0x0000 : PrinterError;
                if (word != expected)
                    QFAIL(qPrintable(u"%1 with fault %2: 0x%3"_s.arg(queue, fault)
                                         .arg(word, 4, 16, QChar(u'0'))));
            }
        }
    }
    QCOMPARE(openDescriptors(), before);
}

void TestLiveStatus::everyDescriptorIsCloseOnExec_data()
{
    QTest::addColumn<QString>("uri"); // see deviceUri()
    QTest::newRow("network") << u"{socket}"_s;
    QTest::newRow("serial") << u"serial:{pty}?baud=9600"_s;
    QTest::newRow("device file") << u"file:{pty}"_s;
}

// A program that starts another while a call waits on a silent printer must not hand it the
// call's descriptors.
void TestLiveStatus::everyDescriptorIsCloseOnExec()
{
    QFETCH(QString, uri);
    QVERIFY(PrivateCups::addQueue(u"QVT-Silent"_s, deviceUri(uri)));
    QCOMPARE(statusOf(u"QVT-Silent"_s), 0x0000); // loads the library
    QVERIFY(m_printer->run(u"reset"_s));
    QVERIFY(m_printer->run(u"fault silent"_s));

    const QSet<int> before = openDescriptors();
    std::thread call([this] { statusOf(u"QVT-Silent"_s); });
    // The call waits for the first answer once the first request has arrived.
    QTRY_COMPARE_WITH_TIMEOUT(m_printer->received(), "10 04 01"_ba, 5000);
    QList<int> inherited;
    const QSet<int> during = openDescriptors() - before;
    for (const int fd : during) {
        // (One that the call has closed meanwhile has nothing to hand on.)
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            inherited.append(fd);
    }
    call.join();
    QVERIFY(!during.isEmpty());
    QCOMPARE(inherited, QList<int>());
    keepUntilTheEnd();
}

QTEST_GUILESS_MAIN(TestLiveStatus)
#include "tst_livestatus.moc"
