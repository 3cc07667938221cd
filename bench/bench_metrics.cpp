// SPDX-License-Identifier: MIT
// The metrics endpoint of 200 printers, scraped over loopback as Prometheus scrapes it (a new
// connection, gzip accepted) while a reading round rewrites every printer's reading each 10 ms:
// the time a scrape takes, and the resident set size after the first 1,000 scrapes and after
// the last. Also the same scrape without compression, and a textfile round. Prints key=value
// lines.
//
//   bench_metrics [SCRAPES]   (10,000 unless given)

#include "httpget.h"
#include "metricsserver.h"
#include "textfile.h"
#include "timing.h"

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace ravelin::metrics;

using bench::percentile;
using bench::statusKiB;

namespace {

constexpr int Printers = 200;

// A monitor's table of 200 printers of every kind, rewritten by reading rounds.
class Table
{
public:
    Table()
    {
        for (int i = 0; i < Printers; ++i) {
            PrinterSample &printer = m_printers.emplace_back();
            printer.name = "QVT-7460-Kiosk-" + std::to_string(1000 + i);
            printer.deviceUri = i % 3 == 0   ? "serial:/dev/ttyS0?baud=38400"
                                : i % 3 == 1 ? "socket://192.0.2.10:9100"
                                             : "usb://Quorvel/QVT-7460?serial=" + std::to_string(i);
            printer.makeAndModel = "Quorvel QVT-7460";
            printer.read = i % 50 != 49; // a few not read yet
        }
        round(0);
    }

    void round(std::uint32_t step)
    {
        const std::lock_guard lock(m_mutex);
        const auto now = std::chrono::system_clock::now();
        for (std::size_t i = 0; i < m_printers.size(); ++i) {
            PrinterSample &printer = m_printers[i];
            printer.reachable = i % 10 != 0; // 20 silent
            printer.word = printer.reachable ? (step + static_cast<std::uint32_t>(i)) % 0x20 : 0x80;
            printer.readAt = now;
            printer.readingDuration = std::chrono::microseconds(500 + i);
            ++printer.rises[i % 16];
        }
    }

    std::vector<PrinterSample> snapshot() const
    {
        const std::lock_guard lock(m_mutex);
        return m_printers;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<PrinterSample> m_printers;
};

// The CPU time this process has used so far, in milliseconds: the server's threads, the reading
// rounds and the client alike. Unlike the time a scrape takes, it does not count waiting for a
// core on a busy machine.
double cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &time) {
        return static_cast<double>(time.tv_sec) * 1000 + static_cast<double>(time.tv_usec) / 1000;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Timings
{
    std::vector<double> ms;
    std::size_t bytes = 0;
    bool allAnswered = true;
};

Timings scrape(std::uint16_t port, int count, const std::string &headers)
{
    Timings timings;
    timings.ms.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const bench::Clock::time_point start = bench::Clock::now();
        const HttpAnswer answer = httpGet(port, "/metrics", headers);
        timings.ms.push_back(bench::microsecondsSince(start) / 1000);
        timings.allAnswered = timings.allAnswered && answer.status == 200;
        timings.bytes = answer.body.size();
    }
    return timings;
}

std::size_t count(const std::string &text, const std::string &what)
{
    std::size_t found = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++found;
    return found;
}

} // namespace

int main(int argc, char *argv[])
{
    const int scrapes = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int early = std::min(1000, scrapes);

    Table table;
    const MetricsServer server(
        {"127.0.0.1", 0}, [&table] { return table.snapshot(); }, "2.1.0");
    std::atomic<bool> stop = false;
    std::thread rounds([&] {
        for (std::uint32_t step = 1; !stop; ++step) {
            table.round(step);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    // What one scrape holds: every printer, once.
    const HttpAnswer plain = httpGet(server.port(), "/metrics");
    const std::size_t words = count(plain.body, "\nravelin_printer_status_word{");
    const std::size_t infos = count(plain.body, "\nravelin_printer_info{");

    const double cpuStart = cpuMs();
    const Timings first = scrape(server.port(), early, "Accept-Encoding: gzip\r\n");
    const long rssEarly = statusKiB("VmRSS");
    const Timings rest = scrape(server.port(), scrapes - early, "Accept-Encoding: gzip\r\n");
    const long rssEnd = statusKiB("VmRSS");
    const double cpuPerScrape = (cpuMs() - cpuStart) / scrapes;
    const Timings uncompressed = scrape(server.port(), 200, "");
    stop = true;
    rounds.join();

    std::vector<double> all = first.ms;
    all.insert(all.end(), rest.ms.begin(), rest.ms.end());

    // A textfile round of the same printers, in a folder of its own.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench_metrics." + std::to_string(::getpid()));
    std::filesystem::create_directory(dir);
    TextfileWriter writer(dir.string(), "2.1.0");
    std::vector<double> writes;
    bool written = true;
    for (int i = 0; i < 100; ++i) {
        const std::vector<PrinterSample> printers = table.snapshot();
        const bench::Clock::time_point start = bench::Clock::now();
        if (writer.write(printers))
            written = false; // a line for the log: it failed
        writes.push_back(bench::microsecondsSince(start) / 1000);
    }
    std::filesystem::remove_all(dir);

    std::printf("metrics.printers=%d\nmetrics.words=%zu\nmetrics.infos=%zu\nmetrics.scrapes=%zu\n"
                "metrics.answered=%d\nmetrics.scrape_ms=%.2f\nmetrics.scrape_tail_ms=%.2f\n"
                "metrics.scrape_max_ms=%.2f\nmetrics.gzip_bytes=%zu\nmetrics.plain_ms=%.2f\n"
                "metrics.plain_bytes=%zu\nmetrics.rss_early_kib=%ld\nmetrics.rss_end_kib=%ld\n"
                "metrics.growth_kib=%ld\nmetrics.textfile_ms=%.2f\nmetrics.textfile_written=%d\n"
                "metrics.cpu_ms=%.2f\n",
                Printers, words, infos, all.size(),
                first.allAnswered && rest.allAnswered && uncompressed.allAnswered ? 1 : 0,
                bench::median(all), percentile(all, 0.99), percentile(all, 1.0), rest.bytes,
                bench::median(uncompressed.ms), uncompressed.bytes, rssEarly, rssEnd,
                rssEnd - rssEarly, bench::median(writes), written ? 1 : 0, cpuPerScrape);
    return 0;
}
