// SPDX-License-Identifier: MIT
#pragma once

// What the benchmarks share that needs no window: the clock they read, the median and the
// percentiles they report, and a process's memory as the kernel counts it.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The value at fraction (0 to 1) of the way from the smallest to the largest; 0 for none.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// A field of the process's /proc/PID/status (VmRSS, VmHWM in KiB; Threads), or -1; this
// process's without a pid.
inline long statusKiB(const char *field, long long pid = 0)
{
    std::ifstream status("/proc/" + (pid != 0 ? std::to_string(pid) : "self") + "/status");
    std::string line;
    const std::string prefix = std::string(field) + ':';
    while (std::getline(status, line)) {
        if (line.starts_with(prefix))
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

inline double microsecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

} // namespace bench
