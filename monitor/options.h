// SPDX-License-Identifier: MIT
#pragma once

// The monitor's command line:
//   ravelin-monitor [--socket PATH] [--period MS] [--help] [--version]

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
    bool help = false;
    bool version = false;
};

// The options of these arguments (without the program's name); none, with error set, for
// arguments that make no sense. environmentSocket is RAVELIN_MONITOR_SOCKET's value, if set.
std::optional<Options> parseOptions(const std::vector<std::string> &arguments,
                                    const char *environmentSocket, std::string &error);

// The text of --help.
std::string usage();

} // namespace ravelin::monitor
