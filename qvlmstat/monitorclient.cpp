// SPDX-License-Identifier: MIT
#include "monitorclient.h"

#include <array>
#include <cstdlib>

namespace ravelin::qvlmstat {

namespace {

// Far more than any answer to status or default; a longer line is no answer of a monitor.
constexpr std::size_t MaxAnswerLine = 4096;

} // namespace

std::optional<std::string> configuredMonitorSocket()
{
    if (const char *socket = std::getenv(MonitorSocketVariable)) {
        if (*socket == '\0')
            return std::nullopt;
        return std::string(socket);
    }
    if (const char *server = std::getenv("CUPS_SERVER"); server && *server != '\0')
        return std::nullopt;
    return std::string(DefaultMonitorSocket);
}

MonitorReply askMonitor(const std::string &socketPath, const std::string &request,
                        const Deadline &deadline)
{
    const Connected connected = connectUnix(socketPath, deadline);
    if (connected.outcome != Outcome::Done)
        return {connected.outcome, {}};
    const Outcome written =
        writeAll(connected.descriptor,
                 std::span(reinterpret_cast<const std::uint8_t *>(request.data()), request.size()),
                 deadline);
    if (written != Outcome::Done)
        return {written, {}};

    std::string line;
    std::array<std::uint8_t, 512> buffer;
    for (;;) {
        const ReadResult read = readSome(connected.descriptor, buffer, deadline);
        if (read.outcome != Outcome::Done)
            return {read.outcome, {}};
        line.append(reinterpret_cast<const char *>(buffer.data()), read.size);
        if (const std::size_t end = line.find('\n'); end != std::string::npos) {
            line.resize(end);
            return {Outcome::Done, std::move(line)};
        }
        if (line.size() > MaxAnswerLine)
            return {Outcome::Failed, {}};
    }
}

} // namespace ravelin::qvlmstat
