// SPDX-License-Identifier: MIT
// The monitor's command line.

#include "options.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using ravelin::monitor::Options;

class TestMonitorOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void options_data();
    void options();
    void metricsOptions_data();
    void metricsOptions();

private:
    QTemporaryDir m_dir;
};

void TestMonitorOptions::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("environment"); // RAVELIN_MONITOR_SOCKET; null: not set
    QTest::addColumn<QString>("socket");         // empty: refused
    QTest::addColumn<int>("period");
    QTest::addColumn<QString>("error");

    const QString system = u"/run/ravelin/monitor.sock"_s;
    QTest::newRow("nothing") << QStringList() << QByteArray() << system << 1000 << QString();
    QTest::newRow("the environment's socket")
        << QStringList() << "/tmp/e.sock"_ba << u"/tmp/e.sock"_s << 1000 << QString();
    QTest::newRow("an empty environment variable")
        << QStringList() << ""_ba << system << 1000 << QString();
    QTest::newRow("--socket before the environment")
        << QStringList{u"--socket"_s, u"/tmp/a.sock"_s} << "/tmp/e.sock"_ba << u"/tmp/a.sock"_s
        << 1000 << QString();
    QTest::newRow("--socket=PATH and --period=MS")
        << QStringList{u"--socket=/tmp/a.sock"_s, u"--period=250"_s} << QByteArray()
        << u"/tmp/a.sock"_s << 250 << QString();
    QTest::newRow("the shortest period")
        << QStringList{u"--period"_s, u"100"_s} << QByteArray() << system << 100 << QString();
    QTest::newRow("the longest period")
        << QStringList{u"--period"_s, u"30000"_s} << QByteArray() << system << 30000 << QString();

    const auto refused = [](const char *row, QStringList arguments, const QString &error) {
        QTest::newRow(row) << arguments << QByteArray() << QString() << 0 << error;
    };
    const QString range = u"--period takes whole milliseconds from 100 to 30000, not "_s;
    refused("a period too short", {u"--period"_s, u"99"_s}, range + u"99"_s);
    refused("a period too long", {u"--period"_s, u"30001"_s}, range + u"30001"_s);
    refused("a period that is no whole number", {u"--period"_s, u"1e3"_s}, range + u"1e3"_s);
    refused("a period of nothing", {u"--period="_s}, range);
    refused("an option without its value", {u"--socket"_s}, u"--socket needs a value"_s);
    refused("an empty socket", {u"--socket="_s}, u"--socket needs a path"_s);
    refused("an option twice", {u"--period"_s, u"200"_s, u"--period"_s, u"300"_s},
            u"--period is given twice"_s);
    refused("an unknown option", {u"--verbose"_s}, u"unknown option --verbose"_s);
    refused("an argument", {u"QVT-Front"_s}, u"unknown option QVT-Front"_s);
}

void TestMonitorOptions::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, environment);
    QFETCH(QString, socket);
    QFETCH(int, period);
    QFETCH(QString, error);
    std::vector<std::string> words;
    for (const QString &argument : arguments)
        words.push_back(argument.toStdString());
    std::string said;
    const std::optional<Options> options = ravelin::monitor::parseOptions(
        words, environment.isNull() ? nullptr : environment.constData(), said);
    QCOMPARE(QString::fromStdString(said), error);
    QCOMPARE(options.has_value(), !socket.isEmpty());
    if (options) {
        QCOMPARE(QString::fromStdString(options->socket), socket);
        QCOMPARE(options->period.count(), period);
    }
}

void TestMonitorOptions::metricsOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("listen");   // ADDRESS:PORT; empty: not served
    QTest::addColumn<QString>("textfile"); // empty: none written
    QTest::addColumn<QString>("error");    // empty: taken

    QVERIFY(m_dir.isValid());
    const QString dir = m_dir.path();
    const QString file = m_dir.filePath(u"ravelin.prom"_s);
    QFile plain(file);
    QVERIFY(plain.open(QIODevice::WriteOnly));

    QTest::newRow("neither") << QStringList() << QString() << QString() << QString();
    QTest::newRow("an address and a port")
        << QStringList{u"--metrics-listen"_s, u"127.0.0.1:9464"_s} << u"127.0.0.1:9464"_s
        << QString() << QString();
    QTest::newRow("no port: the default") << QStringList{u"--metrics-listen=0.0.0.0"_s}
                                          << u"0.0.0.0:29147"_s << QString() << QString();
    QTest::newRow("port 0: any free one") << QStringList{u"--metrics-listen"_s, u"127.0.0.1:0"_s}
                                          << u"127.0.0.1:0"_s << QString() << QString();
    QTest::newRow("a textfile folder and an address")
        << QStringList{u"--metrics-textfile"_s, dir, u"--metrics-listen"_s, u"127.0.0.1"_s}
        << u"127.0.0.1:29147"_s << dir << QString();

    const auto refused = [](const char *row, QStringList arguments, const QString &error) {
        QTest::newRow(row) << arguments << QString() << QString() << error;
    };
    refused("a host name", {u"--metrics-listen"_s, u"kiosk.example"_s},
            u"--metrics-listen \"kiosk.example\": the address must be a numeric IPv4 address "
            "such as 127.0.0.1 (or 0.0.0.0 for every interface)"_s);
    refused("IPv6", {u"--metrics-listen"_s, u"[::1]:29147"_s},
            u"--metrics-listen \"[::1]:29147\": IPv6 addresses are not supported (the HTTP "
            "server is built without them); give an IPv4 address such as 127.0.0.1"_s);
    refused("a port too high", {u"--metrics-listen"_s, u"127.0.0.1:65536"_s},
            u"--metrics-listen \"127.0.0.1:65536\": the port must be a number from 0 to 65535"_s);
    refused("an address twice",
            {u"--metrics-listen"_s, u"127.0.0.1"_s, u"--metrics-listen"_s, u"127.0.0.1"_s},
            u"--metrics-listen is given twice"_s);
    refused("no folder", {u"--metrics-textfile"_s, dir + u"/missing"_s},
            u"--metrics-textfile "_s + dir + u"/missing: No such file or directory"_s);
    refused("a file, not a folder", {u"--metrics-textfile"_s, file},
            u"--metrics-textfile "_s + file + u": not a folder"_s);
    refused("a textfile folder of nothing", {u"--metrics-textfile="_s},
            u"--metrics-textfile the textfile folder is empty"_s);
    refused("a textfile folder without its value", {u"--metrics-textfile"_s},
            u"--metrics-textfile needs a value"_s);
}

// Read and checked before anything starts: a value it cannot use stops it with the reason.
void TestMonitorOptions::metricsOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, listen);
    QFETCH(QString, textfile);
    QFETCH(QString, error);
    std::vector<std::string> words;
    for (const QString &argument : arguments)
        words.push_back(argument.toStdString());
    std::string said;
    const std::optional<Options> options = ravelin::monitor::parseOptions(words, nullptr, said);
    QCOMPARE(QString::fromStdString(said), error);
    QCOMPARE(options.has_value(), error.isEmpty());
    if (options) {
        QCOMPARE(options->metricsListen ? QString::fromStdString(options->metricsListen->text())
                                        : QString(),
                 listen);
        QCOMPARE(QString::fromStdString(options->metricsTextfile), textfile);
    }
}

QTEST_GUILESS_MAIN(TestMonitorOptions)
#include "tst_monitoroptions.moc"
