// SPDX-License-Identifier: MIT
// The printer simulator as the library's tests and the demonstration use it: its answers to the
// real-time status request (DLE EOT n) over TCP and a pseudo-terminal, its commands, its faults
// and its one connection at a time.

#include "printersim.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

const QByteArray AllFourRequests = QByteArray::fromHex("100401100402100403100404");

// A descriptor of the test's side, closed when it goes.
struct Port
{
    int fd = -1;
    bool closedByPeer = false;

    ~Port() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool send(const QByteArray &bytes) const
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // What arrives until count bytes are in, the peer closes, or the time is up.
    QByteArray receive(int count, int milliseconds = 5000)
    {
        QByteArray bytes;
        const QDeadlineTimer deadline(milliseconds);
        while (bytes.size() < count && !deadline.hasExpired()) {
            pollfd ready{fd, POLLIN, 0};
            char buffer[256];
            if (::poll(&ready, 1, int(deadline.remainingTime())) <= 0)
                continue;
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            closedByPeer = got <= 0;
            if (closedByPeer)
                break;
            bytes.append(buffer, got);
        }
        return bytes;
    }
};

// The slave of the simulator's pseudo-terminal, opened and set raw as a serial line's user does.
Port openPty(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    return Port{fd};
}

Port openChannel(PrinterSim &sim, const QString &channel)
{
    return channel == "tcp"_L1 ? Port{sim.connectToPort()} : openPty(sim.pty());
}

bool isValidAnswer(char byte)
{
    return (byte & 0x93) == 0x12;
}

int descriptorsOf(const QProcess &process)
{
    const QDir fds(u"/proc/%1/fd"_s.arg(process.processId()));
    return int(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestPrinterSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data();
    void answers();
    void onlyTheRequestIsAnswered_data();
    void onlyTheRequestIsAnswered();
    void oneConnectionAtATime();
    void faults_data();
    void faults();
    void aSlowPrinterAnswersInTurn_data();
    void aSlowPrinterAnswersInTurn();
    void badCommandsChangeNothing_data();
    void badCommandsChangeNothing();
    void cycleTurnsRound();
    void endings_data();
    void endings();
};

void TestPrinterSim::answers_data()
{
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QByteArray>("expected"); // the answers to DLE EOT 1 to 4

    for (const QString &channel : {u"tcp"_s, u"pty"_s}) {
        const auto row = [&](const char *name) -> QTestData & {
            return QTest::addRow("%s over %s", name, qPrintable(channel)) << channel;
        };
        row("default") << QStringList() << QByteArray::fromHex("12121212");
        row("raw bytes") << QStringList{u"answer 1 0x1a"_s, u"answer 4 0XFF"_s}
                         << QByteArray::fromHex("1a1212ff");
        row("conditions together")
            << QStringList{u"state offline cover-open cutter-error paper-end"_s}
            << QByteArray::fromHex("1a161a72");
        row("state replaces state") << QStringList{u"state error"_s, u"state over-temp"_s}
                                    << QByteArray::fromHex("12125212");
        row("clear") << QStringList{u"state paper-end"_s, u"state clear"_s}
                     << QByteArray::fromHex("12121212");
    }
    const std::pair<const char *, const char *> conditions[] = {
        {"offline", "1a121212"},      {"cover-open", "12161212"},
        {"feed-button", "121a1212"},  {"paper-end-stop", "12321212"},
        {"error", "12521212"},        {"recoverable-error", "12121612"},
        {"cutter-error", "12121a12"}, {"unrecoverable-error", "12123212"},
        {"over-temp", "12125212"},    {"paper-near-end", "1212121e"},
        {"paper-end", "12121272"},
    };
    for (const auto &[condition, answers] : conditions) {
        QTest::addRow("%s", condition)
            << u"tcp"_s << QStringList{u"state "_s + QLatin1StringView(condition)}
            << QByteArray::fromHex(answers);
    }
}

void TestPrinterSim::answers()
{
    QFETCH(QString, channel);
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, expected);
    PrinterSim sim;
    QVERIFY(sim.start());
    for (const QString &command : std::as_const(commands))
        QCOMPARE(sim.command(command), u"ok"_s);
    Port port = openChannel(sim, channel);
    QVERIFY(port.fd >= 0);
    QVERIFY(port.send(AllFourRequests));
    QCOMPARE(port.receive(4).toHex(), expected.toHex());
}

void TestPrinterSim::onlyTheRequestIsAnswered_data()
{
    QTest::addColumn<QString>("channel");
    QTest::newRow("tcp") << u"tcp"_s;
    QTest::newRow("pty") << u"pty"_s;
}

