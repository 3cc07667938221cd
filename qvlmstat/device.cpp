// SPDX-License-Identifier: MIT
#include "device.h"

#include "asciitext.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace ravelin::qvlmstat {

namespace {

constexpr std::uint8_t DLE = 0x10;
constexpr std::uint8_t EOT = 0x04;

// How often a conversation waiting for a device's lock tries again.
constexpr int LockRetryMs = 5;

constexpr std::array<const char *, 4> Ordinals = {"first", "second", "third", "fourth"};

// The system's words for errno, as a reason's tail ("permission denied").
std::string systemError(int error)
{
    std::string text = std::error_code(error, std::generic_category()).message();
    if (!text.empty())
        text[0] = lowerAscii(text[0]);
    return text;
}

std::string withinBudget(const Deadline &deadline)
{
    return " within " + std::to_string(deadline.budget().count()) + " ms";
}

// The advisory lock on a serial line or device file, held while the scope lasts.
class DeviceLockHold
{
public:
    DeviceLockHold() = default;
    ~DeviceLockHold()
    {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_UN);
    }
    DeviceLockHold(const DeviceLockHold &) = delete;
    DeviceLockHold &operator=(const DeviceLockHold &) = delete;

    // Takes it on fd, at once or (Wait) retrying until the deadline: 0 once taken, EWOULDBLOCK
    // while another holds it, or the error that refused it.
    int take(int fd, DeviceLock mode, const Deadline &deadline)
    {
        for (;;) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                m_fd = fd;
                return 0;
            }
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error != EWOULDBLOCK || mode == DeviceLock::Try)
                return error;
            const int left = deadline.remainingMilliseconds();
            if (left <= 0)
                return error;
            ::poll(nullptr, 0, std::min(left, LockRetryMs));
        }
    }

private:
    int m_fd = -1;
};

// A terminal (a serial line, or a device file that is one) set raw while it is asked, so that
// no byte is translated, swallowed or held for a line end; its settings are put back when the
// scope ends.
class RawTerminal
{
public:
    explicit RawTerminal(int fd)
        : m_fd(fd)
    {}
    ~RawTerminal()
    {
        // Requests still waiting to go out are dropped: closing a serial line waits until its
        // output has drained, which a printer holding the line busy (flow control) never lets
        // happen.
        if (!m_saved)
            return;
        ::tcflush(m_fd, TCIOFLUSH);
        ::tcsetattr(m_fd, TCSANOW, &m_original);
    }
    RawTerminal(const RawTerminal &) = delete;
    RawTerminal &operator=(const RawTerminal &) = delete;

    // Raw, at the line's own settings or, for a serial line, at those of its URI.
    bool apply(const SerialDevice *line)
    {
        if (::tcgetattr(m_fd, &m_original) != 0)
            return false;
        m_saved = true;
        termios settings = m_original;
        // Raw leaves VMIN at 1: a non-blocking read with nothing waiting then fails with
        // EAGAIN, where 0 would read as a line that has hung up.
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        if (line) {
            if (::cfsetispeed(&settings, line->speed) != 0 ||
                ::cfsetospeed(&settings, line->speed) != 0) {
                return false;
            }
            settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CRTSCTS);
            settings.c_cflag |= line->bits == 7 ? CS7 : CS8;
            if (line->parity != Parity::None)
                settings.c_cflag |= line->parity == Parity::Odd ? PARENB | PARODD : PARENB;
            settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
            // No valid answer is XON or XOFF, so software flow control cannot swallow one.
            if (line->flow == FlowControl::Soft)
                settings.c_iflag |= IXON | IXOFF;
            else if (line->flow == FlowControl::Hard)
                settings.c_cflag |= CRTSCTS;
        }
        if (::tcsetattr(m_fd, TCSANOW, &settings) != 0)
            return false;
        if (line && line->flow == FlowControl::DtrDsr) {
            // Ready to receive; a line without modem lines (a pseudo-terminal) has no DTR.
            int dtr = TIOCM_DTR;
            ::ioctl(m_fd, TIOCMBIS, &dtr);
        }
        ::tcflush(m_fd, TCIFLUSH);
        return true;
    }

private:
    int m_fd;
    bool m_saved = false;
    termios m_original{};
};

