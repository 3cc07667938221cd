// SPDX-License-Identifier: MIT
#pragma once

// A test's simulated receipt printer: the project's ravelin-printer-sim in a process of its own,
// playing the real-time status port on 127.0.0.1 and on pseudo-terminals, commanded line by
// line. It is quit when the object goes. Besides the raw commands, what the stand-in's tests and
// benchmark ask of it: the answers to set, the bytes and connections it received, and the
// device URI of a queue that points at it.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtDebug>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class PrinterSim
{
public:
    PrinterSim() = default;
    PrinterSim(const PrinterSim &) = delete;
    PrinterSim &operator=(const PrinterSim &) = delete;
    ~PrinterSim()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Starts it and waits until it is ready; false (with the reason in the log) otherwise.
    bool start(const QStringList &arguments = {QStringLiteral("--tcp"), QStringLiteral("0"),
                                               QStringLiteral("--pty")})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(PRINTER_SIM_PATH), arguments);
        for (;;) {
            const QString line = readLine();
            if (line == QStringLiteral("ready"))
                return true;
            if (line.startsWith(QStringLiteral("tcp 127.0.0.1:"))) {
                m_port = line.section(u':', 1).toUShort();
            } else if (line.startsWith(QStringLiteral("pty "))) {
                m_ptys << line.mid(4);
            } else {
                qWarning() << "the printer simulator did not start:" << line
                           << m_process.errorString();
                return false;
            }
        }
    }

    // Runs one command and returns its answer line, or an empty text when none came.
    QString command(const QString &line)
    {
        m_process.write(line.toUtf8() + '\n');
        return readLine();
    }

    quint16 port() const { return m_port; }
    // A blocking connection to its status port, close-on-exec, for the caller to close; -1 when
    // none could be made.
    int connectToPort() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    QString pty(int index = 0) const { return m_ptys.value(index); }
    QProcess &process() { return m_process; }

    QString socketUri() const { return QStringLiteral("socket://127.0.0.1:%1").arg(m_port); }

    // Runs a command; false (with the answer in the log) unless it succeeded.
    bool run(const QString &line)
    {
        const QString answer = command(line);
        if (answer == u"ok" || answer.startsWith(u"ok "))
            return true;
        qWarning() << "printer simulator:" << line << "->" << answer;
        return false;
    }

    // The bytes it answers to DLE EOT 1, 2, 3 and 4.
    bool answer(const QList<int> &bytes)
    {
        for (qsizetype n = 1; n <= bytes.size(); ++n) {
            if (!run(QStringLiteral("answer %1 0x%2").arg(n).arg(bytes[n - 1], 2, 16, QChar(u'0'))))
                return false;
        }
        return true;
    }

    // The bytes received since the last reset, in hexadecimal ("10 04 01 ..."); "?" on failure.
    QByteArray received()
    {
        const QString answer = command(QStringLiteral("received"));
        return answer.startsWith(u"ok") ? answer.mid(3).toLatin1() : QByteArrayLiteral("?");
    }

    // The connections it has taken since the last reset; -1 on failure.
    int connections()
    {
        const QString answer = command(QStringLiteral("connections"));
        return answer.startsWith(u"ok ") ? answer.mid(3).toInt() : -1;
    }

    // What the stand-in sends in one call, as received() shows it: DLE EOT 1 to 4, and nothing
    // else.
    static QByteArray oneQuery()
    {
        return QByteArrayLiteral("10 04 01 10 04 02 10 04 03 10 04 04");
    }

private:
    // The next line it prints, waiting five seconds at most.
    QString readLine()
    {
        const QDeadlineTimer deadline(5000);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() ||
                !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return {};
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    QProcess m_process;
    quint16 m_port = 0;
    QStringList m_ptys;
};
