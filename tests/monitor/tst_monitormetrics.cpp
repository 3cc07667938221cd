// SPDX-License-Identifier: MIT
// The monitor's metrics as Prometheus gets them: ravelin-monitor over the printer simulator and
// the private scheduler that "scripts/private-cups run" starts, serving /metrics and writing the
// textfile. What the printer and the scheduler say becomes the word and its sixteen flags, the
// exposition passes promtool's linter, rises are counted, the textfile follows every round and
// is always whole, and options it cannot use stop it at start with the reason.

#include "httpget.h"
#include "monitorprocess.h"
#include "printersim.h"
#include "privatecups.h"
#include "promtool.h"
#include "series.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString Printer = u"QVT-7460-Metrics"_s;
const QString Model = u"Quorvel QVT-7460"_s;

QString series(const QString &metric, const QString &flag = {})
{
    return flag.isEmpty() ? u"%1{printer=\"%2\"}"_s.arg(metric, Printer)
                          : u"%1{printer=\"%2\",flag=\"%3\"}"_s.arg(metric, Printer, flag);
}

} // namespace

class TestMonitorMetrics : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void flagsFollowThePrinter_data();
    void flagsFollowThePrinter();
    void risesAreCounted();
    void textfileFollowsEveryRound();
    void refusedAtStart_data();
    void refusedAtStart();

private:
    QByteArray scrape();
    QMap<QString, QString> scraped() { return seriesOf(QString::fromUtf8(scrape())); }
    QByteArray textfile() const;
    // Sets the printer and its queue to a state, and waits until a scrape shows word.
    bool show(const QString &state, const QStringList &reasons, quint32 word);

    QTemporaryDir m_dir{u"/tmp/rvmet.XXXXXX"_s};
    std::unique_ptr<PrinterSim> m_printer;
    std::unique_ptr<MonitorProcess> m_monitor;
    quint16 m_port = 0;
};

void TestMonitorMetrics::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkdir(u"textfile"_s));
    m_printer = std::make_unique<PrinterSim>();
    QVERIFY(m_printer->start({u"--tcp"_s, u"0"_s}));
    QVERIFY(PrivateCups::addQueueWithModel(Printer, m_printer->socketUri(), Model));

    // Any free port: the monitor logs the one it got.
    m_monitor = std::make_unique<MonitorProcess>(m_dir.filePath(u"monitor.sock"_s));
    QVERIFY(m_monitor->start({u"--period"_s, u"100"_s, u"--metrics-listen"_s, u"127.0.0.1:0"_s,
                              u"--metrics-textfile"_s, m_dir.filePath(u"textfile"_s)}));
    static const QRegularExpression serving(
        u"^serving metrics at http://127.0.0.1:(\\d+)/metrics$"_s);
    for (const QString &line : m_monitor->log()) {
        if (const QRegularExpressionMatch match = serving.match(line); match.hasMatch())
            m_port = match.captured(1).toUShort();
    }
    QVERIFY2(m_port != 0, qPrintable(m_monitor->log().join(u'\n')));
}

// It ends cleanly on SIGTERM after serving scrapes, and leaves the textfile, alone, behind.
void TestMonitorMetrics::cleanupTestCase()
{
    if (!m_monitor)
        return;
    QVERIFY(m_monitor->stop());
    QCOMPARE(m_monitor->log().mid(m_monitor->log().size() - 2),
             QStringList({u"stopping on SIGTERM"_s, u"stopped"_s}));
    QCOMPARE(QDir(m_dir.filePath(u"textfile"_s))
                 .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{u"ravelin.prom"_s});
}

QByteArray TestMonitorMetrics::scrape()
{
    const HttpAnswer answer = httpGet(m_port, "/metrics");
    return answer.status == 200 ? QByteArray::fromStdString(answer.body) : QByteArray();
}

