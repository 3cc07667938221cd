// SPDX-License-Identifier: MIT
// The language monitor's protocol text, both sides: requests as the monitor reads them, and
// answers to status as the library reads them.

#include "monitorprotocol.h"

#include <QTest>

using namespace Qt::StringLiterals;
namespace protocol = ravelin::qvlmstat::protocol;
using Command = protocol::Command;
using Kind = protocol::StatusAnswer::Kind;

class TestMonitorProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requests_data();
    void requests();
    void answers_data();
    void answers();
    void namesAndReasonsStayOnTheirLine();
};

void TestMonitorProtocol::requests_data()
{
    QTest::addColumn<QByteArray>("line"); // without its LF
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("name");

    const int invalid = int(Command::Invalid);
    QTest::newRow("status") << "status QVT-Front"_ba << int(Command::Status) << "QVT-Front"_ba;
    QTest::newRow("status of an instance")
        << "status QVT-Front/receipt"_ba << int(Command::Status) << "QVT-Front"_ba;
    QTest::newRow("a CR before the LF")
        << "status QVT-Front\r"_ba << int(Command::Status) << "QVT-Front"_ba;
    QTest::newRow("blanks around")
        << " \tstatus  QVT-Front "_ba << int(Command::Status) << "QVT-Front"_ba;
    QTest::newRow("UTF-8 name") << "status Caf\xc3\xa9-QVT"_ba << int(Command::Status)
                                << "Caf\xc3\xa9-QVT"_ba;
    QTest::newRow("default") << "default"_ba << int(Command::Default) << QByteArray();
    QTest::newRow("list") << "list"_ba << int(Command::List) << QByteArray();
    QTest::newRow("bits") << "bits QVT-Front"_ba << int(Command::Bits) << "QVT-Front"_ba;
    QTest::newRow("version") << "version"_ba << int(Command::Version) << QByteArray();

    QTest::newRow("empty") << QByteArray() << invalid << QByteArray();
    QTest::newRow("unknown request") << "print QVT-Front"_ba << invalid << QByteArray();
    QTest::newRow("upper case") << "STATUS QVT-Front"_ba << invalid << QByteArray();
    QTest::newRow("status without a name") << "status"_ba << invalid << QByteArray();
    QTest::newRow("status of an instance alone") << "status /receipt"_ba << invalid << QByteArray();
    QTest::newRow("status of two names") << "status QVT-A QVT-B"_ba << invalid << QByteArray();
    QTest::newRow("list with an argument") << "list all"_ba << invalid << QByteArray();
    QTest::newRow("a control character in a name")
        << "status QVT\x01"_ba << invalid << QByteArray();
    QTest::newRow("a NUL in a name") << QByteArray("status QVT\0X", 12) << invalid << QByteArray();
    QTest::newRow("Latin-1") << "status Caf\xe9"_ba << invalid << QByteArray();
    QTest::newRow("overlong UTF-8") << "status \xc0\xaf"_ba << invalid << QByteArray();
    QTest::newRow("UTF-8 surrogate") << "status \xed\xa0\x80"_ba << invalid << QByteArray();
    QTest::newRow("UTF-8 cut short") << "status QVT\xe2\x82"_ba << invalid << QByteArray();
}

void TestMonitorProtocol::requests()
{
    QFETCH(QByteArray, line);
    QFETCH(int, command);
    QFETCH(QByteArray, name);
    const protocol::Request request =
        protocol::parseRequest({line.constData(), size_t(line.size())});
    QCOMPARE(int(request.command), command);
    QCOMPARE(QByteArray::fromStdString(request.name), name);
    QCOMPARE(request.error.empty(), command != int(Command::Invalid));
    // An error line is one line whatever was asked.
    const std::string error = protocol::errorLine(request.error);
    QCOMPARE(std::count(error.begin(), error.end(), '\n'), 1);
}

