// SPDX-License-Identifier: MIT
// One conversation at a time on a serial line: callers of the status library in several
// processes and threads, and the monitor, all asking the printer simulator on one
// pseudo-terminal through a queue of the private scheduler. Every word is right, and the line
// keeps the settings it had.

#include "monitorprocess.h"
#include "printersim.h"
#include "privatecups.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <termios.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QList<int> PaperNearEnd = {0x12, 0x12, 0x12, 0x1E};
constexpr int Calls = 100;

// The settings the line has before and must have after: none of them the queue's.
termios settingsOfOurOwn(const termios &current)
{
    termios settings = current;
    ::cfmakeraw(&settings);
    settings.c_cflag = (settings.c_cflag & ~tcflag_t(CSIZE)) | CS7 | PARENB;
    settings.c_iflag |= IXON;
    ::cfsetispeed(&settings, B2400);
    ::cfsetospeed(&settings, B2400);
    return settings;
}

bool same(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && ::cfgetispeed(&a) == ::cfgetispeed(&b) &&
           ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

QString describe(const termios &settings)
{
    return u"iflag %1 oflag %2 cflag %3 lflag %4"_s.arg(settings.c_iflag)
        .arg(settings.c_oflag)
        .arg(settings.c_cflag)
        .arg(settings.c_lflag);
}

} // namespace

class TestDeviceLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void oneConversationAtATime_data();
    void oneConversationAtATime();
};

void TestDeviceLock::initTestCase()
{
    if (PrivateCups::folder().isEmpty())
        QFAIL(qPrintable(PrivateCups::whyUnavailable()));
}

void TestDeviceLock::oneConversationAtATime_data()
{
    QTest::addColumn<int>("processes");
    QTest::addColumn<int>("threads"); // in each process
    QTest::addColumn<bool>("monitor");
    QTest::newRow("two processes") << 2 << 1 << false;
    QTest::newRow("two threads of one process") << 1 << 2 << false;
    QTest::newRow("two processes and the monitor") << 2 << 1 << true;
}

void TestDeviceLock::oneConversationAtATime()
{
    QFETCH(int, processes);
    QFETCH(int, threads);
    QFETCH(bool, monitor);
    QVERIFY(PrivateCups::removeEverything());
    PrinterSim printer;
    QVERIFY(printer.start({u"--pty"_s}));
    QVERIFY(printer.answer(PaperNearEnd));
    QVERIFY(PrivateCups::addQueue(u"QVT-Line"_s, u"serial:%1?baud=9600"_s.arg(printer.pty())));

    const int line = ::open(QFile::encodeName(printer.pty()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(line >= 0);
    termios before{};
    QCOMPARE(::tcgetattr(line, &before), 0);
    before = settingsOfOurOwn(before);
    QCOMPARE(::tcsetattr(line, TCSANOW, &before), 0);
    QCOMPARE(::tcgetattr(line, &before), 0); // as the line took them

    QTemporaryDir dir(u"/tmp/rvlock.XXXXXX"_s);
    std::unique_ptr<MonitorProcess> watching;
    if (monitor) {
        watching = std::make_unique<MonitorProcess>(dir.filePath(u"monitor.sock"_s));
        QVERIFY(watching->start({u"--period"_s, u"100"_s}));
        QTRY_VERIFY(watching->ask("status QVT-Line").startsWith("ok QVT-Line 0x0010 "));
    }
    // The callers ask the line themselves, as with no monitor.
    std::vector<std::unique_ptr<QProcess>> callers;
    for (int i = 0; i < processes; ++i) {
        auto &caller = callers.emplace_back(std::make_unique<QProcess>());
        caller->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        caller->start(QStringLiteral(LOCKCALLER_PATH),
                      {QStringLiteral(QVLMSTAT_PATH), u"QVT-Line"_s, QString::number(Calls),
                       QString::number(threads)});
    }
    for (auto &caller : callers) {
        QVERIFY(caller->waitForFinished(60000));
        QCOMPARE(caller->exitCode(), 0);
        QCOMPARE(caller->readAllStandardOutput(),
                 "0x0010 " + QByteArray::number(Calls * threads) + "\n");
    }
    if (watching) {
        QVERIFY(watching->ask("status QVT-Line").startsWith("ok QVT-Line 0x0010 "));
        QVERIFY(watching->stop());
        // Never a reason: never a wrong word.
        QCOMPARE(watching->log().filter(u"QVT-Line:"_s), QStringList());
    }
    termios after{};
    QCOMPARE(::tcgetattr(line, &after), 0);
    ::close(line);
    QVERIFY2(same(after, before), qPrintable(describe(before) + u" before, "_s + describe(after)));
}

QTEST_GUILESS_MAIN(TestDeviceLock)
#include "tst_devicelock.moc"