void TestPrinterSim::onlyTheRequestIsAnswered()
{
    QFETCH(QString, channel);
    PrinterSim sim;
    QVERIFY(sim.start());
    for (const char *command : {"answer 1 0x16", "answer 2 0x1a", "answer 3 0x32", "answer 4 0x52"})
        QCOMPARE(sim.command(QString::fromLatin1(command)), u"ok"_s);
    Port port = openChannel(sim, channel);
    // Another command, n out of range, DLE twice, and a request split over two writes; the last
    // request marks the end.
    const QByteArray first = QByteArray::fromHex("1b40 100405 100000 10100402 1004");
    const QByteArray second = QByteArray::fromHex("03 1004 0a 100404");
    QVERIFY(port.send(first));
    QCOMPARE(port.receive(1).toHex(), "1a");
    QVERIFY(port.send(second));
    QCOMPARE(port.receive(2).toHex(), "3252");
    QCOMPARE(sim.command(u"received"_s), "ok "_L1 + QLatin1StringView((first + second).toHex(' ')));
    // A reset forgets the traffic, not the state.
    QCOMPARE(sim.command(u"reset"_s), u"ok"_s);
    QCOMPARE(sim.command(u"received"_s), u"ok"_s);
    QCOMPARE(sim.command(u"connections"_s), u"ok 0"_s);
    QVERIFY(port.send(QByteArray::fromHex("100402")));
    QCOMPARE(port.receive(1).toHex(), "1a");
}

void TestPrinterSim::oneConnectionAtATime()
{
    PrinterSim sim;
    QVERIFY(sim.start({u"--tcp"_s, u"0"_s}));
    const int idle = descriptorsOf(sim.process());
    const QByteArray request = QByteArray::fromHex("100401");
    Port first{sim.connectToPort()};
    QVERIFY(first.send(request));
    QCOMPARE(first.receive(1).size(), 1);
    // The second is let in by the system, not served.
    Port second{sim.connectToPort()};
    QVERIFY(second.fd >= 0);
    QVERIFY(second.send(request));
    QVERIFY(first.send(request));
    QCOMPARE(first.receive(1).size(), 1);
    QCOMPARE(sim.command(u"connections"_s), u"ok 1"_s);
    QCOMPARE(second.receive(1, 100), QByteArray());
    first.close();
    QCOMPARE(second.receive(1).toHex(), "12");
    QCOMPARE(sim.command(u"connections"_s), u"ok 2"_s);
    second.close();
    QTRY_COMPARE(descriptorsOf(sim.process()), idle);
}

void TestPrinterSim::faults_data()
{
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("fault");
    for (const QString &channel : {u"tcp"_s, u"pty"_s}) {
        for (const QString &fault : {u"silent"_s, u"invalid"_s, u"trickle"_s, u"close"_s})
            QTest::addRow("%s over %s", qPrintable(fault), qPrintable(channel)) << channel << fault;
    }
}

void TestPrinterSim::faults()
{
    QFETCH(QString, channel);
    QFETCH(QString, fault);
    PrinterSim sim;
    QVERIFY(sim.start());
    QCOMPARE(sim.command("fault "_L1 + fault), u"ok"_s);
    {
        Port port = openChannel(sim, channel);
        QVERIFY(port.send(AllFourRequests));
        if (fault == "close"_L1 && channel == "tcp"_L1) {
            QCOMPARE(port.receive(1), QByteArray());
            QVERIFY(port.closedByPeer);
            QCOMPARE(sim.command(u"connections"_s), u"ok 1"_s);
        } else if (fault == "silent"_L1 || fault == "close"_L1) {
            QTRY_COMPARE(sim.command(u"received"_s),
                         "ok "_L1 + QLatin1StringView(AllFourRequests.toHex(' ')));
            QCOMPARE(port.receive(1, 100), QByteArray());
        } else {
            // Invalid: one byte per request; trickle: more than were asked for, slowly.
            const QByteArray bytes = port.receive(fault == "trickle"_L1 ? 8 : 4);
            QCOMPARE(bytes.size(), fault == "trickle"_L1 ? 8 : 4);
            for (const char byte : bytes)
                QVERIFY2(!isValidAnswer(byte), QByteArray(1, byte).toHex().constData());
            // Trickling goes on; the next byte is left unread for the check below.
            pollfd next{port.fd, POLLIN, 0};
            QVERIFY(fault != "trickle"_L1 || ::poll(&next, 1, 5000) == 1);
        }
    }
    // And back: nothing left over from the fault comes before the answers.
    QCOMPARE(sim.command(u"fault none"_s), u"ok"_s);
    Port port = openChannel(sim, channel);
    QVERIFY(port.send(AllFourRequests));
    QCOMPARE(port.receive(4).toHex(), "12121212");
}

