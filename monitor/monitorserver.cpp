// SPDX-License-Identifier: MIT
#include "monitorserver.h"

#include "monitorprotocol.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace ravelin::monitor {

namespace protocol = qvlmstat::protocol;
using SteadyClock = std::chrono::steady_clock;

namespace {

// How long the listener is left alone when the system has no descriptor or memory for another
// connection, so that it is not polled in a busy loop meanwhile.
constexpr std::chrono::milliseconds AcceptPause{100};

constexpr std::size_t ReadChunk = 4096;

std::uint64_t millisecondsSince(std::chrono::system_clock::time_point then,
                                std::chrono::system_clock::time_point now)
{
    const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(now - then).count();
    return age > 0 ? static_cast<std::uint64_t>(age) : 0U;
}

// The poll() timeout until when, rounded up; 0 once passed.
int timeoutUntil(SteadyClock::time_point when)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - SteadyClock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60000));
}

} // namespace

struct MonitorServer::Client
{
    int fd = -1;
    std::string input{};     // the request line being received
    bool discarding = false; // the rest of a line that was too long
    bool inputEnded = false; // the client sent all it will: closed once answered
    std::string output{};    // answers not sent yet
    SteadyClock::time_point lastActive;
};

MonitorServer::MonitorServer(int listener, const PrinterTable &table, Log &log, std::string version,
                             ServerLimits limits, SystemClock now)
    : m_listener(listener)
    , m_table(table)
    , m_log(log)
    , m_version(std::move(version))
    , m_limits(limits)
    , m_now(std::move(now))
    , m_stopEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{}

MonitorServer::~MonitorServer()
{
    for (const Client &client : m_clients)
        ::close(client.fd);
    if (m_stopEvent >= 0)
        ::close(m_stopEvent);
}

void MonitorServer::stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_stopEvent, &one, sizeof one);
}

bool MonitorServer::run(int signalFd)
{
    if (m_stopEvent < 0) {
        m_log.line("cannot serve: the system gave no event descriptor");
        return false;
    }
    SteadyClock::time_point acceptAgain{};
    std::vector<pollfd> fds;
    for (;;) {
        const SteadyClock::time_point now = SteadyClock::now();
        // Order: the stop event, the signals, the listener, then the clients.
        fds.clear();
        fds.push_back({m_stopEvent, POLLIN, 0});
        fds.push_back({signalFd, POLLIN, 0});
        fds.push_back({now >= acceptAgain ? m_listener : -1, POLLIN, 0});
        std::optional<SteadyClock::time_point> wake;
        if (now < acceptAgain)
            wake = acceptAgain;
        for (const Client &client : m_clients) {
            short events = client.inputEnded ? 0 : POLLIN;
            if (!client.output.empty())
                events |= POLLOUT;
            fds.push_back({client.fd, events, 0});
            wake = std::min(wake.value_or(SteadyClock::time_point::max()),
                            client.lastActive + m_limits.idle);
        }
        const int ready = ::poll(fds.data(), fds.size(), wake ? timeoutUntil(*wake) : -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            m_log.line(std::string("cannot serve: poll: ") + systemError(errno));
            return false;
        }
        if (fds[0].revents != 0)
            return true;
        if (fds[1].revents != 0) {
            signalfd_siginfo signal{};
            if (::read(signalFd, &signal, sizeof signal) == sizeof signal) {
                const char *name = sigabbrev_np(static_cast<int>(signal.ssi_signo));
                m_log.line(std::string("stopping on SIG") + (name ? name : "?"));
            }
            return true;
        }
        // The clients first, so that those that have gone make room for the ones waiting.
        for (std::size_t i = 0; i < m_clients.size(); ++i) {
            Client &client = m_clients[i];
            bool keep = true;
            if (fds[3 + i].revents != 0) {
                const short revents = fds[3 + i].revents;
                if (!client.inputEnded && (revents & (POLLIN | POLLHUP | POLLERR)))
                    keep = receive(client);
                if (keep && !client.output.empty())
                    keep = flush(client);
                if (keep && (revents & POLLNVAL))
                    keep = false;
            }
            if (keep && client.inputEnded && client.output.empty())
                keep = false;
            if (keep && SteadyClock::now() - client.lastActive >= m_limits.idle)
                keep = false;
            if (!keep) {
                ::close(client.fd);
                client.fd = -1;
            }
        }
        std::erase_if(m_clients, [](const Client &client) { return client.fd < 0; });
        if (fds[2].revents != 0 && !accept())
            acceptAgain = SteadyClock::now() + AcceptPause;
    }
}

