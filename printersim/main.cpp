// SPDX-License-Identifier: MIT
// ravelin-printer-sim: plays a receipt printer's real-time status port for the tests and the
// demonstration printers, on a TCP port of 127.0.0.1 and on pseudo-terminals, while commands on
// stdin change its state. It opens no other device.
//
//   ravelin-printer-sim [--tcp PORT] [--pty]... [--cycle MS]
//
// One thread, one poll loop over stdin, the listening socket, the one open connection and the
// pseudo-terminals' masters.

#include "printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace ravelin::printersim;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a trickling printer sends its next invalid byte.
constexpr milliseconds TricklePeriod{20};
constexpr std::uint8_t TrickleByte = 0xff;
// A command line longer than this is refused rather than buffered without end.
constexpr std::size_t LineLimit = 4096;

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int)
{
    stopSignal = 1;
}

void say(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Sends at once what fits; a peer that does not read loses the rest, as with a printer. (A
// peer that is gone gives EPIPE: SIGPIPE is ignored.)
void transmit(int fd, std::string_view bytes)
{
    [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// An answer that a slow printer has not sent yet.
struct PendingAnswer
{
    Clock::time_point due;
    std::uint8_t byte;
};

// One side that requests arrive on: the open TCP connection or a pseudo-terminal's master.
struct Channel
{
    int fd = -1;
    RequestReader reader;
    // The answers of a slow printer, in the order they go out.
    std::deque<PendingAnswer> pending;
};

struct Pty
{
    Channel master;
    // Held open by the simulator itself, so that the master never sees a hang-up when the other
    // side closes the slave, and so that the slave's queue can be measured and flushed.
    int slave = -1;
    std::string path;
};

struct Options
{
    std::optional<int> tcpPort;
    int ptys = 0;
    std::optional<int> cycleMs;
};

class Simulator
{
public:
    explicit Simulator(const Options &options);
    ~Simulator();
    bool start(); // opens the ports and says where they are
    int exec();

private:
    bool listenTcp(int port);
    bool openPty();
    std::vector<pollfd> pollSet() const;
    int nextTimeout(Clock::time_point now) const;
    void runTimers(Clock::time_point now);
    void sendDue(Channel &channel, Clock::time_point now);
    void closeConnection();
    void acceptConnection();
    // Reads what arrived on the channel; false when the peer is gone.
    bool serve(Channel &channel);
    void readCommands();
    void runCommand(std::string_view line);
    void trickle();

    Options m_options;
    Printer m_printer;
    int m_listener = -1;
    Channel m_connection;
    std::vector<Pty> m_ptys;
    bool m_quit = false;
    std::string m_line;
    bool m_discardingLine = false;
    Clock::time_point m_nextTrickle;
    Clock::time_point m_nextCycle;
};

Simulator::Simulator(const Options &options)
    : m_options(options)
{}

Simulator::~Simulator()
{
    closeFd(m_listener);
    closeFd(m_connection.fd);
    for (Pty &pty : m_ptys) {
        closeFd(pty.master.fd);
        closeFd(pty.slave);
    }
}

bool Simulator::start()
{
    if (m_options.tcpPort && !listenTcp(*m_options.tcpPort))
        return false;
    for (int i = 0; i < m_options.ptys; ++i) {
        if (!openPty())
            return false;
    }
    const Clock::time_point now = Clock::now();
    m_nextTrickle = now + TricklePeriod;
    if (m_options.cycleMs) {
        m_printer.advanceCycle();
        m_nextCycle = now + milliseconds(*m_options.cycleMs);
    }
    say("ready");
    return true;
}

bool Simulator::listenTcp(int port)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0) {
        std::perror("ravelin-printer-sim: socket");
        return false;
    }
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 8) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::fprintf(stderr, "ravelin-printer-sim: cannot listen on 127.0.0.1:%d: %s\n", port,
                     std::strerror(errno));
        return false;
    }
    say("tcp 127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    return true;
}

bool Simulator::openPty()
{
    Pty pty;
    char path[128];
    pty.master.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master.fd < 0 || ::grantpt(pty.master.fd) != 0 || ::unlockpt(pty.master.fd) != 0 ||
        ::ptsname_r(pty.master.fd, path, sizeof path) != 0 ||
        ::fcntl(pty.master.fd, F_SETFL, O_NONBLOCK) != 0) {
        std::perror("ravelin-printer-sim: pseudo-terminal");
        closeFd(pty.master.fd);
        return false;
    }
    pty.path = path;
    pty.slave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios settings{};
    if (pty.slave < 0 || ::tcgetattr(pty.slave, &settings) != 0) {
        std::perror("ravelin-printer-sim: pseudo-terminal slave");
        closeFd(pty.master.fd);
        closeFd(pty.slave);
        return false;
    }
    // Raw until the other side sets its own line: no echo of the answers, no line editing.
    ::cfmakeraw(&settings);
    ::tcsetattr(pty.slave, TCSANOW, &settings);
    say("pty " + pty.path);
    m_ptys.push_back(std::move(pty));
    return true;
}

