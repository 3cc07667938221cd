// SPDX-License-Identifier: MIT
// The HTTP endpoint on loopback: a scrape answers with what the source holds at that moment,
// only /metrics is served, an address it cannot take is refused with the reason, and
// Prometheus's own linter (promtool check metrics) accepts what both the endpoint and the
// textfile give.

#include "httpget.h"
#include "metricsserver.h"
#include "promtool.h"
#include "series.h"
#include "textfile.h"

#include <QTemporaryDir>
#include <QTest>

#include <mutex>

using namespace Qt::StringLiterals;
using namespace ravelin::metrics;

namespace {

// A monitor's table, as far as the metrics see it.
class Table
{
public:
    void set(std::vector<PrinterSample> printers)
    {
        const std::lock_guard lock(m_mutex);
        m_printers = std::move(printers);
    }
    std::vector<PrinterSample> snapshot() const
    {
        const std::lock_guard lock(m_mutex);
        return m_printers;
    }
    SampleSource source()
    {
        return [this] { return snapshot(); };
    }

private:
    mutable std::mutex m_mutex;
    std::vector<PrinterSample> m_printers;
};

PrinterSample printer(const std::string &name, std::uint32_t word, bool read = true)
{
    PrinterSample sample;
    sample.name = name;
    sample.deviceUri = "serial:/dev/ttyS0?baud=38400";
    sample.makeAndModel = "Quorvel QVT-7460 \"Kiosk\" \xFF";
    sample.read = read;
    sample.word = word;
    sample.reachable = (word & 0x80) == 0;
    sample.readAt = std::chrono::system_clock::now();
    sample.readingDuration = std::chrono::milliseconds(12);
    sample.rises[1] = 14;
    return sample;
}

// Printers in every state a scrape can meet.
std::vector<PrinterSample> assorted()
{
    return {printer("QVT-7460-Lobby", 0x0002), printer("QVT-7460-Counter", 0x0080),
            printer("QVT-7460-Kitchen", 0xFFFFFFFF), printer("QVT-7460-New", 0, false)};
}

ListenAddress loopback(std::uint16_t port = 0)
{
    return {"127.0.0.1", port};
}

} // namespace

class TestMetricsServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scrapeShowsTheSourceAtThatMoment();
    void servesMetricsOnly();
    void cannotListen_data();
    void cannotListen();
    void promtoolAcceptsTheMetrics_data();
    void promtoolAcceptsTheMetrics();
};

void TestMetricsServer::scrapeShowsTheSourceAtThatMoment()
{
    Table table;
    table.set({printer("QVT-7460-Lobby", 0x0002)});
    const MetricsServer server(loopback(), table.source(), "2.1.0");
    QVERIFY(server.port() != 0);

    HttpAnswer answer = httpGet(server.port(), "/metrics");
    QCOMPARE(answer.status, 200);
    QVERIFY2(QByteArray::fromStdString(answer.head).contains("\r\nContent-Type: text/plain;"),
             answer.head.c_str());
    const QString flag = u"ravelin_printer_flag{printer=\"QVT-7460-Lobby\",flag=\"paper_out\"}"_s;
    QCOMPARE(seriesOf(QString::fromStdString(answer.body)).value(flag), u"1"_s);

    table.set({printer("QVT-7460-Lobby", 0x0000)});
    answer = httpGet(server.port(), "/metrics");
    QCOMPARE(answer.status, 200);
    QCOMPARE(seriesOf(QString::fromStdString(answer.body)).value(flag), u"0"_s);
}

void TestMetricsServer::servesMetricsOnly()
{
    Table table;
    const MetricsServer server(loopback(), table.source(), "2.1.0");
    QCOMPARE(httpGet(server.port(), "/").status, 404);
    QCOMPARE(httpGet(server.port(), "/etc/passwd").status, 404);
    QCOMPARE(httpGet(server.port(), "/metrics/../../etc/passwd").status, 404);
}

void TestMetricsServer::cannotListen_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("why");

    QTest::newRow("port in use") << u"in use"_s << u"Address already in use"_s;
    // A documentation address (RFC 5737): no interface of this machine has it. Binding to it
    // fails at once and sends nothing.
    QTest::newRow("no interface has the address")
        << u"192.0.2.1"_s << u"Cannot assign requested address"_s;
}

void TestMetricsServer::cannotListen()
{
    QFETCH(QString, address);
    QFETCH(QString, why);

    Table table;
    const MetricsServer first(loopback(), table.source(), "2.1.0");
    const ListenAddress taken =
        address == u"in use" ? loopback(first.port()) : ListenAddress{address.toStdString(), 0};
    try {
        const MetricsServer second(taken, table.source(), "2.1.0");
        QFAIL("a second server started");
    } catch (const std::runtime_error &error) {
        const QString message = QString::fromUtf8(error.what());
        QVERIFY2(message.startsWith(
                     u"cannot serve metrics on %1:"_s.arg(QString::fromStdString(taken.text()))),
                 error.what());
        QVERIFY2(message.contains(why), error.what());
    }
    // The first one is not disturbed.
    QCOMPARE(httpGet(first.port(), "/metrics").status, 200);
}

void TestMetricsServer::promtoolAcceptsTheMetrics_data()
{
    QTest::addColumn<bool>("textfile");
    QTest::newRow("over HTTP") << false;
    QTest::newRow("textfile") << true;
}

void TestMetricsServer::promtoolAcceptsTheMetrics()
{
    QFETCH(bool, textfile);

    Table table;
    table.set(assorted());
    std::string text;
    if (textfile) {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TextfileWriter writer(dir.path().toStdString(), "2.1.0");
        QVERIFY(!writer.write(table.snapshot()));
        QFile file(QString::fromStdString(writer.path()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        text = file.readAll().toStdString();
    } else {
        const MetricsServer server(loopback(), table.source(), "2.1.0");
        // Twice, so that the HTTP server's own scrape summary has values too.
        QCOMPARE(httpGet(server.port(), "/metrics").status, 200);
        const HttpAnswer answer = httpGet(server.port(), "/metrics");
        QCOMPARE(answer.status, 200);
        text = answer.body;
    }
    QVERIFY(text.find("ravelin_printer_flag{") != std::string::npos);
    QCOMPARE(lint(QByteArray::fromStdString(text)), QString());
}

QTEST_APPLESS_MAIN(TestMetricsServer)
#include "tst_metricsserver.moc"
