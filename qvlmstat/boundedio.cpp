// SPDX-License-Identifier: MIT
#include "boundedio.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace ravelin::qvlmstat {

namespace {

// Waits until the descriptor is ready for events (or has an error or hang-up to report, which
// the next call on it finds out), the deadline passes, or poll() fails.
Outcome waitFor(const Descriptor &descriptor, short events, const Deadline &deadline)
{
    for (;;) {
        const int msec = deadline.remainingMilliseconds();
        if (msec <= 0)
            return Outcome::TimedOut;
        pollfd entry{descriptor.get(), events, 0};
        const int ready = ::poll(&entry, 1, msec);
        if (ready > 0)
            return Outcome::Done;
        if (ready < 0 && errno != EINTR)
            return Outcome::Failed;
    }
}

// Tries transfer (a read or a write) until it moves at least one byte, waiting for the events
// between tries; how many it moved.
template <typename Transfer>
ReadResult moveSome(const Descriptor &descriptor, short events, const Deadline &deadline,
                    Transfer transfer)
{
    for (;;) {
        if (deadline.passed())
            return {Outcome::TimedOut, 0};
        const ssize_t count = transfer();
        if (count > 0)
            return {Outcome::Done, static_cast<std::size_t>(count)};
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Outcome waited = waitFor(descriptor, events, deadline);
                waited != Outcome::Done) {
                return {waited, 0};
            }
        } else if (count == 0 || errno != EINTR) {
            return {Outcome::Failed, 0};
        }
    }
}

Connected connectAddress(int family, const sockaddr *address, socklen_t length,
                         const Deadline &deadline)
{
    if (deadline.passed())
        return {{}, Outcome::TimedOut};
    Descriptor socket{::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), true};
    if (!socket.valid())
        return {{}, Outcome::Failed};
    if (::connect(socket.get(), address, length) == 0)
        return {std::move(socket), Outcome::Done};
    // A Unix socket whose listener's backlog is full: it takes no connections now, the sign of a
    // listener that has stopped accepting.
    if (family == AF_UNIX && errno == EAGAIN)
        return {{}, Outcome::TimedOut};
    if (errno != EINPROGRESS && errno != EINTR)
        return {{}, Outcome::Failed};
    const Outcome waited = waitFor(socket, POLLOUT, deadline);
    if (waited != Outcome::Done)
        return {{}, waited};
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return {{}, Outcome::Failed};
    return {std::move(socket), Outcome::Done};
}

// A name look-up shared by the calls that wait for it and the thread that makes it. The calls
// may stop waiting and drop their shares; the thread's keeps it until the look-up ends.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::shared_ptr<const addrinfo> result; // none when the name has no address
};

// The look-ups under way, by name. Never destroyed: a look-up may end while the process exits.
struct Lookups
{
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Lookup>> byName;
};

Lookups &lookups()
{
    static auto *const all = new Lookups;
    return *all;
}

// Looks host up on a thread of its own, then stops counting it as under way.
void startLookup(const std::shared_ptr<Lookup> &lookup, const std::string &host, Resolver resolver)
{
    std::thread([lookup, host, resolver] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        std::shared_ptr<const addrinfo> result;
        if (resolver(host.c_str(), nullptr, &hints, &found) == 0 && found)
            result.reset(found, ::freeaddrinfo);
        {
            const std::lock_guard lock(lookup->mutex);
            lookup->result = std::move(result);
            lookup->done = true;
        }
        lookup->finished.notify_all();
        Lookups &all = lookups();
        const std::lock_guard lock(all.mutex);
        if (const auto entry = all.byName.find(host);
            entry != all.byName.end() && entry->second == lookup) {
            all.byName.erase(entry);
        }
    }).detach();
}

// address with port set; false for an address family without ports.
bool withPort(const addrinfo &address, std::uint16_t port, sockaddr_storage &target)
{
    if (address.ai_addrlen > sizeof target)
        return false;
    std::memcpy(&target, address.ai_addr, address.ai_addrlen);
    if (target.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in *>(&target)->sin_port = htons(port);
    else if (target.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&target)->sin6_port = htons(port);
    else
        return false;
    return true;
}

} // namespace