void TestMonitorProtocol::answers_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("word");
    QTest::addColumn<QByteArray>("reason");

    const int malformed = int(Kind::Malformed);
    QTest::newRow("ok") << "ok QVT-Front 0x0010 12"_ba << int(Kind::Ok) << "QVT-Front"_ba << 0x10
                        << QByteArray();
    QTest::newRow("ok with a reason")
        << "ok QVT-Front 0x0081 0 QVT-Front: 127.0.0.1:9100 did not answer"_ba << int(Kind::Ok)
        << "QVT-Front"_ba << 0x81 << "QVT-Front: 127.0.0.1:9100 did not answer"_ba;
    QTest::newRow("ok, five digits")
        << "ok Q 0x12345 1"_ba << int(Kind::Ok) << "Q"_ba << 0x12345 << QByteArray();
    QTest::newRow("unknown") << "unknown QVT-Front"_ba << int(Kind::Unknown) << "QVT-Front"_ba
                             << 0x80 << QByteArray();
    QTest::newRow("pending") << "pending QVT-Front"_ba << int(Kind::Pending) << "QVT-Front"_ba
                             << 0x80 << QByteArray();
    QTest::newRow("none") << "none"_ba << int(Kind::None) << QByteArray() << 0x80 << QByteArray();
    QTest::newRow("error") << "error busy"_ba << int(Kind::Error) << QByteArray() << 0x80
                           << "busy"_ba;

    QTest::newRow("empty") << QByteArray() << malformed << QByteArray() << 0x80 << QByteArray();
    QTest::newRow("word without 0x")
        << "ok Q 0010 1"_ba << malformed << QByteArray() << 0x80 << QByteArray();
    QTest::newRow("word of three digits")
        << "ok Q 0x010 1"_ba << malformed << QByteArray() << 0x80 << QByteArray();
    QTest::newRow("word beyond 32 bits")
        << "ok Q 0x100000000 1"_ba << malformed << QByteArray() << 0x80 << QByteArray();
    QTest::newRow("negative age") << "ok Q 0x0010 -1"_ba << malformed << QByteArray() << 0x80
                                  << QByteArray();
    QTest::newRow("no age") << "ok Q 0x0010"_ba << malformed << QByteArray() << 0x80
                            << QByteArray();
    QTest::newRow("unknown without a name")
        << "unknown"_ba << malformed << QByteArray() << 0x80 << QByteArray();
    QTest::newRow("something else")
        << "HTTP/1.1 200 OK"_ba << malformed << QByteArray() << 0x80 << QByteArray();
}

void TestMonitorProtocol::answers()
{
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(QByteArray, name);
    QFETCH(int, word);
    QFETCH(QByteArray, reason);
    const protocol::StatusAnswer answer =
        protocol::parseStatusAnswer({line.constData(), size_t(line.size())});
    QCOMPARE(int(answer.kind), kind);
    QCOMPARE(QByteArray::fromStdString(answer.name), name);
    QCOMPARE(answer.word, word);
    QCOMPARE(QByteArray::fromStdString(answer.reason), reason);
}

// A name or reason from the scheduler that holds a line break or a terminal's escape does not
// make a second answer line; and what the monitor writes, the library reads back.
void TestMonitorProtocol::namesAndReasonsStayOnTheirLine()
{
    const std::string line = protocol::okLine("QVT\nok", 0x0080, 7, "QVT: /dev/x\ny\x1b[2J");
    QCOMPARE(line, "ok QVT?ok 0x0080 7 QVT: /dev/x?y?[2J\n");
    const protocol::StatusAnswer answer =
        protocol::parseStatusAnswer(std::string_view(line).substr(0, line.size() - 1));
    QCOMPARE(int(answer.kind), int(Kind::Ok));
    QCOMPARE(answer.word, 0x0080);
    QCOMPARE(answer.ageMs, 7U);
    QCOMPARE(answer.reason, "QVT: /dev/x?y?[2J");
    QCOMPARE(protocol::okLine("Q", 0x12345, 0, ""), "ok Q 0x12345 0\n");
}

QTEST_GUILESS_MAIN(TestMonitorProtocol)
#include "tst_monitorprotocol.moc"
