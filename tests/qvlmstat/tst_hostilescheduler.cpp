// SPDX-License-Identifier: MIT
// What the stand-in makes of a scheduler's answer, proper or hostile, sent whole by a fake
// scheduler: the word (Printer Error alone for anything it cannot trust), the reason it gives,
// and that the call stays within its second however large or strange the answer.

#include "fakescheduler.h"
#include "scheduler.h"
#include "statusservice.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using namespace ravelin::qvlmstat;

namespace {

// One IPP attribute value, encoded by hand: libcups would not write the floods below in time,
// nor the malformed pieces at all.
QByteArray entry(char tag, const QByteArray &name, const QByteArray &value = {})
{
    const auto length = [](qsizetype size) {
        return QByteArray(1, char(size >> 8)) + QByteArray(1, char(size & 0xff));
    };
    return QByteArray(1, tag) + length(name.size()) + name + length(value.size()) + value;
}

// A successful answer: the header, the operation group, then body's entries, then the end.
QByteArray ippAnswer(const QByteArray &body)
{
    return QByteArray::fromHex("0200000000000001") + '\x01' +
           entry('\x47', "attributes-charset", "utf-8") +
           entry('\x48', "attributes-natural-language", "en") + '\x04' + body + '\x03';
}

// The proper answer about a queue of the series with paper low (0x0010), changed by edit.
QByteArray answerChangedBy(const std::function<void(ipp_t *)> &edit)
{
    FakeScheduler::Printer printer;
    printer.reason = "media-low";
    ipp_t *message = FakeScheduler::newAnswer(printer);
    edit(message);
    const QByteArray bytes = FakeScheduler::bytesOf(message);
    ippDelete(message);
    return bytes;
}

void remove(ipp_t *message, const char *name)
{
    ippDeleteAttribute(message, ippFindAttribute(message, name, IPP_TAG_ZERO));
}

QByteArray properAnswer()
{
    return answerChangedBy([](ipp_t *) {});
}

QByteArray http(const QByteArray &head, const QByteArray &body)
{
    return "HTTP/1.1 " + head + "\r\n\r\n" + body;
}

} // namespace

class TestHostileScheduler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void answers_data();
    void answers();

private:
    QTemporaryDir m_dir{u"/tmp/rvtest.XXXXXX"_s};
};

void TestHostileScheduler::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Away from the machine's and the user's CUPS configuration.
    qputenv("CUPS_SERVERROOT", QFile::encodeName(m_dir.path()));
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qunsetenv("CUPS_ENCRYPTION");
}

