// SPDX-License-Identifier: MIT
// A status call answered by the language monitor: the stand-in asking a ravelin-monitor of the
// benchmark's own, which reads a simulated network printer of the series on a private scheduler,
// call by call; and the same calls with no monitor, for reference. Sets its queue up on the
// private scheduler that CUPS_SERVER names (it refuses to run without one) and prints key=value
// lines.
//
//   bench_monitor LIBRARY [CALLS]

#include "monitorprocess.h"
#include "printersim.h"
#include "privatecups.h"
#include "statuslibrary.h"
#include "timing.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench_monitor: %s\n", what);
    std::exit(1);
}

// The times of calls of GetPrinterStatus on the queue, in microseconds, sorted; every word must
// be word.
std::vector<double> callTimes(ravelin::StatusLibrary &library, int calls, ravelin::StatusWord word)
{
    std::vector<double> times;
    for (int i = 0; i < calls; ++i) {
        const auto start = bench::Clock::now();
        const ravelin::StatusWord got = library.GetPrinterStatus(QStringLiteral("QVT-Live"));
        times.push_back(bench::microsecondsSince(start));
        if (got != word)
            fail("a status word changed meanwhile");
    }
    std::sort(times.begin(), times.end());
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_monitor LIBRARY [CALLS]\n");
        return 2;
    }
    if (PrivateCups::folder().isEmpty())
        fail("run it under scripts/private-cups, never against the machine's scheduler");
    const int calls = argc > 2 ? std::atoi(argv[2]) : 2000;

    PrinterSim printer;
    if (!printer.start({QStringLiteral("--tcp"), QStringLiteral("0")}))
        fail("the printer simulator did not start");
    // Paper near its end: a word that only the printer can give.
    if (!printer.answer({0x12, 0x12, 0x12, 0x1E}) ||
        !PrivateCups::addQueue(QStringLiteral("QVT-Live"), printer.socketUri())) {
        fail("could not set the queue up");
    }
    MonitorProcess monitor(PrivateCups::folder() + QStringLiteral("/monitor.sock"));
    if (!monitor.start())
        fail("the monitor did not start");
    for (int wait = 0; !monitor.ask("status QVT-Live").startsWith("ok QVT-Live 0x0010 "); ++wait) {
        if (wait == 100)
            fail("the monitor did not read the printer");
        QThread::msleep(50);
    }

    ravelin::StatusLibrary library({QString::fromLocal8Bit(argv[1])});
    qputenv("RAVELIN_MONITOR_SOCKET", QFile::encodeName(monitor.socketPath()));
    if (library.GetPrinterStatus(QStringLiteral("QVT-Live")) != 0x0010) // loads it, unmeasured
        fail("unexpected status word");
    const int before = printer.connections();
    const std::vector<double> answered = callTimes(library, calls, 0x0010);
    // The monitor reads once a second meanwhile; the calls themselves connect to no printer.
    const int monitorReadings = printer.connections() - before;
    monitor.stop();

    qputenv("RAVELIN_MONITOR_SOCKET", "");
    const double direct = bench::median(callTimes(library, calls / 4, 0x0010));
    std::printf("monitor.calls=%d\nmonitor.call_us=%.0f\nmonitor.p99_us=%.0f\nmonitor.max_us=%.0f\n"
                "monitor.direct_us=%.0f\nmonitor.readings=%d\nmonitor.word=0x0010\n",
                calls, bench::median(answered), answered[answered.size() * 99 / 100],
                answered.back(), direct, monitorReadings);
    return 0;
}
