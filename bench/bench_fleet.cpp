// SPDX-License-Identifier: MIT
// A kiosk fleet's machine at scale: ravelin-monitor reading 200 simulated printers of the series
// on one private scheduler, 20 of them silent, every second, and serving their metrics.
//   - What a round asks of the scheduler: the list of its 200 queues (CUPS-Get-Printers), timed
//     the way the monitor asks for it.
//   - Whether its reading round keeps the period: the monitor's list is sampled every 100 ms
//     and each printer's readings are told apart by their time (now - age); the intervals
//     between a printer's readings, the oldest reading seen of a printer that answers, and how
//     far apart the readings of one round end (the first printer's to the last's).
//   - Its CPU time per second and resident memory over that time.
//   - Then 10,000 scrapes of /metrics as Prometheus makes them (a new connection each time,
//     gzip accepted): their time, and the monitor's resident memory after the first 1,000 and
//     after the last; and how long it takes to end on SIGTERM.
// Sets its queues up on the private scheduler that CUPS_SERVER names (it refuses to run without
// one) and prints key=value lines.
//
//   bench_fleet [PRINTERS [SILENT [SECONDS [SCRAPES]]]]   (200 20 60 10000 unless given)

#include "httpget.h"
#include "monitorprocess.h"
#include "printersim.h"
#include "privatecups.h"
#include "scheduler.h"
#include "timing.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

using bench::percentile;
using bench::statusKiB;

namespace {

constexpr double PeriodMs = 1000;

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_fleet: %s\n", what.c_str());
    std::exit(1);
}

double nowMs()
{
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The process's CPU time so far, user and system, in milliseconds.
double cpuMs(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number >= 14)
            ticks += std::stod(field);
    }
    return ticks * 1000 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct Listed
{
    QByteArray word;
    double age = -1; // ms; -1 before the first reading
    bool reachable = false;
};

