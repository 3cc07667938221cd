// SPDX-License-Identifier: MIT
// The stand-in asking a simulated network printer of the series on loopback, call by call,
// against the scheduler-only path of the same library and scheduler, and against the way
// receipt-printer libraries commonly ask: write the four requests, sleep 100 ms, read. Then one
// call while the printer is silent. Sets its queues up on the private scheduler that
// CUPS_SERVER names (it refuses to run without one) and prints key=value lines.
//
//   bench_livestatus LIBRARY [CALLS [SLEEPS]]

#include "printersim.h"
#include "privatecups.h"
#include "statuslibrary.h"
#include "timing.h"

#include <QCoreApplication>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::microsecondsSince;

// The common way: one connection, the four requests at once, a fixed wait, whatever has come.
// The number of answer bytes read, -1 when the connection failed.
int askWithASleep(const PrinterSim &printer)
{
    const int fd = printer.connectToPort();
    if (fd < 0)
        return -1;
    int count = -1;
    const std::array<unsigned char, 12> requests = {0x10, 0x04, 1, 0x10, 0x04, 2,
                                                    0x10, 0x04, 3, 0x10, 0x04, 4};
    if (::send(fd, requests.data(), requests.size(), MSG_NOSIGNAL) == ssize_t(requests.size())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::array<unsigned char, 16> answers{};
        count = int(::recv(fd, answers.data(), answers.size(), MSG_DONTWAIT));
    }
    ::close(fd);
    return count;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench_livestatus: %s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_livestatus LIBRARY [CALLS [SLEEPS]]\n");
        return 2;
    }
    if (PrivateCups::folder().isEmpty()) {
        std::fprintf(stderr, "bench_livestatus: run it under scripts/private-cups, never against "
                             "the machine's scheduler\n");
        return 2;
    }
    const int calls = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int sleeps = argc > 3 ? std::atoi(argv[3]) : 20;

    PrinterSim printer;
    if (!printer.start())
        fail("the printer simulator did not start");
    // Paper near its end: a word that only the printer can give.
    if (!printer.answer({0x12, 0x12, 0x12, 0x1E}) ||
        !PrivateCups::addQueue(QStringLiteral("QVT-Live"), printer.socketUri()) ||
        !PrivateCups::addQueue(QStringLiteral("QVT-Spooled")) ||
        !PrivateCups::setReasons(QStringLiteral("QVT-Spooled"), {QStringLiteral("media-low")})) {
        fail("could not set the queues up");
    }

    ravelin::StatusLibrary library({QString::fromLocal8Bit(argv[1])});
    // Loads it, unmeasured; both words are Paper Low, one from the printer, one from the
    // scheduler.
    const ravelin::StatusWord live = library.GetPrinterStatus(QStringLiteral("QVT-Live"));
    const ravelin::StatusWord spooled = library.GetPrinterStatus(QStringLiteral("QVT-Spooled"));
    if (live != 0x0010 || spooled != 0x0010)
        fail("unexpected status words");

    std::vector<double> liveTimes, spooledTimes, sleepTimes;
    for (int i = 0; i < calls; ++i) {
        auto start = Clock::now();
        const ravelin::StatusWord word = library.GetPrinterStatus(QStringLiteral("QVT-Live"));
        liveTimes.push_back(microsecondsSince(start));
        start = Clock::now();
        const ravelin::StatusWord scheduler =
            library.GetPrinterStatus(QStringLiteral("QVT-Spooled"));
        spooledTimes.push_back(microsecondsSince(start));
        if (word != live || scheduler != spooled)
            fail("a status word changed meanwhile");
    }
    for (int i = 0; i < sleeps; ++i) {
        const auto start = Clock::now();
        if (askWithASleep(printer) != 4)
            fail("the sleep-based way did not read four answers");
        sleepTimes.push_back(microsecondsSince(start));
    }
    const int connections = printer.connections();

    // A silent printer: the call gives it the budget and no more.
    if (!printer.run(QStringLiteral("fault silent")))
        fail("the simulator did not fall silent");
    const auto start = Clock::now();
    const ravelin::StatusWord silent = library.GetPrinterStatus(QStringLiteral("QVT-Live"));
    const double silentMs = microsecondsSince(start) / 1000;

    const double call = median(liveTimes), scheduler = median(spooledTimes),
                 sleep = median(sleepTimes);
    std::printf("live.word=0x%04X\nlive.calls=%d\nlive.call_us=%.0f\nlive.scheduler_us=%.0f\n"
                "live.sleeps=%d\nlive.sleep_us=%.0f\nlive.ratio=%.0f\nlive.connections=%d\n"
                "live.silent_word=0x%04X\nlive.silent_ms=%.0f\n",
                unsigned(live), calls, call, scheduler, sleeps, sleep, sleep / call, connections,
                unsigned(silent), silentMs);
    return 0;
}
