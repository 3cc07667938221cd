// SPDX-License-Identifier: MIT
#pragma once

// The status library's side of the language monitor: which socket it listens on, and one
// request and its answer over a connection of the call's own, under a deadline.

#include "boundedio.h"

#include <optional>
#include <string>

namespace ravelin::qvlmstat {

// Where the system's monitor listens.
inline constexpr const char *DefaultMonitorSocket = "/run/ravelin/monitor.sock";
// The environment variable that names another socket; set and empty, no monitor is asked.
inline constexpr const char *MonitorSocketVariable = "RAVELIN_MONITOR_SOCKET";

// The socket to ask, from the environment: RAVELIN_MONITOR_SOCKET when set (none when it is
// empty), else the system's monitor unless CUPS_SERVER points the caller at another scheduler
// than the machine's, which that monitor does not watch.
std::optional<std::string> configuredMonitorSocket();

struct MonitorReply
{
    // Done with the answer's line; TimedOut when the monitor took the request and did not answer
    // in time (or its backlog was full); Failed when there is no monitor to take it.
    Outcome outcome = Outcome::Failed;
    std::string line; // without its LF
};

// Sends request (one line, with its LF) to the monitor at socketPath and reads the first line of
// its answer.
MonitorReply askMonitor(const std::string &socketPath, const std::string &request,
                        const Deadline &deadline);

} // namespace ravelin::qvlmstat