bool MonitorServer::accept()
{
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED)
                continue;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return true;
            m_log.line(std::string("cannot take a client: ") + systemError(error));
            return false;
        }
        if (m_clients.size() >= m_limits.clients) {
            const std::string busy = protocol::errorLine("busy");
            [[maybe_unused]] const ssize_t sent =
                ::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        m_clients.push_back({.fd = fd, .lastActive = SteadyClock::now()});
    }
}

bool MonitorServer::receive(Client &client)
{
    char bytes[ReadChunk];
    const ssize_t count = ::recv(client.fd, bytes, sizeof bytes, 0);
    if (count == 0) {
        client.inputEnded = true; // its answers still go out
        return true;
    }
    if (count < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.lastActive = SteadyClock::now();
    for (const char c : std::string_view(bytes, static_cast<std::size_t>(count))) {
        if (client.discarding) {
            client.discarding = c != '\n';
        } else if (c == '\n') {
            client.output += answer(client.input);
            client.input.clear();
        } else {
            client.input += c;
            if (client.input.size() >= protocol::MaxRequestLine) {
                client.output += protocol::errorLine("a request is at most " +
                                                     std::to_string(protocol::MaxRequestLine) +
                                                     " bytes with its line feed");
                client.input.clear();
                client.discarding = true;
            }
        }
        // A client that asks and does not read is let go before it costs more.
        if (client.output.size() > m_limits.unsentBytes)
            return false;
    }
    return true;
}

bool MonitorServer::flush(Client &client)
{
    std::size_t sent = 0;
    while (sent < client.output.size()) {
        const ssize_t count = ::send(client.fd, client.output.data() + sent,
                                     client.output.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            client.lastActive = SteadyClock::now();
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            return false;
        }
    }
    client.output.erase(0, sent);
    return true;
}

std::string MonitorServer::statusOf(const std::string &name) const
{
    const std::optional<PrinterState> state = m_table.find(name);
    if (!state)
        return protocol::unknownLine(name);
    if (!state->read)
        return protocol::pendingLine(state->name);
    return protocol::okLine(state->name, state->word, millisecondsSince(state->readAt, m_now()),
                            state->reason);
}

std::string MonitorServer::answer(std::string_view line) const
{
    const protocol::Request request = protocol::parseRequest(line);
    switch (request.command) {
    case protocol::Command::Status:
        return statusOf(request.name);
    case protocol::Command::Default: {
        const std::optional<std::string> destination = m_table.defaultDestination();
        return destination ? statusOf(*destination) : protocol::noneLine();
    }
    case protocol::Command::List: {
        const std::vector<PrinterState> states = m_table.snapshot();
        const auto now = m_now();
        std::string lines;
        for (const PrinterState &state : states) {
            lines += protocol::printerLine(
                state.name, state.word,
                state.read ? std::optional(millisecondsSince(state.readAt, now)) : std::nullopt,
                state.reachable, schemeOf(state.deviceUri),
                state.read ? state.reason : std::string("waiting for the first reading"));
        }
        return lines + protocol::endLine(states.size());
    }
    case protocol::Command::Bits: {
        const std::optional<PrinterState> state = m_table.find(request.name);
        if (!state)
            return protocol::unknownLine(request.name);
        if (!state->read)
            return protocol::pendingLine(state->name);
        std::array<std::optional<std::uint64_t>, 16> ages;
        const auto now = m_now();
        for (std::size_t bit = 0; bit < ages.size(); ++bit) {
            if (state->bitChangedAt[bit] != std::chrono::system_clock::time_point{})
                ages[bit] = millisecondsSince(state->bitChangedAt[bit], now);
        }
        return protocol::bitsLine(state->name, ages);
    }
    case protocol::Command::Version:
        return protocol::versionLine(m_version);
    case protocol::Command::Invalid:
        break;
    }
    return protocol::errorLine(request.error);
}

} // namespace ravelin::monitor
