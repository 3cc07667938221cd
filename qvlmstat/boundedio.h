// SPDX-License-Identifier: MIT
#pragma once

// Input and output that never outlast a deadline. Every descriptor is non-blocking and
// close-on-exec, and every wait is a poll() for at most the time left, so that a peer that
// trickles bytes or never stops sending cannot hold a call past its end: the time is looked at
// before every wait, not only after a silence. Name look-ups run on a thread of their own and
// are waited for until the deadline, no longer.

#include <netdb.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace ravelin::qvlmstat {

using SteadyClock = std::chrono::steady_clock;

// The end of a call's time budget.
class Deadline
{
public:
    explicit Deadline(std::chrono::milliseconds budget)
        : m_end(SteadyClock::now() + budget)
        , m_budget(budget)
    {}
    bool passed() const { return SteadyClock::now() >= m_end; }
    SteadyClock::time_point end() const { return m_end; }
    // The whole budget it was given, for saying what was waited for.
    std::chrono::milliseconds budget() const { return m_budget; }
    // The time left in whole milliseconds, rounded up (a poll() timeout); 0 once passed.
    int remainingMilliseconds() const;

private:
    SteadyClock::time_point m_end;
    std::chrono::milliseconds m_budget;
};

// How an exchange with a peer (the scheduler, a printer) ended. TimedOut means the peer gave no
// sign of life before the deadline: it is unresponsive, not merely wrong.
enum class Outcome { Done, Failed, TimedOut };

// A descriptor owned by one scope, closed when it ends.
class Descriptor
{
public:
    Descriptor() = default;
    Descriptor(int fd, bool isSocket)
        : m_fd(fd)
        , m_socket(isSocket)
    {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
        , m_socket(other.m_socket)
    {}
    Descriptor &operator=(Descriptor &&other) noexcept;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    bool isSocket() const { return m_socket; }
    void reset();

private:
    int m_fd = -1;
    bool m_socket = false;
};

// getaddrinfo() or a stand-in with its signature (tests use one that takes its time).
using Resolver = int (*)(const char *, const char *, const addrinfo *, addrinfo **);

// A connected stream socket to the first of host's addresses that takes the connection, or to
// the Unix socket at path. A numeric address is read at once; a name is looked up on a thread of
// its own, waited for until the deadline, and left to free itself when it ends later.
struct Connected
{
    Descriptor descriptor;
    Outcome outcome = Outcome::Failed;
};
Connected connectTcp(const std::string &host, std::uint16_t port, const Deadline &deadline,
                     Resolver resolver);
Connected connectUnix(const std::string &path, const Deadline &deadline);

// Writes all of bytes. (Sockets are written without SIGPIPE: a peer that has gone is a failure
// to report, not a reason to end the program.)
Outcome writeAll(const Descriptor &descriptor, std::span<const std::uint8_t> bytes,
                 const Deadline &deadline);

// Reads what has arrived, at least one byte, into buffer. Failed at the end of the stream.
struct ReadResult
{
    Outcome outcome = Outcome::Failed;
    std::size_t size = 0;
};
ReadResult readSome(const Descriptor &descriptor, std::span<std::uint8_t> buffer,
                    const Deadline &deadline);

// Throws away the bytes that are waiting already, without waiting for more; false when the
// stream has ended or failed.
bool discardWaiting(const Descriptor &descriptor);

} // namespace ravelin::qvlmstat