int Deadline::remainingMilliseconds() const
{
    const auto left = m_end - SteadyClock::now();
    if (left <= SteadyClock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

Descriptor &Descriptor::operator=(Descriptor &&other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
        m_socket = other.m_socket;
    }
    return *this;
}

void Descriptor::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

HostAddresses lookUpHost(const std::string &host, const Deadline &deadline, Resolver resolver)
{
    using Failure = HostAddresses::Failure;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *numeric = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &numeric) == 0)
        return {Outcome::Done, Failure::None, {numeric, ::freeaddrinfo}};
    if (deadline.passed())
        return {Outcome::TimedOut, Failure::TimedOut, {}};

    std::shared_ptr<Lookup> lookup;
    {
        Lookups &all = lookups();
        const std::lock_guard lock(all.mutex);
        if (const auto entry = all.byName.find(host); entry != all.byName.end()) {
            lookup = entry->second;
        } else {
            if (all.byName.size() >= MaxNameLookups)
                return {Outcome::Failed, Failure::Busy, {}};
            lookup = std::make_shared<Lookup>();
            const auto added = all.byName.emplace(host, lookup).first;
            try {
                startLookup(lookup, host, resolver);
            } catch (const std::exception &) { // no thread to be had, or no memory
                all.byName.erase(added);
                return {Outcome::Failed, Failure::Busy, {}};
            }
        }
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_until(lock, deadline.end(), [&] { return lookup->done; }))
        return {Outcome::TimedOut, Failure::TimedOut, {}};
    if (!lookup->result)
        return {Outcome::Failed, Failure::Unknown, {}};
    return {Outcome::Done, Failure::None, lookup->result};
}

std::size_t nameLookupsInFlight()
{
    Lookups &all = lookups();
    const std::lock_guard lock(all.mutex);
    return all.byName.size();
}

Connected connectTcp(const std::string &host, std::uint16_t port, const Deadline &deadline,
                     Resolver resolver)
{
    const HostAddresses found = lookUpHost(host, deadline, resolver);
    if (found.outcome != Outcome::Done)
        return {{}, found.outcome, found.failure};
    for (const addrinfo *address = found.list.get(); address; address = address->ai_next) {
        sockaddr_storage target{};
        if (!withPort(*address, port, target))
            continue;
        Connected connected =
            connectAddress(address->ai_family, reinterpret_cast<const sockaddr *>(&target),
                           address->ai_addrlen, deadline);
        if (connected.outcome != Outcome::Failed)
            return connected;
    }
    return {{}, Outcome::Failed};
}

Connected connectUnix(const std::string &path, const Deadline &deadline)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return {{}, Outcome::Failed};
    std::memcpy(address.sun_path, path.data(), path.size());
    return connectAddress(AF_UNIX, reinterpret_cast<const sockaddr *>(&address), sizeof address,
                          deadline);
}

Outcome writeAll(const Descriptor &descriptor, std::span<const std::uint8_t> bytes,
                 const Deadline &deadline)
{
    for (std::size_t written = 0; written < bytes.size();) {
        const std::span<const std::uint8_t> left = bytes.subspan(written);
        const ReadResult sent = moveSome(descriptor, POLLOUT, deadline, [&] {
            return descriptor.isSocket()
                       ? ::send(descriptor.get(), left.data(), left.size(), MSG_NOSIGNAL)
                       : ::write(descriptor.get(), left.data(), left.size());
        });
        if (sent.outcome != Outcome::Done)
            return sent.outcome;
        written += sent.size;
    }
    return Outcome::Done;
}

ReadResult readSome(const Descriptor &descriptor, std::span<std::uint8_t> buffer,
                    const Deadline &deadline)
{
    return moveSome(descriptor, POLLIN, deadline,
                    [&] { return ::read(descriptor.get(), buffer.data(), buffer.size()); });
}

bool discardWaiting(const Descriptor &descriptor)
{
    // A bounded amount: a peer that floods is then read, and given up on, under the deadline.
    std::array<std::uint8_t, 512> scratch;
    for (int round = 0; round < 64; ++round) {
        const ssize_t count = ::read(descriptor.get(), scratch.data(), scratch.size());
        if (count == 0)
            return false;
        if (count < 0 && errno != EINTR)
            return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

} // namespace ravelin::qvlmstat
