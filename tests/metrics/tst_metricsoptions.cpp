// SPDX-License-Identifier: MIT
// The metrics options as an administrator types them: the address to listen on, and the folder
// of the textfile, each refused with a reason before anything starts.

#include "metricsoptions.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace ravelin::metrics;

class TestMetricsOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listenAddress_data();
    void listenAddress();
    void textfileDirectory_data();
    void textfileDirectory();
};

void TestMetricsOptions::listenAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("listen"); // empty: refused
    QTest::addColumn<QString>("why");    // a part of the reason

    QTest::newRow("loopback and port") << u"127.0.0.1:9999"_s << u"127.0.0.1:9999"_s << QString();
    QTest::newRow("no port: the default") << u"127.0.0.1"_s << u"127.0.0.1:29147"_s << QString();
    QTest::newRow("every interface") << u"0.0.0.0:29147"_s << u"0.0.0.0:29147"_s << QString();
    QTest::newRow("port 0: any free one") << u"127.0.0.1:0"_s << u"127.0.0.1:0"_s << QString();
    QTest::newRow("highest port") << u"127.0.0.1:65535"_s << u"127.0.0.1:65535"_s << QString();
    QTest::newRow("port too large") << u"127.0.0.1:65536"_s << QString() << u"0 to 65535"_s;
    QTest::newRow("port of many digits") << u"127.0.0.1:0000080"_s << QString() << u"0 to 65535"_s;
    QTest::newRow("empty port") << u"127.0.0.1:"_s << QString() << u"0 to 65535"_s;
    QTest::newRow("signed port") << u"127.0.0.1:+80"_s << QString() << u"0 to 65535"_s;
    QTest::newRow("port with a letter") << u"127.0.0.1:80a"_s << QString() << u"0 to 65535"_s;
    QTest::newRow("host name") << u"localhost:9999"_s << QString() << u"numeric IPv4"_s;
    QTest::newRow("no address") << u":9999"_s << QString() << u"numeric IPv4"_s;
    QTest::newRow("empty") << QString() << QString() << u"numeric IPv4"_s;
    QTest::newRow("three parts") << u"127.0.1:9999"_s << QString() << u"numeric IPv4"_s;
    QTest::newRow("blank before") << u" 127.0.0.1:9999"_s << QString() << u"numeric IPv4"_s;
    QTest::newRow("IPv6 in brackets") << u"[::1]:9999"_s << QString() << u"IPv6"_s;
    QTest::newRow("IPv6 bare") << u"::1"_s << QString() << u"IPv6"_s;
}

void TestMetricsOptions::listenAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, listen);
    QFETCH(QString, why);

    std::string error;
    const std::optional<ListenAddress> parsed = parseListenAddress(text.toStdString(), error);
    QCOMPARE(parsed ? QString::fromStdString(parsed->text()) : QString(), listen);
    QVERIFY2(QString::fromStdString(error).contains(why), error.c_str());
    if (!parsed)
        QVERIFY2(QString::fromStdString(error).contains(text), error.c_str());
}

void TestMetricsOptions::textfileDirectory_data()
{
    QTest::addColumn<QString>("name"); // in a temporary folder; "." is that folder
    QTest::addColumn<QString>("why");  // empty: accepted

    QTest::newRow("a folder") << u"."_s << QString();
    QTest::newRow("missing") << u"missing"_s << u"No such file or directory"_s;
    QTest::newRow("a file") << u"ravelin.prom"_s << u"not a folder"_s;
    QTest::newRow("empty") << QString() << u"empty"_s;
}

void TestMetricsOptions::textfileDirectory()
{
    QFETCH(QString, name);
    QFETCH(QString, why);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(u"ravelin.prom"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    std::string error;
    const std::string path = name.isEmpty() ? std::string() : dir.filePath(name).toStdString();
    QCOMPARE(checkTextfileDirectory(path, error), why.isEmpty());
    QVERIFY2(QString::fromStdString(error).contains(why), error.c_str());
}

QTEST_APPLESS_MAIN(TestMetricsOptions)
#include "tst_metricsoptions.moc"