void TestHostileScheduler::answers_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("encryptionForbidden"); // the client's Encryption Never
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("why"); // part of the reason; empty: no reason

    const int error = PrinterErrorBit;
    const auto hostile = [error](const char *name, const QByteArray &response, const QString &why,
                                 bool encryptionForbidden = false) {
        QTest::newRow(name) << response << encryptionForbidden << error << why;
    };
    const QByteArray ok = "200 OK\r\nContent-Type: application/ipp";
    const QByteArray proper = properAnswer();

    // Framings the scheduler may choose.
    QTest::newRow("content length")
        << FakeScheduler::httpResponse(proper) << false << 0x0010 << QString();
    QTest::newRow("chunked, with an extension and trailers")
        << http(ok + "\r\nTransfer-Encoding: chunked",
                "a;name=x\r\n" + proper.left(10) + "\r\n" +
                    QByteArray::number(proper.size() - 10, 16) + "\r\n" + proper.mid(10) +
                    "\r\n0\r\nTrailer: x\r\n\r\n")
        << false << 0x0010 << QString();
    QTest::newRow("until the stream ends")
        << "HTTP/1.0 200 OK\r\nContent-Type: application/ipp\r\n\r\n" + proper << false << 0x0010
        << QString();
    QTest::newRow("an interim response first")
        << "HTTP/1.1 100 Continue\r\n\r\n" + FakeScheduler::httpResponse(proper) << false << 0x0010
        << QString();

    // Too much to read.
    QByteArray flood;
    for (int i = 0; i < 130000; ++i)
        flood += entry('\x44', QByteArray::number(i, 36));
    hostile("1 MB of 130,000 distinct names", FakeScheduler::httpResponse(ippAnswer(flood)),
            u"sent an answer larger than 64 KiB"_s);
    hostile("a length beyond the cap, and little sent",
            http(ok + "\r\nContent-Length: 10000000", proper), u"larger than 64 KiB"_s);
    hostile("short names flooding within the size",
            FakeScheduler::httpResponse(ippAnswer(flood.left(40000))),
            u"more than 1024 attribute values"_s);
    hostile("group tags flooding within the size",
            FakeScheduler::httpResponse(ippAnswer(QByteArray(40000, '\x04'))),
            u"more than 1024 attribute values"_s);
    QByteArray nested = entry('\x34', "media-col");
    for (int depth = 0; depth < 20; ++depth)
        nested += entry('\x4a', {}, "member") + entry('\x34', {});
    hostile("collections nested 20 deep", FakeScheduler::httpResponse(ippAnswer(nested)),
            u"nested more than 8 deep"_s);

    // Answers that say nothing usable about the state.
    hostile("no printer-state", FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
                remove(message, "printer-state");
            })),
            u"answered without a printer-state"_s);
    hostile("printer-state as an integer",
            FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
                remove(message, "printer-state");
                ippAddInteger(message, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-state", 3);
            })),
            u"printer-state as integer, not enum"_s);
    hostile("printer-state with no state's value",
            FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
                ipp_attribute_t *state = ippFindAttribute(message, "printer-state", IPP_TAG_ENUM);
                ippSetInteger(message, &state, 0, 9);
            })),
            u"a printer-state that is no state"_s);
    hostile("printer-state with two values",
            FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
                ipp_attribute_t *state = ippFindAttribute(message, "printer-state", IPP_TAG_ENUM);
                ippSetInteger(message, &state, 1, 5);
            })),
            u"a printer-state that is no state"_s);
    hostile("no printer-state-reasons",
            FakeScheduler::httpResponse(
                answerChangedBy([](ipp_t *message) { remove(message, "printer-state-reasons"); })),
            u"answered without printer-state-reasons"_s);
    hostile("printer-state-reasons as integers",
            FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
                remove(message, "printer-state-reasons");
                ippAddInteger(message, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-state-reasons",
                              16);
            })),
            u"printer-state-reasons as integer, not keyword"_s);
    hostile("device-uri as an integer",
            FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
                remove(message, "device-uri");
                ippAddInteger(message, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "device-uri", 9100);
            })),
            u"device-uri as integer, not uri"_s);
    QTest::newRow("make and model without a value")
        << FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
               ippAddOutOfBand(message, IPP_TAG_PRINTER, IPP_TAG_NOVALUE, "printer-make-and-model");
           }))
        << false << 0x0010 << QString();
    hostile("an unknown queue", FakeScheduler::httpResponse(answerChangedBy([](ipp_t *message) {
                ippSetStatusCode(message, IPP_STATUS_ERROR_NOT_FOUND);
            })),
            u"knows no queue QVT-Fake"_s);
    hostile("not IPP", http(ok + "\r\nContent-Length: 13", "<html></html>"),
            u"sent an answer that is no IPP message"_s);
    hostile("compressed",
            http(ok + "\r\nContent-Encoding: gzip\r\nContent-Length: 3", "\x1f\x8b\x08"),
            u"no IPP message"_s);

    // HTTP that is no answer.
    hostile("a status line of the version alone", "HTTP/1.1\r\n\r\n", u"sent no valid answer"_s);
    hostile("the stream ends inside the body",
            http(ok + "\r\nContent-Length: " + QByteArray::number(proper.size() + 10), proper),
            u"sent no valid answer"_s);
    hostile("chunk size not a number",
            http(ok + "\r\nTransfer-Encoding: chunked", "zz\r\nhello\r\n0\r\n\r\n"),
            u"sent no valid answer"_s);
    hostile("nothing at all", {}, u"closed the connection without an answer"_s);
    hostile("a login demanded",
            http("401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"CUPS\"\r\n"
                 "Content-Length: 0",
                 {}),
            u"demands a login"_s);
    hostile("forbidden", http("403 Forbidden\r\nContent-Length: 0", {}),
            u"answered with HTTP status 403"_s);
    // The second try speaks TLS, which this scheduler does not.
    hostile("TLS required",
            http("426 Upgrade Required\r\nUpgrade: TLS/1.2\r\nContent-Length: 0", {}),
            u"TLS with the scheduler at "_s);
    hostile("TLS required, and forbidden by the client's configuration",
            http("426 Upgrade Required\r\nUpgrade: TLS/1.2\r\nContent-Length: 0", {}),
            u"demands encryption, which the client configuration forbids"_s, true);
}

void TestHostileScheduler::answers()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, encryptionForbidden);
    QFETCH(int, word);
    QFETCH(QString, why);

    const QString socket = m_dir.filePath(u"scheduler.sock"_s);
    FakeScheduler scheduler(socket, FakeScheduler::Behaviour::Raw);
    QVERIFY(scheduler.isListening());
    scheduler.setResponse(response);
    cupsSetServer(QFile::encodeName(socket).constData());
    cupsSetEncryption(encryptionForbidden ? HTTP_ENCRYPTION_NEVER : HTTP_ENCRYPTION_IF_REQUESTED);

    StatusService service(&std::chrono::steady_clock::now);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(service.printerStatus("QVT-Fake").word, word);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(u"%1 ms"_s.arg(timer.elapsed())));

    const QueueReport report = askScheduler(SchedulerAddress::configured(), "QVT-Fake",
                                            Deadline(StatusService::CallBudget), &::getaddrinfo);
    if (why.isEmpty()) {
        QVERIFY(report.found);
        QCOMPARE(QString::fromStdString(report.why), QString());
    } else {
        QVERIFY(!report.found);
        QVERIFY2(QString::fromStdString(report.why).contains(why), report.why.c_str());
        QVERIFY2(report.why.starts_with("the scheduler at " + socket.toStdString()) ||
                     report.why.starts_with("TLS with the scheduler at " + socket.toStdString()),
                 report.why.c_str());
    }
}

QTEST_GUILESS_MAIN(TestHostileScheduler)
#include "tst_hostilescheduler.moc"
