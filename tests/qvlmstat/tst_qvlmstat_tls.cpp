// SPDX-License-Identifier: MIT
// The stand-in status library against a private scheduler that requires TLS, as the client's
// configuration tells its clients ("Encryption Required" in client.conf): the same words as in
// the clear, each over a connection the scheduler reports encrypted.

#include "privatecups.h"
#include "statuslibrary.h"

#include <QFile>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;

namespace {

// The connections the scheduler has encrypted so far, from its log.
int encryptedConnections()
{
    QFile log(PrivateCups::folder() + u"/log/error_log"_s);
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    return int(log.readAll().count("Connection now encrypted."));
}

} // namespace

class TestQvlmstatTls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void wordsOverTls_data();
    void wordsOverTls();

private:
    std::unique_ptr<StatusLibrary> m_library;
};

void TestQvlmstatTls::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
    QFile clientConf(PrivateCups::folder() + u"/etc/client.conf"_s);
    QVERIFY2(clientConf.open(QIODevice::ReadOnly) &&
                 clientConf.readAll().contains("Encryption Required"),
             "this test needs a scheduler that requires TLS: \"private-cups run --tls\"");
    m_library = std::make_unique<StatusLibrary>(QStringList{QStringLiteral(QVLMSTAT_PATH)});
}

void TestQvlmstatTls::init()
{
    QVERIFY(PrivateCups::removeEverything());
}

void TestQvlmstatTls::wordsOverTls_data()
{
    QTest::addColumn<QStringList>("reasons"); // of the queue QVT-Tls
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<QString>("asked"); // the queue asked for; empty: the default, GetLMStatus
    QTest::addColumn<int>("word");

    QTest::newRow("paper low") << QStringList{u"media-low"_s} << false << u"QVT-Tls"_s << 0x0010;
    QTest::newRow("cover open and a jam")
        << QStringList{u"cover-open"_s, u"media-jam"_s} << false << u"QVT-Tls"_s << 0x0101;
    QTest::newRow("stopped") << QStringList() << true << u"QVT-Tls"_s << 0x0080;
    QTest::newRow("an unknown queue") << QStringList() << false << u"QVT-None"_s << 0x0080;
    QTest::newRow("the scheduler's default")
        << QStringList{u"media-low"_s} << false << QString() << 0x0010;
}

void TestQvlmstatTls::wordsOverTls()
{
    QFETCH(QStringList, reasons);
    QFETCH(bool, stopped);
    QFETCH(QString, asked);
    QFETCH(int, word);
    QVERIFY(PrivateCups::addQueue(u"QVT-Tls"_s));
    QVERIFY(PrivateCups::setReasons(u"QVT-Tls"_s, reasons));
    QVERIFY(PrivateCups::setServerDefault(u"QVT-Tls"_s));
    if (stopped)
        QVERIFY(PrivateCups::stopQueue(u"QVT-Tls"_s));

    const int before = encryptedConnections();
    QVERIFY(before >= 0);
    QCOMPARE(asked.isEmpty() ? m_library->GetLMStatus() : m_library->GetPrinterStatus(asked), word);
    QCOMPARE(encryptedConnections(), before + 1);
}

QTEST_GUILESS_MAIN(TestQvlmstatTls)
#include "tst_qvlmstat_tls.moc"
