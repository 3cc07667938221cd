// SPDX-License-Identifier: MIT
#pragma once

// The monitor's command line:
//   ravelin-monitor [--socket PATH] [--period MS] [--metrics-listen ADDRESS[:PORT]]
//                   [--metrics-textfile DIR] [--help] [--version]

#include "metricsoptions.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ravelin::monitor {

struct Options
{
    static constexpr std::chrono::milliseconds ShortestPeriod{100};
    static constexpr std::chrono::milliseconds LongestPeriod{30000};

    // The socket to listen at when systemd passes none: --socket, else RAVELIN_MONITOR_SOCKET,
    // else /run/ravelin/monitor.sock.
    std::string socket;
    std::chrono::milliseconds period{1000};
    // Where /metrics is served; none: not served.
    std::optional<metrics::ListenAddress> metricsListen;
    // The folder that ravelin.prom is written to after every reading round; empty: none.
    std::string metricsTextfile;
    bool help = false;
    bool version = false;
};

// The options of these arguments (without the program's name); none, with error set, for
// arguments that make no sense, or a textfile folder it may not write in. environmentSocket is
// RAVELIN_MONITOR_SOCKET's value, if set.
std::optional<Options> parseOptions(const std::vector<std::string> &arguments,
                                    const char *environmentSocket, std::string &error);

// The text of --help.
std::string usage();

} // namespace ravelin::monitor
