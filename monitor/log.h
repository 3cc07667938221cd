// SPDX-License-Identifier: MIT
#pragma once

// The monitor's log: one line per event, "ravelin-monitor: TEXT", on standard error (the journal
// under systemd, which adds the time). Lines from different threads never mix. Tests give it a
// sink of their own.

#include <functional>
#include <mutex>
#include <string>

namespace ravelin::monitor {

class Log
{
public:
    using Sink = std::function<void(const std::string &line)>;

    // Writes to standard error.
    Log();
    explicit Log(Sink sink)
        : m_sink(std::move(sink))
    {}

    // One line; control characters in it are made "?".
    void line(const std::string &text);

private:
    std::mutex m_mutex;
    Sink m_sink;
};

// The system's words for an errno value ("permission denied"), from any thread.
std::string systemError(int error);

} // namespace ravelin::monitor