// The monitor's list, by printer.
std::map<QByteArray, Listed> list(const MonitorProcess &monitor)
{
    std::map<QByteArray, Listed> printers;
    for (const QByteArray &line : monitor.ask("list").split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() < 6 || words[0] != "printer")
            continue;
        Listed &printer = printers[words[1]];
        printer.word = words[2];
        printer.age = words[3] == "-" ? -1 : words[3].toDouble();
        printer.reachable = words[4] == "yes";
    }
    return printers;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int printers = argc > 1 ? std::atoi(argv[1]) : 200;
    const int silent = argc > 2 ? std::atoi(argv[2]) : 20;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const int scrapes = argc > 4 ? std::atoi(argv[4]) : 10000;
    if (PrivateCups::folder().isEmpty())
        fail("run it under scripts/private-cups, never against the machine's scheduler");
    // Two pipes to each simulator.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    const std::string load = [] {
        std::ifstream average("/proc/loadavg");
        std::string first;
        average >> first;
        return first;
    }();

    // The printers, one in ten silent, and a queue for each.
    std::vector<std::unique_ptr<PrinterSim>> sims;
    std::vector<bool> isSilent;
    for (int i = 0; i < printers; ++i) {
        auto &sim = sims.emplace_back(std::make_unique<PrinterSim>());
        if (!sim->start({QStringLiteral("--tcp"), QStringLiteral("0")}))
            fail("a printer simulator did not start");
        const int every = silent > 0 ? printers / silent : 0;
        isSilent.push_back(every > 0 && i % every == every - 1 && i / every < silent);
        if (isSilent.back() && !sim->run(QStringLiteral("fault silent")))
            fail("a printer simulator did not go silent");
        if (!PrivateCups::addQueue(QStringLiteral("QVT-7460-Kiosk-%1").arg(1000 + i),
                                   sim->socketUri())) {
            fail("a queue could not be added");
        }
    }

    // The scheduler's list, as a round asks for it.
    std::vector<double> listMs;
    for (int i = 0; i < 20; ++i) {
        const bench::Clock::time_point start = bench::Clock::now();
        const ravelin::qvlmstat::QueueList queues = ravelin::qvlmstat::listQueues(
            ravelin::qvlmstat::SchedulerAddress::configured(),
            ravelin::qvlmstat::Deadline(std::chrono::milliseconds(800)), &::getaddrinfo);
        listMs.push_back(bench::microsecondsSince(start) / 1000);
        if (queues.outcome != ravelin::qvlmstat::Outcome::Done ||
            int(queues.queues.size()) != printers) {
            fail("the scheduler did not list every queue: " + queues.why);
        }
    }

    MonitorProcess monitor(PrivateCups::folder() + QStringLiteral("/monitor.sock"));
    const bench::Clock::time_point started = bench::Clock::now();
    if (!monitor.start({QStringLiteral("--period"), QString::number(PeriodMs),
                        QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0")})) {
        fail("the monitor did not start");
    }
    const qint64 pid = monitor.process().processId();
    quint16 port = 0;
    static const QRegularExpression serving(
        QStringLiteral("^serving metrics at http://127.0.0.1:(\\d+)/metrics$"));
    for (const QString &line : monitor.log()) {
        if (const QRegularExpressionMatch match = serving.match(line); match.hasMatch())
            port = match.captured(1).toUShort();
    }
    if (port == 0)
        fail("the monitor did not say where it serves its metrics");

    // Until every printer has been read: the silent ones once they have timed out.
    double readAllMs = -1;
    while (readAllMs < 0) {
        const std::map<QByteArray, Listed> listed = list(monitor);
        const bool all =
            int(listed.size()) == printers && std::ranges::all_of(listed, [](const auto &printer) {
                return printer.second.age >= 0 &&
                       (printer.second.reachable || printer.second.word == "0x0080");
            });
        if (all)
            readAllMs = bench::microsecondsSince(started) / 1000;
        else if (bench::microsecondsSince(started) > 60e6)
            fail("the monitor did not read every printer within a minute");
        else
            QThread::msleep(100);
    }
    // Long enough for the silent printers to be asked again.
    QThread::msleep(10000);

    const auto isSilentName = [&isSilent](const QByteArray &name) {
        const int index = name.mid(int(std::strlen("QVT-7460-Kiosk-"))).toInt() - 1000;
        return index >= 0 && index < int(isSilent.size()) && isSilent[std::size_t(index)];
    };

    // The rounds: each printer's readings, told apart by the time they ended.
    std::map<QByteArray, std::vector<double>> readings;
    double oldestAnswering = 0;
    int unreachable = 0;
    const double cpuStart = cpuMs(pid);
    const bench::Clock::time_point window = bench::Clock::now();
    while (bench::microsecondsSince(window) < seconds * 1e6) {
        const std::map<QByteArray, Listed> listed = list(monitor);
        const double at = nowMs();
        unreachable = 0;
        for (const auto &[name, printer] : listed) {
            if (printer.age < 0)
                continue;
            unreachable += printer.reachable ? 0 : 1;
            if (printer.reachable)
                oldestAnswering = std::max(oldestAnswering, printer.age);
            std::vector<double> &times = readings[name];
            const double readAt = at - printer.age;
            if (times.empty() || readAt - times.back() > PeriodMs * 0.3)
                times.push_back(readAt);
        }
        QThread::msleep(100);
    }
    const double cpuPerSecond = (cpuMs(pid) - cpuStart) / seconds;
    const long rss = statusKiB("VmRSS", pid);
    const long threads = statusKiB("Threads", pid);

    std::vector<double> intervals;
    std::vector<double> silentIntervals;
    for (const auto &[name, times] : readings) {
        std::vector<double> &into = isSilentName(name) ? silentIntervals : intervals;
        for (std::size_t i = 1; i < times.size(); ++i)
            into.push_back(times[i] - times[i - 1]);
    }
    const auto missed =
        std::ranges::count_if(intervals, [](double ms) { return ms > PeriodMs * 1.5; });
    // The readings of printers that answer, by round: a gap of half a period parts two rounds.
    std::vector<double> ends;
    for (const auto &[name, times] : readings) {
        if (!isSilentName(name))
            ends.insert(ends.end(), times.begin(), times.end());
    }
    std::sort(ends.begin(), ends.end());
    std::vector<double> spreads;
    for (std::size_t first = 0, i = 1; i <= ends.size(); ++i) {
        if (i == ends.size() || ends[i] - ends[i - 1] > PeriodMs / 2) {
            spreads.push_back(ends[i - 1] - ends[first]);
            first = i;
        }
    }
    // The first and last rounds may be seen in part only.
    if (spreads.size() > 2)
        spreads = std::vector<double>(spreads.begin() + 1, spreads.end() - 1);

    // The scrapes.
    bool answered = true;
    std::vector<double> scrapeMs;
    long rssEarly = 0;
    std::size_t infos = 0;
    for (int i = 0; i < scrapes; ++i) {
        const bench::Clock::time_point start = bench::Clock::now();
        const HttpAnswer answer = httpGet(port, "/metrics", "Accept-Encoding: gzip\r\n");
        scrapeMs.push_back(bench::microsecondsSince(start) / 1000);
        answered = answered && answer.status == 200;
        if (i + 1 == std::min(1000, scrapes))
            rssEarly = statusKiB("VmRSS", pid);
    }
    const long rssEnd = statusKiB("VmRSS", pid);
    {
        const std::string body = httpGet(port, "/metrics").body;
        for (std::size_t at = body.find("\nravelin_printer_info{"); at != std::string::npos;
             at = body.find("\nravelin_printer_info{", at + 1)) {
            ++infos;
        }
    }
    // SIGTERM to its end, with readings of silent printers in progress.
    const bench::Clock::time_point stopping = bench::Clock::now();
    const bool stopped = monitor.stop();
    const double stopMs = bench::microsecondsSince(stopping) / 1000;

    std::printf("fleet.list_ms=%.2f\nfleet.list_max_ms=%.2f\nfleet.round_spread_ms=%.0f\n"
                "fleet.round_spread_max_ms=%.0f\n",
                bench::median(listMs), percentile(listMs, 1.0),
                spreads.empty() ? 0.0 : bench::median(spreads), percentile(spreads, 1.0));
    std::printf(
        "fleet.printers=%d\nfleet.silent=%d\nfleet.seconds=%d\nfleet.load=%s\n"
        "fleet.read_all_ms=%.0f\nfleet.intervals=%zu\nfleet.interval_ms=%.0f\n"
        "fleet.interval_p99_ms=%.0f\nfleet.interval_max_ms=%.0f\nfleet.missed=%td\n"
        "fleet.silent_interval_ms=%.0f\nfleet.silent_interval_max_ms=%.0f\n"
        "fleet.oldest_answering_ms=%.0f\nfleet.unreachable=%d\n"
        "fleet.cpu_ms_per_s=%.1f\nfleet.rss_kib=%ld\nfleet.threads=%ld\n"
        "fleet.scrapes=%zu\nfleet.answered=%d\nfleet.infos=%zu\nfleet.scrape_ms=%.2f\n"
        "fleet.scrape_p99_ms=%.2f\nfleet.scrape_max_ms=%.2f\nfleet.rss_early_kib=%ld\n"
        "fleet.rss_end_kib=%ld\nfleet.growth_kib=%ld\nfleet.stopped=%d\nfleet.stop_ms=%.0f\n",
        printers, silent, seconds, load.c_str(), readAllMs, intervals.size(),
        bench::median(intervals), percentile(intervals, 0.99), percentile(intervals, 1.0), missed,
        silentIntervals.empty() ? 0.0 : bench::median(silentIntervals),
        percentile(silentIntervals, 1.0), oldestAnswering, unreachable, cpuPerSecond, rss, threads,
        scrapeMs.size(), answered ? 1 : 0, infos, bench::median(scrapeMs),
        percentile(scrapeMs, 0.99), percentile(scrapeMs, 1.0), rssEarly, rssEnd, rssEnd - rssEarly,
        stopped ? 1 : 0, stopMs);
    return 0;
}