QByteArray TestMonitorMetrics::textfile() const
{
    QFile file(m_dir.filePath(u"textfile/ravelin.prom"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool TestMonitorMetrics::show(const QString &state, const QStringList &reasons, quint32 word)
{
    if (!m_printer->run(u"fault none"_s) || !m_printer->run(state) ||
        !PrivateCups::setReasons(Printer, reasons)) {
        return false;
    }
    const QString wordSeries = series(u"ravelin_printer_status_word"_s);
    const QDeadlineTimer deadline(15000);
    while (scraped().value(wordSeries) != QString::number(word)) {
        if (deadline.hasExpired()) {
            qWarning() << "the word did not become" << word << "but stayed"
                       << scraped().value(wordSeries);
            return false;
        }
        QTest::qWait(50);
    }
    return true;
}

void TestMonitorMetrics::flagsFollowThePrinter_data()
{
    QTest::addColumn<QString>("printer");     // a simulator command
    QTest::addColumn<QStringList>("reasons"); // the queue's printer-state-reasons
    QTest::addColumn<quint32>("word");
    QTest::addColumn<bool>("reachable");

    const QString clear = u"state clear"_s;
    QTest::newRow("all clear") << clear << QStringList() << 0x0000u << true;
    QTest::newRow("cover open") << u"state cover-open"_s << QStringList() << 0x0001u << true;
    QTest::newRow("roll paper end") << u"state paper-end"_s << QStringList() << 0x0002u << true;
    QTest::newRow("stopped by paper end")
        << u"state paper-end-stop"_s << QStringList() << 0x0002u << true;
    QTest::newRow("paper near its end")
        << u"state paper-near-end"_s << QStringList() << 0x0010u << true;
    QTest::newRow("paper fed by the button")
        << u"state feed-button"_s << QStringList() << 0x0800u << true;
    QTest::newRow("cutter error") << u"state cutter-error"_s << QStringList() << 0x1000u << true;
    QTest::newRow("head too hot") << u"state over-temp"_s << QStringList() << 0x0040u << true;
    QTest::newRow("offline, no cause shown")
        << u"state offline"_s << QStringList() << 0x0080u << true;
    QTest::newRow("offline with its cover open")
        << u"state offline cover-open"_s << QStringList() << 0x0001u << true;
    QTest::newRow("scheduler: jammed") << clear << QStringList{u"media-jam"_s} << 0x0100u << true;
    QTest::newRow("scheduler: a receipt taken, by its vendor keyword")
        << clear << QStringList{u"com.quorvel-receipt-taken-report"_s} << 0x0400u << true;
    QTest::newRow("printer and scheduler together")
        << u"state paper-near-end"_s << QStringList{u"cover-open"_s} << 0x0011u << true;
    QTest::newRow("answers that are no answers")
        << u"fault invalid"_s << QStringList() << 0x0080u << false;
    // Last: once found silent, a printer is asked again only five seconds later.
    QTest::newRow("silent") << u"fault silent"_s << QStringList() << 0x0080u << false;
}

void TestMonitorMetrics::flagsFollowThePrinter()
{
    QFETCH(QString, printer);
    QFETCH(QStringList, reasons);
    QFETCH(quint32, word);
    QFETCH(bool, reachable);

    QVERIFY(show(printer, reasons, word));
    const QByteArray text = scrape();
    const QMap<QString, QString> values = seriesOf(QString::fromUtf8(text));
    for (int bit = 0; bit < FlagNames.size(); ++bit) {
        QCOMPARE(values.value(series(u"ravelin_printer_flag"_s, FlagNames[bit])),
                 word & (1U << bit) ? u"1"_s : u"0"_s);
    }
    QCOMPARE(values.value(series(u"ravelin_printer_reachable"_s)), reachable ? u"1"_s : u"0"_s);
    QCOMPARE(values.value(u"ravelin_printer_info{printer=\"%1\",device_uri_scheme=\"socket\","
                          "make_model=\"%2\"}"_s.arg(Printer, Model)),
             u"1"_s);
    QCOMPARE(values.value(u"ravelin_monitor_build_info{version=\"%1\"}"_s.arg(
                 QStringLiteral(RAVELIN_VERSION))),
             u"1"_s);
    // A reading of this minute that took less than its budget.
    const double readAt =
        values.value(series(u"ravelin_printer_last_reading_timestamp_seconds"_s)).toDouble();
    QVERIFY(qAbs(readAt - double(QDateTime::currentMSecsSinceEpoch()) / 1000) < 60);
    const double took =
        values.value(series(u"ravelin_printer_reading_duration_seconds"_s)).toDouble();
    QVERIFY2(took > 0 && took < 1, qPrintable(QString::number(took)));
    QVERIFY(!values.contains(u"malformed"_s));
    QCOMPARE(lint(text), QString());

    // The textfile says the same after the next round.
    QTRY_COMPARE(
        seriesOf(QString::fromUtf8(textfile())).value(series(u"ravelin_printer_status_word"_s)),
        QString::number(word));
    QCOMPARE(lint(textfile()), QString());
}

// Each rise of a bit from 0 to 1 counts once, whatever the rounds in between.
void TestMonitorMetrics::risesAreCounted()
{
    const QString rises = series(u"ravelin_printer_flag_rises_total"_s, u"paper_out"_s);
    QVERIFY(show(u"state clear"_s, {}, 0x0000));
    const int before = scraped().value(rises).toInt();
    for (int time = 0; time < 2; ++time) {
        QVERIFY(show(u"state paper-end"_s, {}, 0x0002));
        QVERIFY(show(u"state clear"_s, {}, 0x0000));
    }
    QCOMPARE(scraped().value(rises).toInt(), before + 2);
    QTRY_COMPARE(seriesOf(QString::fromUtf8(textfile())).value(rises), QString::number(before + 2));
}

// Rewritten after every round (the reading's time moves on in it), readable by every user, and
// whole whenever it is read: every family, the last line ended.
void TestMonitorMetrics::textfileFollowsEveryRound()
{
    QVERIFY(show(u"state clear"_s, {}, 0x0000));
    const QString readAt = series(u"ravelin_printer_last_reading_timestamp_seconds"_s);
    QSet<QString> times;
    for (int read = 0; read < 2000 && times.size() < 5; ++read) {
        const QByteArray text = textfile();
        QVERIFY2(text.endsWith('\n'), text.right(200).constData());
        const QMap<QString, QString> values = seriesOf(QString::fromUtf8(text));
        QVERIFY(!values.contains(u"malformed"_s));
        QCOMPARE(values.value(series(u"ravelin_printer_reading_duration_seconds"_s)).isEmpty(),
                 false);
        times.insert(values.value(readAt));
        QTest::qWait(5);
    }
    QCOMPARE(times.size(), 5);
    struct stat status
    {
    };
    QCOMPARE(
        ::stat(QFile::encodeName(m_dir.filePath(u"textfile/ravelin.prom"_s)).constData(), &status),
        0);
    QCOMPARE(status.st_mode & 0777, 0644u);
}

void TestMonitorMetrics::refusedAtStart_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");

    QTest::newRow("the port is taken")
        << QStringList{u"--metrics-listen"_s, u"127.0.0.1:%1"_s} << 1
        << u"ravelin-monitor: cannot serve metrics on 127.0.0.1:%1: cannot bind to "
           "127.0.0.1:%1: 98 (Address already in use)"_s;
    QTest::newRow("a host name") << QStringList{u"--metrics-listen"_s, u"localhost"_s} << 2
                                 << u"ravelin-monitor: --metrics-listen \"localhost\": the address "
                                    "must be a numeric IPv4 address"_s;
    QTest::newRow("no such folder")
        << QStringList{u"--metrics-textfile"_s, u"/nonexistent/ravelin"_s} << 2
        << u"ravelin-monitor: --metrics-textfile /nonexistent/ravelin: No such file or directory"_s;
}

// It says why and ends, with the socket it made removed.
void TestMonitorMetrics::refusedAtStart()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    const QString port = QString::number(m_port); // the running monitor's
    for (QString &argument : arguments)
        argument = argument.contains(u"%1"_s) ? argument.arg(port) : argument;
    const QString socket = m_dir.filePath(u"refused.sock"_s);

    QProcess monitor;
    monitor.start(QStringLiteral(MONITOR_PATH), QStringList{u"--socket"_s, socket} + arguments);
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), status);
    const QString error = QString::fromUtf8(monitor.readAllStandardError());
    QVERIFY2(error.contains(said.contains(u"%1"_s) ? said.arg(port) : said), qPrintable(error));
    QVERIFY(!QFile::exists(socket));
    // The running monitor goes on serving.
    QVERIFY(!scrape().isEmpty());
}

QTEST_GUILESS_MAIN(TestMonitorMetrics)
#include "tst_monitormetrics.moc"
