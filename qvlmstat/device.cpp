// SPDX-License-Identifier: MIT
#include "device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

namespace ravelin::qvlmstat {

namespace {

constexpr std::uint8_t DLE = 0x10;
constexpr std::uint8_t EOT = 0x04;

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
            settings.c_iflag &= ~(IXON | IXOFF | IXANY);
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

// The four requests, one at a time, each waited for until its answer or the deadline.
DeviceReading askOver(const Descriptor &descriptor, const Deadline &deadline)
{
    DeviceReading reading;
    for (std::uint8_t n = 1; n <= 4; ++n) {
        // A byte left from before would pass for this request's answer.
        if (!discardWaiting(descriptor))
            return reading;
        const std::array<std::uint8_t, 3> request = {DLE, EOT, n};
        if (const Outcome written = writeAll(descriptor, request, deadline);
            written != Outcome::Done) {
            reading.outcome = written;
            return reading;
        }
        std::array<std::uint8_t, 1> answer{};
        const ReadResult read = readSome(descriptor, answer, deadline);
        if (read.outcome != Outcome::Done) {
            reading.outcome = read.outcome;
            return reading;
        }
        if (isValidAnswer(answer[0]))
            reading.answers[n - 1] = answer[0];
    }
    reading.outcome = Outcome::Done;
    return reading;
}

DeviceReading askDeviceFile(const std::string &path, const SerialDevice *line,
                            const Deadline &deadline)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        return {}; // missing, or not ours to see
    // A file: queue that prints into a file is left alone; a serial line must be a device.
    if (!S_ISCHR(info.st_mode))
        return {.notADevice = line == nullptr};
    const Descriptor descriptor{::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC),
                                false};
    if (!descriptor.valid() || ::fstat(descriptor.get(), &info) != 0 || !S_ISCHR(info.st_mode))
        return {};
    RawTerminal terminal(descriptor.get()); // goes before the descriptor closes
    if (::isatty(descriptor.get())) {
        if (!terminal.apply(line))
            return {};
    } else if (line) {
        return {}; // a serial line that is no terminal
    }
    return askOver(descriptor, deadline);
}

} // namespace

DeviceReading askDevice(const DeviceUri &device, const Deadline &deadline, Resolver resolver)
{
    if (const auto *network = std::get_if<NetworkDevice>(&device)) {
        const Connected connected = connectTcp(network->host, network->port, deadline, resolver);
        if (connected.outcome != Outcome::Done)
            return {.outcome = connected.outcome};
        return askOver(connected.descriptor, deadline);
    }
    if (const auto *line = std::get_if<SerialDevice>(&device))
        return askDeviceFile(line->path, line, deadline);
    if (const auto *file = std::get_if<DeviceFile>(&device))
        return askDeviceFile(file->path, nullptr, deadline);
    return {};
}

} // namespace ravelin::qvlmstat
