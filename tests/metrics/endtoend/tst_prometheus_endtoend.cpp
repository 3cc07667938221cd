// SPDX-License-Identifier: MIT
// End to end with the real engines, on loopback only: a printer runs out of paper, Prometheus's
// query API shows its paper_out flag at 1, the shipped paper-out alert reaches Alertmanager's
// webhook naming the printer; the paper comes back, the flag reads 0 and the alert resolves.
//
// The printer side is one of two:
//   (default)         ravelin-metrics-driver: the metrics endpoint over a scripted table
//   --monitor PATH    ravelin-monitor at PATH over the printer simulator, through a queue of the
//                     private scheduler this test then runs under (scripts/private-cups run)
// With --graph FILE it also keeps the printer clear for 20 s more and saves Prometheus's graph of
// the flag over the run as a PNG, through headless Chromium (scripts/prometheus-graph).

#include "httpget.h"
#include "printersim.h"
#include "privatecups.h"
#include "prometheusstack.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString monitorProgram; // --monitor PATH
QString graphFile;      // --graph FILE

const QString Printer = u"QVT-7460-EndToEnd"_s;

// What Prometheus scrapes, and the printer whose paper runs out and comes back.
class PrinterSide
{
public:
    virtual ~PrinterSide() = default;
    virtual bool start() = 0;
    virtual QString metricsTarget() const = 0; // HOST:PORT
    virtual bool paperOut() = 0;
    virtual bool paperBack() = 0;
    virtual bool stop() = 0;
};

// A process commanded line by line: started, its lines read, quit at the end of its input.
class LineProcess
{
public:
    ~LineProcess() { stop(Signal::Terminate); }
    QProcess &process() { return m_process; }
    bool start(const QString &program, const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program, arguments);
        return m_process.waitForStarted(10000);
    }
    QString readLine(int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() ||
                !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return {};
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    QString command(const QString &line)
    {
        m_process.write(line.toUtf8() + '\n');
        return readLine();
    }
    // Ends it by closing its input, or with SIGTERM; true when it ended by itself within 15 s,
    // with status 0.
    enum class Signal { EndOfInput, Terminate };
    bool stop(Signal signal)
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        m_process.closeWriteChannel();
        if (signal == Signal::Terminate)
            m_process.terminate();
        if (m_process.waitForFinished(15000))
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        m_process.kill();
        m_process.waitForFinished(5000);
        return false;
    }

private:
    QProcess m_process;
};

class ScriptedPrinterSide : public PrinterSide
{
public:
    bool start() override
    {
        if (!m_driver.start(QStringLiteral(METRICS_DRIVER), {}))
            return false;
        const QString address = m_driver.readLine();
        if (!address.startsWith(u"metrics ") || m_driver.readLine() != u"ready") {
            qWarning() << "the metrics driver did not start:" << address;
            return false;
        }
        m_target = address.mid(8);
        return m_driver.command(u"word %1 0x0000"_s.arg(Printer)) == u"ok";
    }
    QString metricsTarget() const override { return m_target; }
    bool paperOut() override { return m_driver.command(u"word %1 0x0002"_s.arg(Printer)) == u"ok"; }
    bool paperBack() override
    {
        return m_driver.command(u"word %1 0x0000"_s.arg(Printer)) == u"ok";
    }
    bool stop() override { return m_driver.stop(LineProcess::Signal::EndOfInput); }

private:
    LineProcess m_driver;
    QString m_target;
};

// ravelin-monitor over the printer simulator, through a queue of the private scheduler. It
// serves its metrics on a free port of 127.0.0.1 and its clients on a socket of its own.
class MonitorPrinterSide : public PrinterSide
{
public:
    bool start() override
    {
        if (PrivateCups::folder().isEmpty()) {
            qWarning("%s", qPrintable(PrivateCups::whyUnavailable()));
            return false;
        }
        if (!m_simulator.start() || !PrivateCups::addQueue(Printer, m_simulator.socketUri()))
            return false;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), length);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        ::close(fd);
        m_port = ntohs(address.sin_port);
        if (!m_monitor.start(monitorProgram,
                             {u"--socket"_s, m_dir.filePath(u"monitor.sock"_s), u"--period"_s,
                              u"1000"_s, u"--metrics-listen"_s, metricsTarget()})) {
            return false;
        }
        // Serving once it has read the printer.
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired() && m_monitor.process().state() == QProcess::Running) {
            const HttpAnswer answer = httpGet(m_port, "/metrics", {}, 1000);
            if (answer.status == 200 &&
                answer.body.find("ravelin_printer_flag{printer=\"" + Printer.toStdString()) !=
                    std::string::npos) {
                return true;
            }
            QTest::qWait(200);
        }
        qWarning() << "the monitor did not serve the printer's metrics on port" << m_port;
        return false;
    }
    QString metricsTarget() const override { return u"127.0.0.1:%1"_s.arg(m_port); }
    bool paperOut() override { return m_simulator.run(u"state paper-end"_s); }
    bool paperBack() override { return m_simulator.run(u"state clear"_s); }
    bool stop() override { return m_monitor.stop(LineProcess::Signal::Terminate); }

private:
    QTemporaryDir m_dir;
    PrinterSim m_simulator;
    LineProcess m_monitor;
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

    std::unique_ptr<PrinterSide> printer;
    if (monitorProgram.isEmpty())
        printer = std::make_unique<ScriptedPrinterSide>();
    else
        printer = std::make_unique<MonitorPrinterSide>();
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
    step("Prometheus, Alertmanager and the printer side ended");
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments();
    for (const QString &option : {u"--monitor"_s, u"--graph"_s}) {
        const qsizetype at = arguments.indexOf(option);
        if (at > 0 && at + 1 < arguments.size()) {
            (option == u"--monitor" ? monitorProgram : graphFile) = arguments.at(at + 1);
            arguments.remove(at, 2);
        }
    }
    TestPrometheusEndToEnd test;
    return QTest::qExec(&test, arguments);
}

#include "tst_prometheus_endtoend.moc"
