// SPDX-License-Identifier: MIT
#include "listener.h"

#include "asciitext.h"
#include "log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

namespace ravelin::monitor {

namespace {

// The first descriptor systemd passes (SD_LISTEN_FDS_START).
constexpr int FirstPassed = 3;

bool socketOption(int fd, int option, int expected)
{
    int value = 0;
    socklen_t size = sizeof value;
    return ::getsockopt(fd, SOL_SOCKET, option, &value, &size) == 0 && value == expected;
}

sockaddr_un addressOf(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

bool bindTo(int fd, const sockaddr_un &address)
{
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

// Whether something accepts connections at the socket address: a monitor that still runs.
bool answersAt(const sockaddr_un &address)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return true; // cannot tell: leave it alone
    const bool connected =
        ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ||
        errno == EAGAIN; // alive, its backlog full
    const int error = errno;
    ::close(probe);
    return connected || (error != ECONNREFUSED && error != ENOENT);
}

} // namespace

Listener::~Listener()
{
    reset();
}

Listener::Listener(Listener &&other) noexcept
{
    *this = std::move(other);
}

Listener &Listener::operator=(Listener &&other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
        m_where = std::move(other.m_where);
        m_error = std::move(other.m_error);
        m_ownPath = std::exchange(other.m_ownPath, {});
        m_device = other.m_device;
        m_inode = other.m_inode;
    }
    return *this;
}

void Listener::reset()
{
    if (!m_ownPath.empty()) {
        struct stat info
        {
        };
        if (::stat(m_ownPath.c_str(), &info) == 0 && info.st_dev == m_device &&
            info.st_ino == m_inode) {
            ::unlink(m_ownPath.c_str());
        }
        m_ownPath.clear();
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Listener Listener::fromSystemd()
{
    Listener listener;
    const char *pid = std::getenv("LISTEN_PID");
    const char *count = std::getenv("LISTEN_FDS");
    if (!pid || !count)
        return listener;
    const std::optional<std::size_t> forProcess = qvlmstat::wholeNumber(pid);
    const std::optional<std::size_t> passed = qvlmstat::wholeNumber(count);
    // Meant for another process (the one that started this one): not ours to take, nor to pass
    // on.
    const bool ours = forProcess && *forProcess == static_cast<std::size_t>(::getpid());
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (!ours)
        return listener;
    if (!passed || *passed < 1 || *passed > 64) {
        listener.m_error = "LISTEN_FDS does not say how many sockets were passed";
        return listener;
    }
    const int fd = FirstPassed;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode) ||
        !socketOption(fd, SO_TYPE, SOCK_STREAM) || !socketOption(fd, SO_DOMAIN, AF_UNIX) ||
        !socketOption(fd, SO_ACCEPTCONN, 1)) {
        listener.m_error = "the descriptor systemd passed is no listening Unix stream socket";
        return listener;
    }
    // Only the first is served; the others would stay open for nothing.
    for (int other = fd + 1; other < fd + static_cast<int>(*passed); ++other)
        ::close(other);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        listener.m_error = "cannot set up the socket systemd passed: " + systemError(errno);
        return listener;
    }
    listener.m_fd = fd;
    sockaddr_un address{};
    socklen_t size = sizeof address;
    listener.m_where = "the socket systemd passed";
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0 &&
        address.sun_path[0] != '\0') {
        address.sun_path[sizeof address.sun_path - 1] = '\0';
        listener.m_where += std::string(", ") + address.sun_path;
    }
    return listener;
}

Listener Listener::at(const std::string &path)
{
    Listener listener;
    listener.m_where = path;
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        listener.m_error = path + ": not a socket path (at most " +
                           std::to_string(sizeof address.sun_path - 1) + " bytes)";
        return listener;
    }
    address = addressOf(path);
    if (const std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0)
        ::mkdir(path.substr(0, slash).c_str(), 0755); // when missing; bind() says what is wrong

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        listener.m_error = "cannot make a socket: " + systemError(errno);
        return listener;
    }
    listener.m_fd = fd;
    if (!bindTo(fd, address)) {
        struct stat info
        {
        };
        if (errno != EADDRINUSE) {
            listener.m_error = path + ": " + systemError(errno);
        } else if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
            listener.m_error = path + " is there already and is no socket";
        } else if (answersAt(address)) {
            listener.m_error = "another monitor listens at " + path;
        } else if (::unlink(path.c_str()) != 0 || !bindTo(fd, address)) {
            listener.m_error = path + ": " + systemError(errno);
        }
        if (!listener.m_error.empty()) {
            listener.reset();
            return listener;
        }
    }
    struct stat info
    {
    };
    if (::chmod(path.c_str(), 0666) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::stat(path.c_str(), &info) != 0) {
        listener.m_error = path + ": " + systemError(errno);
        ::unlink(path.c_str());
        listener.reset();
        return listener;
    }
    listener.m_ownPath = path;
    listener.m_device = info.st_dev;
    listener.m_inode = info.st_ino;
    return listener;
}

} // namespace ravelin::monitor