// The four requests, one at a time, each waited for until its answer or the deadline. name is
// the device's, for the reason.
DeviceReading askOver(const Descriptor &descriptor, const Deadline &deadline,
                      const std::string &name)
{
    DeviceReading reading;
    const std::string gone = descriptor.isSocket() ? " closed the connection" : " hung up";
    for (std::uint8_t n = 1; n <= 4; ++n) {
        const std::string request = std::string(Ordinals[n - 1U]) + " status request";
        // A byte left from before would pass for this request's answer.
        if (!discardWaiting(descriptor)) {
            reading.why = name + gone;
            return reading;
        }
        const std::array<std::uint8_t, 3> bytes = {DLE, EOT, n};
        if (const Outcome written = writeAll(descriptor, bytes, deadline);
            written != Outcome::Done) {
            reading.outcome = written;
            reading.why = written == Outcome::TimedOut
                              ? name + " did not take the " + request + withinBudget(deadline)
                              : name + gone + " before the " + request;
            return reading;
        }
        std::array<std::uint8_t, 1> answer{};
        const ReadResult read = readSome(descriptor, answer, deadline);
        if (read.outcome != Outcome::Done) {
            reading.outcome = read.outcome;
            reading.why = read.outcome == Outcome::TimedOut
                              ? name + " did not answer the " + request + withinBudget(deadline)
                              : name + gone + " before answering the " + request;
            return reading;
        }
        if (isValidAnswer(answer[0])) {
            reading.answers[n - 1U] = answer[0];
        } else if (reading.why.empty()) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", unsigned{answer[0]});
            reading.why = name + " gave no valid answer to the " + request + " (" + hex + ")";
        }
    }
    reading.outcome = Outcome::Done;
    return reading;
}

DeviceReading failure(std::string why)
{
    return {.why = std::move(why)};
}

DeviceReading askDeviceFile(const std::string &path, const SerialDevice *line,
                            const Deadline &deadline, DeviceLock lockMode)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        return failure(path + ": " + systemError(errno)); // missing, or not ours to see
    // A file: queue that prints into a file is left alone; a serial line must be a device.
    if (!S_ISCHR(info.st_mode)) {
        if (line)
            return failure(path + " is no serial line (not a character device)");
        return {.notADevice = true};
    }
    // Destroyed in the reverse order: the line's settings are put back, then the lock is
    // released, then the device is closed.
    const Descriptor descriptor{::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC),
                                false};
    if (!descriptor.valid())
        return failure(path + ": " + systemError(errno));
    if (::fstat(descriptor.get(), &info) != 0 || !S_ISCHR(info.st_mode))
        return failure(path + " is not a character device");
    DeviceLockHold lock;
    if (const int error = lock.take(descriptor.get(), lockMode, deadline); error == EWOULDBLOCK) {
        DeviceReading busy = failure(path + " is in use by another program");
        if (lockMode == DeviceLock::Wait)
            busy.why += ", still after " + std::to_string(deadline.budget().count()) + " ms";
        busy.busy = true;
        return busy;
    } else if (error != 0) {
        return failure(path + " cannot be locked: " + systemError(error));
    }
    RawTerminal terminal(descriptor.get());
    if (::isatty(descriptor.get())) {
        if (!terminal.apply(line))
            return failure(path + ": its line settings could not be set");
    } else if (line) {
        return failure(path + " is no serial line (not a terminal)");
    }
    return askOver(descriptor, deadline, path);
}

} // namespace

DeviceReading askDevice(const DeviceUri &device, const Deadline &deadline, Resolver resolver,
                        DeviceLock lock)
{
    if (const auto *network = std::get_if<NetworkDevice>(&device)) {
        const std::string name = deviceName(device);
        const Connected connected = connectTcp(network->host, network->port, deadline, resolver);
        if (connected.outcome == Outcome::TimedOut)
            return {.outcome = Outcome::TimedOut,
                    .why = name + " did not take the connection" + withinBudget(deadline)};
        if (connected.outcome != Outcome::Done)
            return failure(name + " refused the connection or could not be reached");
        return askOver(connected.descriptor, deadline, name);
    }
    if (const auto *line = std::get_if<SerialDevice>(&device))
        return askDeviceFile(line->path, line, deadline, lock);
    if (const auto *file = std::get_if<DeviceFile>(&device))
        return askDeviceFile(file->path, nullptr, deadline, lock);
    return failure("no device to ask");
}

std::string deviceName(const DeviceUri &device)
{
    if (const auto *network = std::get_if<NetworkDevice>(&device)) {
        const bool ipv6 = network->host.find(':') != std::string::npos;
        return (ipv6 ? "[" + network->host + "]" : network->host) + ":" +
               std::to_string(network->port);
    }
    if (const auto *line = std::get_if<SerialDevice>(&device))
        return line->path;
    if (const auto *file = std::get_if<DeviceFile>(&device))
        return file->path;
    if (const auto *usb = std::get_if<UsbDevice>(&device))
        return usb->uri;
    return {};
}

} // namespace ravelin::qvlmstat
