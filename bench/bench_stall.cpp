// SPDX-License-Identifier: MIT
// The window held up by printers, or not: the program's window over the stand-in, polling at
// the fastest period (1 ms), its printer box turning every two seconds between a silent printer,
// one that takes 190 ms per answer and a healthy one (three printer simulators behind queues of
// a private scheduler). The longest stall of the window's event loop is measured from outside
// the program's code, as the longest gap between two passes of the loop (a zero-interval
// timer). First with a language monitor of the benchmark's own answering the library, then, for
// reference, with none. Prints key=value lines; needs a private scheduler (scripts/private-cups
// run).
//
//   bench_stall LIBRARY [SECONDS [SECONDS_WITHOUT_MONITOR]]   (60 and 20 unless given)

#include "benchrig.h"
#include "monitorprocess.h"
#include "pollingtimer.h"
#include "printersim.h"
#include "privatecups.h"
#include "timing.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

const QStringList Queues = {u"QVT-Healthy"_s, u"QVT-Silent"_s, u"QVT-Slow"_s};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench_stall: %s\n", what);
    std::exit(1);
}

// The goal for the longest stall, in milliseconds.
constexpr double GoalMs = 50;

struct Stalls
{
    double longestMs = 0;
    long overGoal = 0; // stalls longer than the goal
    long passes = 0;
    long queries = 0;
};

// Polls for the given time with a fresh window and measures the loop's longest gap.
Stalls poll(const QString &library, int seconds)
{
    WindowRig rig(Queues, {library}, WindowRig::Timing::System);
    rig.window.Form_Load();
    rig.window.show();
    bench::settle();
    auto *printers = rig.control<QComboBox>(u"ComboPrintersList"_s);
    rig.control<QComboBox>(u"comboParallelInterval"_s)->setEditText(u"1"_s);
    rig.control<QCheckBox>(u"chkUsePrinterSelected"_s)->click();
    printers->setCurrentIndex(0);

    Stalls stalls;
    auto *polling = rig.window.findChild<ravelin::PollingTimer *>(u"tmrPrinterStatusPoll"_s);
    if (!polling)
        fail("no polling timer");
    QObject::connect(polling, &ravelin::PollingTimer::timeout, [&] { ++stalls.queries; });

    QTimer pass;
    pass.setInterval(0);
    auto last = bench::Clock::now();
    QObject::connect(&pass, &QTimer::timeout, [&] {
        const auto now = bench::Clock::now();
        const double gap = std::chrono::duration<double, std::milli>(now - last).count();
        stalls.longestMs = std::max(stalls.longestMs, gap);
        stalls.overGoal += gap > GoalMs ? 1 : 0;
        last = now;
        ++stalls.passes;
    });
    QTimer turn;
    turn.setInterval(2000);
    QObject::connect(&turn, &QTimer::timeout,
                     [&] { printers->setCurrentIndex((printers->currentIndex() + 1) % 3); });
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);

    rig.control<QPushButton>(u"chkEnableStatusPolling"_s)->click();
    last = bench::Clock::now();
    pass.start();
    turn.start();
    loop.exec();
    rig.control<QPushButton>(u"chkEnableStatusPolling"_s)->click();
    return stalls;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = bench::startApplication(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_stall LIBRARY [SECONDS [SECONDS_WITHOUT_MONITOR]]\n");
        return 2;
    }
    if (PrivateCups::folder().isEmpty())
        fail("run it under scripts/private-cups, never against the machine's scheduler");
    const QString library = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int without = argc > 3 ? std::atoi(argv[3]) : 20;

    PrinterSim healthy, silent, slow;
    for (PrinterSim *printer : {&healthy, &silent, &slow}) {
        if (!printer->start({u"--tcp"_s, u"0"_s}))
            fail("a printer simulator did not start");
    }
    if (!silent.run(u"fault silent"_s) || !slow.run(u"delay 190"_s) ||
        !PrivateCups::addQueue(Queues[0], healthy.socketUri()) ||
        !PrivateCups::addQueue(Queues[1], silent.socketUri()) ||
        !PrivateCups::addQueue(Queues[2], slow.socketUri())) {
        fail("could not set the printers up");
    }

    MonitorProcess monitor(PrivateCups::folder() + u"/monitor.sock"_s);
    if (!monitor.start())
        fail("the monitor did not start");
    for (int wait = 0; wait < 200; ++wait) {
        if (monitor.ask("status QVT-Slow").startsWith("ok QVT-Slow 0x0000 ") &&
            monitor.ask("status QVT-Silent").startsWith("ok QVT-Silent 0x0080 "))
            break;
        QThread::msleep(50);
    }
    qputenv("RAVELIN_MONITOR_SOCKET", QFile::encodeName(monitor.socketPath()));
    const Stalls with = poll(library, seconds);
    const QByteArray words = monitor.ask("list");
    monitor.stop();

    qputenv("RAVELIN_MONITOR_SOCKET", "");
    const Stalls before = poll(library, without);

    std::printf("stall.seconds=%d\nstall.longest_ms=%.1f\nstall.over_goal=%ld\nstall.passes=%ld\n"
                "stall.queries=%ld\nstall.before_seconds=%d\nstall.before_longest_ms=%.1f\n"
                "stall.before_over_goal=%ld\nstall.before_queries=%ld\nstall.words=%s\n",
                seconds, with.longestMs, with.overGoal, with.passes, with.queries, without,
                before.longestMs, before.overGoal, before.queries,
                words.simplified().replace(' ', '_').constData());
    return 0;
}