std::vector<pollfd> Simulator::pollSet() const
{
    // Order: stdin, listener or connection, then the ptys' masters (see exec()).
    std::vector<pollfd> fds;
    fds.push_back({STDIN_FILENO, POLLIN, 0});
    // A receipt printer serves one connection at a time: the next waits in the backlog.
    if (m_connection.fd >= 0)
        fds.push_back({m_connection.fd, POLLIN, 0});
    else
        fds.push_back({m_listener, POLLIN, 0});
    for (const Pty &pty : m_ptys)
        fds.push_back({pty.master.fd, POLLIN, 0});
    return fds;
}

int Simulator::nextTimeout(Clock::time_point now) const
{
    std::optional<Clock::time_point> next;
    if (m_printer.fault() == Fault::Trickle)
        next = m_nextTrickle;
    if (m_options.cycleMs && (!next || m_nextCycle < *next))
        next = m_nextCycle;
    const auto dueFirst = [&](const Channel &channel) {
        if (!channel.pending.empty() && (!next || channel.pending.front().due < *next))
            next = channel.pending.front().due;
    };
    dueFirst(m_connection);
    for (const Pty &pty : m_ptys)
        dueFirst(pty.master);
    if (!next)
        return -1;
    if (*next <= now)
        return 0;
    // Rounded up, so that the wait does not end just short of the deadline and spin.
    return static_cast<int>(std::chrono::ceil<milliseconds>(*next - now).count());
}

void Simulator::runTimers(Clock::time_point now)
{
    if (m_printer.fault() == Fault::Trickle && now >= m_nextTrickle) {
        trickle();
        m_nextTrickle = now + TricklePeriod;
    }
    if (m_options.cycleMs && now >= m_nextCycle) {
        m_printer.advanceCycle();
        m_nextCycle = now + milliseconds(*m_options.cycleMs);
    }
    sendDue(m_connection, now);
    for (Pty &pty : m_ptys)
        sendDue(pty.master, now);
}

void Simulator::sendDue(Channel &channel, Clock::time_point now)
{
    std::string answers;
    while (!channel.pending.empty() && channel.pending.front().due <= now) {
        answers.push_back(static_cast<char>(channel.pending.front().byte));
        channel.pending.pop_front();
    }
    if (!answers.empty() && channel.fd >= 0)
        transmit(channel.fd, answers);
}

void Simulator::closeConnection()
{
    closeFd(m_connection.fd);
    m_connection.pending.clear();
}

int Simulator::exec()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    // The signals are let in only while waiting, so none is lost between a check and the wait.
    sigset_t waiting;
    sigprocmask(SIG_BLOCK, &stopSignals, &waiting);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);

    while (!m_quit && !stopSignal) {
        std::vector<pollfd> fds = pollSet();
        const int timeout = nextTimeout(Clock::now());
        timespec wait{timeout / 1000, (timeout % 1000) * 1000000L};
        const int ready = ::ppoll(fds.data(), fds.size(), timeout < 0 ? nullptr : &wait, &waiting);
        if (ready < 0 && errno != EINTR) {
            std::perror("ravelin-printer-sim: poll");
            return 1;
        }
        if (ready > 0) {
            if (fds[0].revents != 0)
                readCommands();
            if (fds[1].revents != 0) {
                if (m_connection.fd >= 0) {
                    if (!serve(m_connection))
                        closeConnection();
                } else {
                    acceptConnection();
                }
            }
            for (std::size_t i = 0; i < m_ptys.size(); ++i) {
                if (fds[2 + i].revents != 0 && !serve(m_ptys[i].master)) {
                    // Cannot happen while the simulator holds the slave; rather than spin on
                    // it, the pseudo-terminal is given up.
                    std::fprintf(stderr, "ravelin-printer-sim: %s hung up\n",
                                 m_ptys[i].path.c_str());
                    closeFd(m_ptys[i].master.fd);
                }
            }
        }
        runTimers(Clock::now());
    }
    return 0;
}

void Simulator::acceptConnection()
{
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    m_printer.countConnection();
    if (m_printer.fault() == Fault::Close) {
        ::close(fd);
        return;
    }
    // Each answer goes out at once, not held back for the acknowledgement of the one before.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_connection.fd = fd;
    m_connection.reader.restart();
}

