// SPDX-License-Identifier: MIT
// The framing of the scheduler's HTTP responses, from a table. Every response is fed whole and
// then byte by byte, as a scheduler that trickles would send it: the result must not depend on
// where the bytes were split.

#include "httpresponse.h"

#include <QTest>

using namespace Qt::StringLiterals;
using ravelin::qvlmstat::HttpResponseReader;
using State = HttpResponseReader::State;

Q_DECLARE_METATYPE(HttpResponseReader::State)

namespace {

constexpr std::size_t Cap = 4096;

struct Result
{
    State state;
    int status;
    QByteArray body;
};

Result read(const QByteArray &response, bool streamEnds, qsizetype pieceSize)
{
    HttpResponseReader reader(Cap);
    for (qsizetype at = 0; at < response.size(); at += pieceSize) {
        const QByteArray piece = response.mid(at, pieceSize);
        reader.feed(std::string_view(piece.constData(), size_t(piece.size())));
    }
    if (streamEnds)
        reader.finish();
    const std::string_view body = reader.body();
    return {reader.state(), reader.status(), QByteArray(body.data(), qsizetype(body.size()))};
}

} // namespace

class TestHttpResponse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void frame_data();
    void frame();
};

void TestHttpResponse::frame_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("streamEnds");
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const QByteArray ok = "HTTP/1.1 200 OK\r\n"_ba;
    // A response that must be refused: it has no status or body to compare.
    const auto bad = [](const char *name, const QByteArray &response, bool streamEnds = false) {
        QTest::newRow(name) << response << streamEnds << State::Bad << 0 << QByteArray();
    };
    QTest::newRow("content length, as the scheduler sends it")
        << ok + "Connection: close\r\nContent-Language: en\r\nContent-Length: 5\r\n"
                "Content-Type: application/ipp\r\nServer: CUPS/2.4 IPP/2.1\r\n\r\nhello"
        << false << State::Complete << 200 << "hello"_ba;
    QTest::newRow("content length, field names in any case")
        << ok + "CONTENT-length:   3  \r\n\r\nabc" << false << State::Complete << 200 << "abc"_ba;
    QTest::newRow("content length, bytes after the body")
        << ok + "Content-Length: 2\r\n\r\nabcdef" << false << State::Complete << 200 << "ab"_ba;
    bad("content length, the stream ends first", ok + "Content-Length: 10\r\n\r\nhello", true);
    QTest::newRow("content length, empty")
        << "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"_ba << false << State::Complete
        << 404 << ""_ba;
    QTest::newRow("chunked, with an extension and trailers")
        << ok + "Transfer-Encoding: chunked\r\n\r\n5;name=x\r\nhello\r\n6\r\n world\r\n"
                "0\r\nTrailer: x\r\n\r\n"
        << false << State::Complete << 200 << "hello world"_ba;
    QTest::newRow("chunked, hexadecimal sizes")
        << ok + "Transfer-Encoding: Chunked\r\n\r\nA\r\n0123456789\r\n0\r\n\r\n"
        << false << State::Complete << 200 << "0123456789"_ba;
    bad("chunked, the stream ends first", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n",
        true);
    bad("chunked, size not a number",
        ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n");
    bad("chunked, data longer than its size",
        ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nhello\r\n0\r\n\r\n");
    bad("chunked, size beyond the cap",
        ok + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n");
    bad("chunked, a size line that never ends",
        ok + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray(2000, '0'));
    bad("compressed", ok + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n");
    QTest::newRow("until the stream ends")
        << "HTTP/1.0 200 OK\r\n\r\nabc"_ba << true << State::Complete << 200 << "abc"_ba;
    QTest::newRow("an interim response first")
        << "HTTP/1.1 100 Continue\r\n\r\n"_ba + ok + "Content-Length: 2\r\n\r\nok" << false
        << State::Complete << 200 << "ok"_ba;
    bad("two content lengths that disagree",
        ok + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc");
    bad("content length beyond the cap", ok + "Content-Length: 100000\r\n\r\n");
    bad("more than the cap in all", ok + "Content-Length: 4090\r\n\r\n" + QByteArray(4090, 'x'));
    bad("not HTTP", "ICY 200 OK\r\n\r\nabc"_ba, true);
    bad("status not a number", "HTTP/1.1 2x0 OK\r\n\r\n"_ba, true);
    bad("a status line of the version alone", "HTTP/1.1\r\n\r\n"_ba, true);
    bad("a status line cut after the version", "HTTP/1.1 20\r\n\r\n"_ba, true);
    bad("a head that never ends", ok + QByteArray(5000, 'x'));
}

void TestHttpResponse::frame()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, streamEnds);
    QFETCH(State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    for (const qsizetype pieceSize : {qMax(response.size(), qsizetype(1)), qsizetype(1)}) {
        const Result result = read(response, streamEnds, pieceSize);
        QCOMPARE(result.state, state);
        if (state == State::Complete) {
            QCOMPARE(result.status, status);
            QCOMPARE(result.body, body);
        }
    }
}

QTEST_APPLESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
