// SPDX-License-Identifier: MIT
#pragma once

// A test's language monitor: the project's ravelin-monitor in a process of its own, on a socket
// of the test's, asking the scheduler the test's environment names; what it logs is kept. It is
// ended with SIGTERM when the object goes, or when the test's process does. Tests and benchmarks
// share it, and the connections to a monitor's socket (SocketClient) and sockets that stand in
// for one (listeningSocket()).

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtDebug>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>

// A listening Unix socket at path, or -1.
inline int listeningSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    if (fd >= 0 && (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
                    ::listen(fd, 8) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A client's connection to a Unix socket, closed when it goes.
struct SocketClient
{
    explicit SocketClient(const QString &path)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~SocketClient()
    {
        if (fd >= 0)
            ::close(fd);
    }
    SocketClient(const SocketClient &) = delete;
    SocketClient &operator=(const SocketClient &) = delete;

    bool send(const QByteArray &bytes) const
    {
        return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // What arrives until complete(what arrived) holds, the server closes, or five seconds pass.
    template <typename Complete> QByteArray receiveUntil(Complete complete)
    {
        QByteArray bytes;
        const QDeadlineTimer deadline(5000);
        while (!complete(bytes) && !deadline.hasExpired()) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, int(deadline.remainingTime())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                closed = true;
                break;
            }
            bytes.append(buffer, got);
        }
        return bytes;
    }
    // What arrives until `lines` lines are in, the server closes, or five seconds pass.
    QByteArray receive(int lines = 1)
    {
        return receiveUntil(
            [lines](const QByteArray &bytes) { return bytes.count('\n') >= lines; });
    }
    // Whether the server closes the connection within five seconds (what it sends is dropped).
    bool isClosedByServer()
    {
        while (!closed && !receive(1 << 20).isEmpty()) {
        }
        return closed;
    }
    QByteArray ask(const QByteArray &request, int lines = 1)
    {
        return send(request) ? receive(lines) : QByteArray("(not sent)");
    }

    int fd = -1;
    bool closed = false;
};

class MonitorProcess
{
public:
    explicit MonitorProcess(QString socketPath)
        : m_socket(std::move(socketPath))
    {}
    MonitorProcess(const MonitorProcess &) = delete;
    MonitorProcess &operator=(const MonitorProcess &) = delete;
    ~MonitorProcess() { stop(); }

    // Starts it with these arguments besides --socket and waits until it listens; false (with
    // what it said in the log) otherwise.
    bool start(const QStringList &arguments = {})
    {
        // (It writes nothing else.)
        m_process.setReadChannel(QProcess::StandardError);
        // Should the test end without stopping it (a crash, a time-out), it ends too.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(QStringLiteral(MONITOR_PATH),
                        QStringList{QStringLiteral("--socket"), m_socket} + arguments);
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            if (log().filter(QStringLiteral("answering at")).size() == 1)
                return true;
            m_process.waitForReadyRead(int(deadline.remainingTime()));
        }
        qWarning() << "the monitor did not start:" << m_log << m_process.errorString();
        return false;
    }

    // Sends it the signal and waits for it to end; true when it ended by itself with status 0.
    bool stop(int signal = SIGTERM)
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        ::kill(pid_t(m_process.processId()), signal);
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
            return false;
        }
        log();
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    // The lines it has logged so far, without "ravelin-monitor: ".
    QStringList log()
    {
        m_pending += m_process.readAllStandardError();
        while (m_pending.contains('\n')) {
            const qsizetype end = m_pending.indexOf('\n');
            QString line = QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
            m_log << line.remove(QStringLiteral("ravelin-monitor: "));
        }
        return m_log;
    }

    const QString &socketPath() const { return m_socket; }
    QProcess &process() { return m_process; }

    // Sends request (its LF added) to the monitor at socketPath and returns the answer's first
    // line without its LF, or, for "list", every line up to "end N"; empty when none came within
    // five seconds.
    static QByteArray ask(const QString &socketPath, const QByteArray &request)
    {
        SocketClient client(socketPath);
        QByteArray answer;
        if (client.send(request + '\n')) {
            answer = client.receiveUntil([&request](const QByteArray &bytes) {
                if (request != "list")
                    return bytes.contains('\n');
                return bytes.endsWith('\n') && ('\n' + bytes).contains("\nend ");
            });
        }
        if (request != "list")
            answer = answer.left(answer.indexOf('\n') + 1);
        return answer.endsWith('\n') ? answer.chopped(1) : QByteArray();
    }

    QByteArray ask(const QByteArray &request) const { return ask(m_socket, request); }

private:
    QString m_socket;
    QProcess m_process;
    QByteArray m_pending;
    QStringList m_log;
};
