// SPDX-License-Identifier: MIT
#pragma once

// The monitor's socket: answers clients from the table, in the line protocol of
// qvlmstat/monitorprotocol.h. One thread serves every client with poll(); nothing it does waits
// on a printer or the scheduler. Each client is bounded: a request line of at most 256 bytes (a
// longer one is answered with an error and discarded up to its LF), at most 256 KiB of answers
// it has not read, and 10 s without a request or reading an answer; past a bound it is closed.
// At most 64 clients at once: the next is told "error busy" and closed.

#include "log.h"
#include "printertable.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ravelin::monitor {

struct ServerLimits
{
    std::size_t clients = 64;
    std::chrono::milliseconds idle{10000};
    std::size_t unsentBytes = 256 * 1024;
};

class MonitorServer
{
public:
    using SystemClock = std::function<std::chrono::system_clock::time_point()>;

    // listener: a listening, non-blocking Unix stream socket, which stays the caller's.
    MonitorServer(int listener, const PrinterTable &table, Log &log, std::string version,
                  ServerLimits limits = {}, SystemClock now = &std::chrono::system_clock::now);
    ~MonitorServer();
    MonitorServer(const MonitorServer &) = delete;
    MonitorServer &operator=(const MonitorServer &) = delete;

    // Serves until stop() is called, from any thread, or signalFd (a signalfd, or -1) reports a
    // signal; false when it could not go on (poll() failed).
    bool run(int signalFd = -1);
    void stop();

    // What is answered to one request line (without its LF): one or more lines, each with its LF.
    std::string answer(std::string_view line) const;

private:
    struct Client;

    // Takes the clients waiting; false when the system could not give one a descriptor.
    bool accept();
    // Reads what the client sent and answers its complete lines; false when it is to be closed.
    bool receive(Client &client);
    // Writes what it can of the client's answers; false when it is to be closed.
    bool flush(Client &client);
    std::string statusOf(const std::string &name) const;

    int m_listener;
    const PrinterTable &m_table;
    Log &m_log;
    std::string m_version;
    ServerLimits m_limits;
    SystemClock m_now;
    int m_stopEvent = -1;
    std::vector<Client> m_clients;
};

} // namespace ravelin::monitor
