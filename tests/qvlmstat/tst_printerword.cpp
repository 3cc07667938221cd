// SPDX-License-Identifier: MIT
// How the library and the monitor make a queue's word from the scheduler's report and the
// printer's reading, and the reason they give for Printer Error.

#include "printerword.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace ravelin::qvlmstat;

namespace {

// A reading's answers: -1 where none was valid.
DeviceAnswers answersOf(const QList<int> &bytes)
{
    DeviceAnswers answers{};
    for (qsizetype n = 0; n < 4 && n < bytes.size(); ++n) {
        if (bytes[n] >= 0)
            answers[size_t(n)] = std::uint8_t(bytes[n]);
    }
    return answers;
}

const QList<int> AllClear = {0x12, 0x12, 0x12, 0x12};
constexpr int Idle = 3, Printing = 4, Stopped = 5;
// A state that stands for a scheduler that did not answer.
constexpr int NoAnswer = -1;

} // namespace

class TestPrinterWord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void words_data();
    void words();
};

void TestPrinterWord::words_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<QList<int>>("answers"); // empty: not asked (found silent a moment ago)
    QTest::addColumn<QString>("why");        // the reading's, the silence's or the scheduler's
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("reason");

    const QString net = u"socket://127.0.0.1:9100"_s;
    const QString silent =
        u"127.0.0.1:9100 did not answer the first status request within 800 ms"_s;
    QTest::newRow("all clear") << net << Idle << QStringList() << AllClear << QString() << 0
                               << QString();
    QTest::newRow("a stopped queue") << net << Stopped << QStringList() << AllClear << QString()
                                     << 0x80 << u"QVT-Front: the queue is stopped"_s;
    QTest::newRow("the scheduler reports the error's keyword")
        << net << Idle << QStringList{u"com.quorvel-printer-error-error"_s} << AllClear << QString()
        << 0x80 << u"QVT-Front: the scheduler reports com.quorvel-printer-error-error"_s;
    QTest::newRow("the printer offline, no cause")
        << net << Idle << QStringList() << QList{0x1A, 0x12, 0x12, 0x12} << QString() << 0x80
        << u"QVT-Front: 127.0.0.1:9100 is offline"_s;
    QTest::newRow("an unrecoverable error")
        << net << Idle << QStringList() << QList{0x12, 0x12, 0x32, 0x12} << QString() << 0x80
        << u"QVT-Front: 127.0.0.1:9100 reports an unrecoverable error"_s;
    QTest::newRow("an error with no cause shown")
        << net << Idle << QStringList() << QList{0x12, 0x52, 0x12, 0x12} << QString() << 0x80
        << u"QVT-Front: 127.0.0.1:9100 reports an error"_s;
    QTest::newRow("an invalid answer: the reading says why")
        << net << Idle << QStringList() << QList{0x12, 0x12, -1, 0x12}
        << u"127.0.0.1:9100 gave no valid answer to the third status request (0x13)"_s << 0x80
        << u"QVT-Front: 127.0.0.1:9100 gave no valid answer to the third status request (0x13)"_s;
    QTest::newRow("found silent a moment ago") << net << Idle << QStringList() << QList<int>()
                                               << silent << 0x80 << u"QVT-Front: "_s + silent;
    QTest::newRow("stopped, and found silent")
        << net << Stopped << QStringList() << QList<int>() << silent << 0x80
        << u"QVT-Front: the queue is stopped; "_s + silent;
    QTest::newRow("silent while printing: busy with the job")
        << net << Printing << QStringList() << QList<int>() << silent << 0x0800 << QString();
    QTest::newRow("no valid answer while printing")
        << net << Printing << QStringList() << QList{-1, -1, -1, -1} << silent << 0x0800
        << QString();
    QTest::newRow("a serial line while printing: not asked")
        << u"serial:/dev/ttyS0?baud=9600"_s << Printing << QStringList() << QList<int>()
        << QString() << 0x0800 << QString();
    QTest::newRow("a device URI that cannot be read")
        << u"socket://127.0.0.1:99999"_s << Idle << QStringList() << QList<int>() << QString()
        << 0x80 << u"QVT-Front: its device URI cannot be read"_s;
    QTest::newRow("a printer that is never asked")
        << u"ipp://192.0.2.1/ipp/print"_s << Idle << QStringList{u"media-low"_s} << QList<int>()
        << QString() << 0x10 << QString();
    QTest::newRow("the scheduler did not answer")
        << net << NoAnswer << QStringList() << QList<int>()
        << u"the scheduler at /run/cups/cups.sock did not answer within 800 ms"_s << 0x80
        << u"QVT-Front: the scheduler at /run/cups/cups.sock did not answer within 800 ms"_s;
}

void TestPrinterWord::words()
{
    QFETCH(QString, uri);
    QFETCH(int, state);
    QFETCH(QStringList, reasons);
    QFETCH(QList<int>, answers);
    QFETCH(QString, why);
    QFETCH(int, word);
    QFETCH(QString, reason);

    QueueReport report;
    if (state == NoAnswer) {
        report.outcome = Outcome::TimedOut;
        report.why = why.toStdString();
    } else {
        report.outcome = Outcome::Done;
        report.found = true;
        report.state = state;
        report.name = "QVT-Front";
        report.deviceUri = uri.toStdString();
        for (const QString &keyword : reasons)
            report.reasons.push_back(keyword.toStdString());
    }
    const DevicePlan plan = devicePlan(report);
    DeviceReading reading;
    reading.outcome = Outcome::Done;
    reading.answers = answersOf(answers);
    reading.why = why.toStdString();
    const bool asked = plan.step == DevicePlan::Step::Ask && !answers.isEmpty();
    const ReasonedWord made = withDevice("QVT-Front", schedulerWord(report, "QVT-Front"), plan,
                                         asked ? &reading : nullptr, why.toStdString());
    QCOMPARE(made.word, word);
    QCOMPARE(QString::fromStdString(made.reason), reason);
}

QTEST_GUILESS_MAIN(TestPrinterWord)
#include "tst_printerword.moc"
