// SPDX-License-Identifier: MIT
#include "boundedio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
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

struct AddrinfoDeleter
{
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddrinfoDeleter>;

// A name look-up shared by the caller and the thread that makes it. The caller may stop waiting
// and drop its share; the thread then frees the state, and the result, when it ends.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    AddressList result;
};

// The stream addresses of host and port; empty when the look-up fails or the deadline passes
// first (timedOut tells which).
AddressList resolve(const std::string &host, std::uint16_t port, const Deadline &deadline,
                    Resolver resolver, bool &timedOut)
{
    timedOut = false;
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo *numeric = nullptr;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &numeric) == 0)
        return AddressList(numeric);

    hints.ai_flags = AI_NUMERICSERV;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service, hints, resolver] {
            addrinfo *found = nullptr;
            const int status = resolver(host.c_str(), service.c_str(), &hints, &found);
            const std::lock_guard lock(lookup->mutex);
            lookup->result.reset(status == 0 ? found : nullptr);
            lookup->done = true;
            lookup->finished.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return {};
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_until(lock, deadline.end(), [&] { return lookup->done; })) {
        timedOut = true;
        return {};
    }
    return std::move(lookup->result);
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

Connected connectTcp(const std::string &host, std::uint16_t port, const Deadline &deadline,
                     Resolver resolver)
{
    bool timedOut = false;
    const AddressList addresses = resolve(host, port, deadline, resolver, timedOut);
    if (!addresses)
        return {{}, timedOut ? Outcome::TimedOut : Outcome::Failed};
    for (const addrinfo *address = addresses.get(); address; address = address->ai_next) {
        Connected connected =
            connectAddress(address->ai_family, address->ai_addr, address->ai_addrlen, deadline);
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