bool Simulator::serve(Channel &channel)
{
    std::uint8_t buffer[4096];
    const ssize_t count = ::read(channel.fd, buffer, sizeof buffer);
    if (count == 0)
        return false;
    if (count < 0)
        return errno == EAGAIN || errno == EINTR;
    std::string answers;
    const milliseconds delay = m_printer.answerDelay();
    for (ssize_t i = 0; i < count; ++i) {
        m_printer.record(buffer[i]);
        const int n = channel.reader.feed(buffer[i]);
        if (n == 0)
            continue;
        const std::optional<std::uint8_t> answer = m_printer.answerTo(n);
        if (!answer)
            continue;
        if (delay == milliseconds::zero()) {
            answers.push_back(static_cast<char>(*answer));
            continue;
        }
        // A slow printer works through its requests one after the other.
        const Clock::time_point start =
            channel.pending.empty() ? Clock::now() : channel.pending.back().due;
        channel.pending.push_back({start + delay, *answer});
    }
    if (!answers.empty())
        transmit(channel.fd, answers);
    return true;
}

void Simulator::readCommands()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        // End of input ends the simulator, after a last line without its line feed.
        if (!m_line.empty() && !m_discardingLine)
            runCommand(m_line);
        m_quit = true;
        return;
    }
    for (const char c : std::string_view(buffer, static_cast<std::size_t>(count))) {
        if (c == '\n') {
            if (!m_discardingLine)
                runCommand(m_line);
            m_line.clear();
            m_discardingLine = false;
        } else if (!m_discardingLine) {
            m_line.push_back(c);
            if (m_line.size() > LineLimit) {
                say("error line too long");
                m_line.clear();
                m_discardingLine = true;
            }
        }
    }
}

void Simulator::runCommand(std::string_view line)
{
    const Outcome outcome = m_printer.run(line);
    if (outcome.resetDone) {
        m_connection.reader.restart();
        for (Pty &pty : m_ptys)
            pty.master.reader.restart();
    }
    if (outcome.resetDone || outcome.faultChanged) {
        // Answers that no one read before are no answers to what comes next.
        m_connection.pending.clear();
        for (Pty &pty : m_ptys) {
            ::tcflush(pty.slave, TCIFLUSH);
            pty.master.pending.clear();
        }
    }
    if (outcome.faultChanged && m_printer.fault() == Fault::Close)
        closeConnection();
    if (outcome.quit)
        m_quit = true;
    say(outcome.reply);
}

void Simulator::trickle()
{
    const char byte[1] = {static_cast<char>(TrickleByte)};
    if (m_connection.fd >= 0)
        transmit(m_connection.fd, {byte, 1});
    for (Pty &pty : m_ptys) {
        // Only when the last byte has been read: unread bytes would pile up while no one has
        // the slave open.
        int waiting = 0;
        if (pty.master.fd >= 0 && ::ioctl(pty.slave, FIONREAD, &waiting) == 0 && waiting == 0)
            transmit(pty.master.fd, {byte, 1});
    }
}

std::optional<int> parseNumber(const char *text, int low, int high)
{
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
        return std::nullopt;
    return static_cast<int>(value);
}

int usage()
{
    std::fputs("usage: ravelin-printer-sim [--tcp PORT] [--pty]... [--cycle MS]\n"
               "  --tcp PORT   listen on 127.0.0.1:PORT (0: a free port)\n"
               "  --pty        open a pseudo-terminal standing in for a serial line\n"
               "  --cycle MS   turn the state round every MS milliseconds: paper-near-end,\n"
               "               paper-end, cover-open, clear\n"
               "Commands on stdin, one a line: answer N 0xHH, state CONDITION... | clear,\n"
               "fault none|silent|invalid|trickle|close, delay MS, received, connections, reset,\n"
               "quit\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--pty") {
            ++options.ptys;
        } else if (argument == "--tcp" && i + 1 < argc && !options.tcpPort) {
            options.tcpPort = parseNumber(argv[++i], 0, 65535);
            if (!options.tcpPort)
                return usage();
        } else if (argument == "--cycle" && i + 1 < argc && !options.cycleMs) {
            options.cycleMs = parseNumber(argv[++i], 1, 86400000);
            if (!options.cycleMs)
                return usage();
        } else {
            return usage();
        }
    }
    if (!options.tcpPort && options.ptys == 0)
        return usage();

    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    Simulator simulator(options);
    if (!simulator.start())
        return 1;
    return simulator.exec();
}
