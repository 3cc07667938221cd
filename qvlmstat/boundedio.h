// SPDX-License-Identifier: MIT
#pragma once

// Input and output that never outlast a deadline. Every descriptor is non-blocking and
// close-on-exec, and every wait is a poll() for at most the time left, so that a peer that
// trickles bytes or never stops sending cannot hold a call past its end: the time is looked at
// before every wait, not only after a silence. Name look-ups run on a thread of their own and
// are waited for until the deadline, no longer; a name is looked up once at a time, however
// many calls want it, and only a few names at once.

#include <netdb.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
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

// The most names looked up at once in the process. A call that needs another name while this
// many look-ups are still under way (a name server that does not answer keeps each for up to
// its time-out times its attempts) fails at once rather than start one more thread.
inline constexpr std::size_t MaxNameLookups = 8;

// The stream addresses of a host: a numeric address read at once, or a name looked up on a
// thread of its own. A call that wants a name already being looked up waits for that look-up
// instead of starting another; each waits until its deadline, no longer, and leaves the look-up
// to end and free itself later.
struct HostAddresses
{
    enum class Failure {
        None,
        Unknown,  // the look-up found no address
        TimedOut, // the look-up was still under way at the deadline
        Busy,     // MaxNameLookups other look-ups were under way
    };
    Outcome outcome = Outcome::Failed;
    Failure failure = Failure::Unknown;
    // The addresses, with no port set (shared with the look-up that found them).
    std::shared_ptr<const addrinfo> list;
};
HostAddresses lookUpHost(const std::string &host, const Deadline &deadline, Resolver resolver);

// The names being looked up now, for tests that watch the look-ups.
std::size_t nameLookupsInFlight();

// A connected stream socket to the first of host's addresses that takes the connection. The
// host is looked up as lookUpHost() does.
struct Connected
{
    Descriptor descriptor;
    Outcome outcome = Outcome::Failed;
    // Why a look-up of the host gave no address (None when it did, or when it was not needed).
    HostAddresses::Failure lookupFailure = HostAddresses::Failure::None;
};
Connected connectTcp(const std::string &host, std::uint16_t port, const Deadline &deadline,
                     Resolver resolver);
// A connected stream socket to the Unix socket at path.
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
