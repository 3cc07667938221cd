// SPDX-License-Identifier: MIT
// A day of polling in one process: the query button's full action, again and again, on the
// real window, offscreen, each followed by a pass of the event loop, the log trimming itself to
// 99 lines as it goes. Prints the resident set size after the first 1,000 actions and after the
// last, as key=value lines.
//
//   bench_day [--drop-a-line] [ACTIONS]   (200,000 unless given; a day at 500 ms is 172,800)
//
// Built a second time with LeakSanitizer (bench_day_lsan), it reports at exit any memory that
// nothing points to any more. --drop-a-line takes one line out of the log at the end without
// deleting it: the leak the checker must then report, to show that it is watching.

#include "benchrig.h"

#include <QListWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

void run(bench::ShownWindow &rig, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        rig.statusDouble.script(bench::AlternatingWords[i % 2], 0);
        rig.window.cmdRetreivePrinterStatus_Click();
        bench::settle();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = bench::startApplication(argc, argv);

    const bool dropALine = argc > 1 && std::strcmp(argv[1], "--drop-a-line") == 0;
    const int countAt = dropALine ? 2 : 1;
    const size_t actions = argc > countAt ? std::strtoul(argv[countAt], nullptr, 10) : 200000;
    const size_t early = std::min<size_t>(1000, actions);

    bench::ShownWindow rig;
    const double start = bench::seconds();
    run(rig, 0, early);
    const long rssEarly = bench::statusKiB("VmRSS");
    run(rig, early, actions);
    const long rssEnd = bench::statusKiB("VmRSS");
    const double elapsed = bench::seconds() - start;

    auto *list = rig.control<QListWidget>(u"ListStatus"_s);
    if (dropALine)
        static_cast<void>(list->takeItem(0));
    std::printf("day.actions=%zu\nday.lines=%d\nday.rss_early_kib=%ld\nday.rss_end_kib=%ld\n"
                "day.growth_kib=%ld\nday.seconds=%.1f\nday.hwm_kib=%ld\n",
                actions, list->count(), rssEarly, rssEnd, rssEnd - rssEarly, elapsed,
                bench::statusKiB("VmHWM"));
    return 0;
}
