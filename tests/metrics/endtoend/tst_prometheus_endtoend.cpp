// SPDX-License-Identifier: MIT
// End to end with the real engines, on loopback only: a printer runs out of paper, Prometheus's
// query API shows its paper_out flag at 1, the shipped paper-out alert reaches Alertmanager's
// webhook naming the printer; the paper comes back, the flag reads 0 and the alert resolves.
//
// The printer is the printer simulator, on a queue of the private scheduler this test runs
// under (scripts/private-cups run), read by ravelin-monitor, which Prometheus scrapes.
// With --graph FILE it also keeps the printer clear for 10 s before and 20 s after, and saves
// Prometheus's graph of the flag over the run as a PNG through headless Chromium
// (scripts/prometheus-graph).

#include "monitorprocess.h"
#include "printersim.h"
#include "privatecups.h"
#include "prometheusstack.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString graphFile; // --graph FILE

const QString Printer = u"QVT-7460-EndToEnd"_s;

// The printer simulator on a queue of the private scheduler, and ravelin-monitor reading it
// every second and serving its metrics on a free port of 127.0.0.1 (the one it logs), its
// clients on a socket of its own.
class MonitoredPrinter
{
public:
    bool start()
    {
        if (PrivateCups::folder().isEmpty()) {
            qWarning("%s", qPrintable(PrivateCups::whyUnavailable()));
            return false;
        }
        if (!m_simulator.start({u"--tcp"_s, u"0"_s}) ||
            !PrivateCups::addQueue(Printer, m_simulator.socketUri())) {
            return false;
        }
        if (!m_monitor.start({u"--period"_s, u"1000"_s, u"--metrics-listen"_s, u"127.0.0.1:0"_s}))
            return false;
        static const QRegularExpression serving(
            u"^serving metrics at http://127.0.0.1:(\\d+)/metrics$"_s);
        for (const QString &line : m_monitor.log()) {
            if (const QRegularExpressionMatch match = serving.match(line); match.hasMatch())
                m_port = match.captured(1).toUShort();
        }
        // Serving once it has read the printer.
        const QDeadlineTimer deadline(30000);
        while (m_port != 0 && !deadline.hasExpired() &&
               m_monitor.process().state() == QProcess::Running) {
            const HttpAnswer answer = httpGet(m_port, "/metrics", {}, 1000);
            if (answer.status == 200 &&
                answer.body.find("ravelin_printer_flag{printer=\"" + Printer.toStdString()) !=
                    std::string::npos) {
                return true;
            }
            QTest::qWait(200);
        }
        qWarning() << "the monitor did not serve the printer's metrics:" << m_monitor.log();
        return false;
    }
    QString metricsTarget() const { return u"127.0.0.1:%1"_s.arg(m_port); }
    bool paperOut() { return m_simulator.run(u"state paper-end"_s); }
    bool paperBack() { return m_simulator.run(u"state clear"_s); }
    // SIGTERM; true when it ended by itself with status 0.
    bool stop() { return m_monitor.stop(); }

private:
    QTemporaryDir m_dir{u"/tmp/rve2e.XXXXXX"_s};
    PrinterSim m_simulator;
    MonitorProcess m_monitor{m_dir.filePath(u"monitor.sock"_s)};
    quint16 m_port = 0;
};

// The value of the query's sample for the test's printer, empty when it has none.
QString printerValue(const PrometheusStack &stack, const QString &expression)
{
    for (const QJsonValue &sample : stack.query(expression)) {
        const QJsonObject object = sample.toObject();
        if (object.value(u"metric").toObject().value(u"printer").toString() == Printer)
            return object.value(u"value").toArray().at(1).toString();
    }
    return {};
}

// The alerts of this name for the test's printer in the webhook's notifications so far.
int printerAlerts(const WebhookListener &webhook, const QString &status, const QString &name)
{
    int count = 0;
    for (const QJsonObject &alert : webhook.alerts(status, name)) {
        const QJsonObject labels = alert.value(u"labels").toObject();
        const QString summary = alert.value(u"annotations").toObject().value(u"summary").toString();
        if (labels.value(u"printer").toString() == Printer &&
            labels.value(u"severity").toString() == u"critical" && summary.contains(Printer)) {
            ++count;
        }
    }
    return count;
}