void TestPrinterSim::aSlowPrinterAnswersInTurn_data()
{
    onlyTheRequestIsAnswered_data();
}

// Each answer comes its delay after the one before: never sooner, whatever the machine's load.
void TestPrinterSim::aSlowPrinterAnswersInTurn()
{
    QFETCH(QString, channel);
    PrinterSim sim;
    QVERIFY(sim.start());
    QCOMPARE(sim.command(u"delay 300"_s), u"ok"_s);
    QCOMPARE(sim.command(u"state paper-near-end"_s), u"ok"_s);
    Port port = openChannel(sim, channel);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(port.send(AllFourRequests));
    QCOMPARE(port.receive(1, 100), QByteArray());
    QCOMPARE(port.receive(4, 10000).toHex(), "1212121e");
    QVERIFY2(timer.elapsed() >= 1200, qPrintable(u"%1 ms"_s.arg(timer.elapsed())));
    // And back to answering at once.
    QCOMPARE(sim.command(u"delay 0"_s), u"ok"_s);
    QVERIFY(port.send(AllFourRequests));
    QCOMPARE(port.receive(4).toHex(), "1212121e");
}

void TestPrinterSim::badCommandsChangeNothing_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("unknown command") << u"print hello"_s;
    QTest::newRow("empty line") << QString();
    QTest::newRow("request 5") << u"answer 5 0x12"_s;
    QTest::newRow("byte out of range") << u"answer 2 0x100"_s;
    QTest::newRow("byte not hexadecimal") << u"answer 2 0xg1"_s;
    QTest::newRow("unknown condition after a known one") << u"state offline jammed"_s;
    QTest::newRow("state without conditions") << u"state"_s;
    QTest::newRow("unknown fault") << u"fault loud"_s;
    QTest::newRow("delay beyond a minute") << u"delay 60001"_s;
    QTest::newRow("delay not a number") << u"delay soon"_s;
    QTest::newRow("line beyond the limit") << QString(5000, u'x');
}

void TestPrinterSim::badCommandsChangeNothing()
{
    QFETCH(QString, line);
    PrinterSim sim;
    QVERIFY(sim.start());
    QCOMPARE(sim.command(u"state cover-open"_s), u"ok"_s);
    QVERIFY(sim.command(line).startsWith("error "_L1));
    // Exactly one line was answered: the next answer is the next command's.
    QCOMPARE(sim.command(u"connections"_s), u"ok 0"_s);
    Port port = openPty(sim.pty());
    QVERIFY(port.send(AllFourRequests));
    QCOMPARE(port.receive(4).toHex(), "12161212");
}

void TestPrinterSim::cycleTurnsRound()
{
    PrinterSim sim;
    QVERIFY(sim.start({u"--pty"_s, u"--cycle"_s, u"300"_s}));
    Port port = openPty(sim.pty());
    // Paper low, paper out, cover open, clear, and round again; each seen in turn.
    const QByteArrayList cycle{"1212121e", "12121272", "12161212", "12121212"};
    QByteArrayList seen;
    const QDeadlineTimer deadline(10000);
    while (seen.size() < 6 && !deadline.hasExpired()) {
        QVERIFY(port.send(AllFourRequests));
        const QByteArray answers = port.receive(4).toHex();
        if (seen.isEmpty() || seen.last() != answers)
            seen << answers;
        QThread::msleep(5);
    }
    for (qsizetype i = 1; i < seen.size(); ++i)
        QCOMPARE(seen[i], cycle[(cycle.indexOf(seen[i - 1]) + 1) % cycle.size()]);
    QCOMPARE(seen.size(), 6);
}

void TestPrinterSim::endings_data()
{
    QTest::addColumn<QString>("how");
    for (const QString &how : {u"quit"_s, u"end of input"_s, u"SIGTERM"_s, u"SIGINT"_s})
        QTest::newRow(qPrintable(how)) << how;
}

void TestPrinterSim::endings()
{
    QFETCH(QString, how);
    PrinterSim sim;
    QVERIFY(sim.start());
    const Port connected{sim.connectToPort()};
    if (how == "quit"_L1)
        QCOMPARE(sim.command(u"quit"_s), u"ok"_s);
    else if (how == "end of input"_L1)
        sim.process().closeWriteChannel();
    else
        ::kill(pid_t(sim.process().processId()), how == "SIGTERM"_L1 ? SIGTERM : SIGINT);
    QVERIFY(sim.process().waitForFinished(5000));
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestPrinterSim)
#include "tst_printersim.moc"
