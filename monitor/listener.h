// SPDX-License-Identifier: MIT
#pragma once

// The monitor's listening socket: the one systemd hands over (socket activation), or one it
// makes itself at a path. Either is a non-blocking, close-on-exec Unix stream socket.

#include <sys/types.h>

#include <string>

namespace ravelin::monitor {

class Listener
{
public:
    Listener() = default;
    ~Listener();
    Listener(Listener &&other) noexcept;
    Listener &operator=(Listener &&other) noexcept;
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    // The socket systemd passed (LISTEN_PID, LISTEN_FDS; the first one, descriptor 3), taken
    // over and the variables removed from the environment; invalid when none was passed, and
    // then error says what was wrong if something was.
    static Listener fromSystemd();
    // A socket of its own at path, mode 0666 (any local user may ask). A socket file left by a
    // monitor that is gone is replaced; one that a monitor still answers at is not. The folder is
    // made when it is missing but its parent is there.
    static Listener at(const std::string &path);

    bool valid() const { return m_fd >= 0; }
    int descriptor() const { return m_fd; }
    // Where it listens, for the log: the path, or "the socket systemd passed".
    const std::string &where() const { return m_where; }
    const std::string &error() const { return m_error; }

private:
    void reset();

    int m_fd = -1;
    std::string m_where;
    std::string m_error;
    // A socket file of its own, removed when it closes, if it is still this one.
    std::string m_ownPath;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace ravelin::monitor