// Prometheus's graph page of the expression over the last seconds, as a PNG, through headless
// Chromium kept on this machine: every host name resolves to nothing, no proxy, no background
// traffic of its own.
bool saveGraph(quint16 prometheusPort, const QString &expression, int seconds, const QString &file)
{
    const QString chromium = QStandardPaths::findExecutable(u"chromium"_s);
    if (chromium.isEmpty()) {
        qWarning("chromium is not installed (scripts/setup scripts/packages-graph)");
        return false;
    }
    QTemporaryDir profile;
    // One arg() call for all three: the encoded expression holds "%3D" and the like.
    const QString url =
        u"http://127.0.0.1:%1/classic/graph?g0.expr=%2&g0.tab=0&g0.stacked=0"
        "&g0.range_input=%3s"_s.arg(QString::number(prometheusPort),
                                    QString::fromLatin1(QUrl::toPercentEncoding(expression)),
                                    QString::number(seconds));
    QStringList arguments{u"--headless=new"_s,
                          u"--disable-gpu"_s,
                          u"--user-data-dir="_s + profile.path(),
                          u"--no-first-run"_s,
                          u"--no-default-browser-check"_s,
                          u"--disable-background-networking"_s,
                          u"--disable-component-update"_s,
                          u"--disable-sync"_s,
                          u"--disable-extensions"_s,
                          u"--disable-default-apps"_s,
                          u"--no-proxy-server"_s,
                          u"--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"_s,
                          u"--hide-scrollbars"_s,
                          u"--window-size=1000,820"_s,
                          u"--virtual-time-budget=10000"_s,
                          u"--screenshot="_s + QFileInfo(file).absoluteFilePath(),
                          url};
    if (::geteuid() == 0)
        arguments.prepend(u"--no-sandbox"_s); // its sandbox refuses to run as root
    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    browser.start(chromium, arguments);
    if (!browser.waitForFinished(120000)) {
        browser.kill();
        browser.waitForFinished(5000);
        qWarning("chromium did not finish within 2 minutes");
        return false;
    }
    if (browser.exitCode() != 0 || !QFileInfo::exists(file)) {
        qWarning() << "chromium failed:" << browser.readAll().right(2000);
        return false;
    }
    return true;
}

} // namespace

class TestPrometheusEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void paperOutAlertsThroughAlertmanagerAndResolves();
};

void TestPrometheusEndToEnd::paperOutAlertsThroughAlertmanagerAndResolves()
{
    QElapsedTimer clock;
    clock.start();
    const auto step = [&clock](const char *what) {
        qInfo("%6.1f s  %s", static_cast<double>(clock.elapsed()) / 1000, what);
    };

    const auto printer = std::make_unique<MonitoredPrinter>();
    QVERIFY(printer->start());
    step("the printer's metrics are served");

    WebhookListener webhook;
    QVERIFY(webhook.listen());
    PrometheusStack stack;
    QVERIFY(stack.start(printer->metricsTarget(), QStringLiteral(ALERT_RULES), webhook.port()));
    step("Prometheus and Alertmanager are ready");

    const QString flag = u"ravelin_printer_flag{flag=\"paper_out\"}"_s;
    QTRY_COMPARE_WITH_TIMEOUT(printerValue(stack, flag), u"0"_s, 30000);
    step("Prometheus shows paper_out 0");
    // For the picture, some seconds of a clear printer first.
    if (!graphFile.isEmpty())
        QTest::qWait(10000);

    QVERIFY(printer->paperOut());
    QTRY_COMPARE_WITH_TIMEOUT(printerValue(stack, flag + u" == 1"_s), u"1"_s, 20000);
    step("Prometheus shows paper_out == 1");
    QCOMPARE(printerAlerts(webhook, u"firing"_s, u"RavelinPaperOut"_s), 0);

    // The rule holds for 30 s; then Alertmanager's group waits 1 s.
    QTRY_VERIFY_WITH_TIMEOUT(printerAlerts(webhook, u"firing"_s, u"RavelinPaperOut"_s) > 0, 60000);
    step("the paper-out alert reached the webhook");
    // Both listen, Prometheus scrapes and notifies: all of it on loopback.
    int sockets = 0;
    const QStringList offLoopback = stack.socketsOffLoopback(sockets);
    QVERIFY2(offLoopback.isEmpty(), qPrintable(offLoopback.join(u"; ")));
    QVERIFY(sockets >= 3);
    qInfo("%d TCP and UDP sockets of theirs, all on loopback", sockets);

    QVERIFY(printer->paperBack());
    QTRY_COMPARE_WITH_TIMEOUT(printerValue(stack, flag), u"0"_s, 20000);
    step("Prometheus shows paper_out 0 again");
    QTRY_VERIFY_WITH_TIMEOUT(printerAlerts(webhook, u"resolved"_s, u"RavelinPaperOut"_s) > 0,
                             30000);
    step("the alert resolved at the webhook");
    // Nothing else fired on the way.
    for (const QJsonObject &notification : webhook.notifications()) {
        for (const QJsonValue &alert : notification.value(u"alerts").toArray()) {
            QCOMPARE(alert.toObject().value(u"labels").toObject().value(u"alertname").toString(),
                     u"RavelinPaperOut"_s);
        }
    }

    if (!graphFile.isEmpty()) {
        QTest::qWait(20000);
        const int seconds = static_cast<int>(clock.elapsed() / 1000) + 5;
        QVERIFY(saveGraph(stack.prometheusPort(), flag, seconds, graphFile));
        step("graph saved");
    }

    QVERIFY(stack.stop());
    QVERIFY(!stack.running());
    QVERIFY(printer->stop());
    step("Prometheus, Alertmanager and the monitor ended");
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments();
    const qsizetype at = arguments.indexOf(u"--graph"_s);
    if (at > 0 && at + 1 < arguments.size()) {
        graphFile = arguments.at(at + 1);
        arguments.remove(at, 2);
    }
    TestPrometheusEndToEnd test;
    return QTest::qExec(&test, arguments);
}

#include "tst_prometheus_endtoend.moc"
