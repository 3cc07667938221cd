// SPDX-License-Identifier: MIT
#pragma once

// A scheduler that misbehaves on purpose, on a Unix socket of its own, served by a thread: it
// holds connections without a word, trickles an answer or an endless head, sends a body that
// never ends, answers properly about one printer, or sends whatever response it is given. It
// speaks no TLS: a client that starts TLS has the connection closed. It counts the connections
// it takes.

#include <cups/cups.h>

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

class FakeScheduler
{
public:
    enum class Behaviour {
        Silent,        // takes connections and never reads or answers
        Trickle,       // a complete, proper answer, one byte every 40 ms (ten seconds in all)
        TrickleAtOnce, // unasked, as soon as it accepts: a head line that never ends, a byte
                       // every 40 ms, so that the connection is never quiet for long
        Endless,       // a proper answer whose body never ends, as fast as it goes
        Answer,        // a proper answer about the printer below
        Raw,           // the bytes given to setResponse(), then the connection closed
    };

    // The printer that Answer describes.
    struct Printer
    {
        QByteArray name = "QVT-Fake";
        int state = 3; // idle
        QByteArray deviceUri = "ipp://ravelin.invalid/printers/inert";
        QByteArray reason = "none";
    };

    FakeScheduler(const QString &socketPath, Behaviour behaviour)
        : m_behaviour(behaviour)
    {
        const QByteArray path = socketPath.toLocal8Bit();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof address.sun_path)
            return;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        ::unlink(path.constData()); // left by an earlier one
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listener < 0 || ::pipe2(m_stop, O_CLOEXEC) != 0 ||
            ::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 64) != 0) {
            return;
        }
        m_thread = std::thread([this] { serve(); });
    }
    ~FakeScheduler()
    {
        if (m_thread.joinable()) {
            [[maybe_unused]] const ssize_t written = ::write(m_stop[1], "x", 1);
            m_thread.join();
        }
        for (int fd : {m_listener, m_stop[0], m_stop[1]}) {
            if (fd >= 0)
                ::close(fd);
        }
        for (int fd : m_held)
            ::close(fd);
    }
    FakeScheduler(const FakeScheduler &) = delete;
    FakeScheduler &operator=(const FakeScheduler &) = delete;

    bool isListening() const { return m_thread.joinable(); }
    int connections() const { return m_connections; }
    void setBehaviour(Behaviour behaviour) { m_behaviour = behaviour; }
    void setPrinter(const Printer &printer)
    {
        const std::lock_guard lock(m_mutex);
        m_printer = printer;
    }
    void setResponse(const QByteArray &response)
    {
        const std::lock_guard lock(m_mutex);
        m_response = response;
    }

    // The IPP answer about printer, for a test to change before it is sent; the caller deletes
    // it.
    static ipp_t *newAnswer(const Printer &printer)
    {
        ipp_t *response = ippNew();
        ippSetVersion(response, 2, 0);
        ippSetStatusCode(response, IPP_STATUS_OK);
        ippSetRequestId(response, 1);
        ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", nullptr,
                     "utf-8");
        ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language",
                     nullptr, "en");
        ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", printer.state);
        ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-state-reasons", nullptr,
                     printer.reason.constData());
        ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr,
                     printer.name.constData());
        ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr,
                     printer.deviceUri.constData());
        return response;
    }
    // An IPP message's bytes.
    static QByteArray bytesOf(ipp_t *message)
    {
        QByteArray bytes;
        ippWriteIO(
            &bytes,
            [](void *context, ipp_uchar_t *data, size_t size) -> ssize_t {
                static_cast<QByteArray *>(context)->append(reinterpret_cast<const char *>(data),
                                                           qsizetype(size));
                return ssize_t(size);
            },
            1, nullptr, message);
        return bytes;
    }
    // A whole HTTP response carrying body as an IPP message.
    static QByteArray httpResponse(const QByteArray &body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }

private:
    // Waits up to msec for the descriptor, or for the stop request; false when stopping.
    bool wait(int fd, short events, int msec) const
    {
        pollfd entries[2] = {{fd, events, 0}, {m_stop[0], POLLIN, 0}};
        return ::poll(entries, 2, msec) >= 0 && entries[1].revents == 0;
    }

    bool send(int fd, const QByteArray &bytes) const
    {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            if (!wait(fd, POLLOUT, -1))
                return false;
            const ssize_t count =
                ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (count <= 0)
                return false;
            sent += count;
        }
        return true;
    }

    // Reads the request's head and as much of its body as it announces; false when the client
    // starts TLS instead (a handshake record).
    bool readRequest(int fd) const
    {
        QByteArray request;
        char buffer[4096];
        for (;;) {
            if (request.startsWith('\x16'))
                return false;
            const qsizetype head = request.indexOf("\r\n\r\n");
            if (head >= 0) {
                const qsizetype field = request.toLower().indexOf("content-length:");
                const qsizetype length =
                    field >= 0 ? request.mid(field + 15, request.indexOf('\r', field) - field - 15)
                                     .trimmed()
                                     .toLongLong()
                               : 0;
                if (request.size() >= head + 4 + length)
                    return true;
            }
            if (!wait(fd, POLLIN, -1))
                return false;
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0)
                return false;
            request.append(buffer, count);
        }
    }

    static QByteArray chunk(const QByteArray &bytes)
    {
        return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
    }

    QByteArray answer() const
    {
        Printer printer;
        {
            const std::lock_guard lock(m_mutex);
            printer = m_printer;
        }
        ipp_t *response = newAnswer(printer);
        const QByteArray body = bytesOf(response);
        ippDelete(response);
        return httpResponse(body);
    }

    void handle(int fd)
    {
        switch (m_behaviour.load()) {
        case Behaviour::Silent:
            m_held.push_back(fd); // kept open, unread, until the end
            return;
        case Behaviour::Trickle:
            if (readRequest(fd)) {
                for (const char byte : answer()) {
                    if (!send(fd, QByteArray(1, byte)) || !wait(fd, 0, 40))
                        break;
                }
            }
            break;
        case Behaviour::TrickleAtOnce:
            if (send(fd, "HTTP/1.1 200 OK\r\nX-Filler: ")) {
                while (send(fd, "x") && wait(fd, 0, 40)) {
                }
            }
            break;
        case Behaviour::Endless:
            // A proper IPP response whose printer-state-reasons never run out of values.
            if (readRequest(fd) &&
                send(fd,
                     "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n" +
                         chunk(QByteArray::fromHex("020000000000000104440015") +
                               "printer-state-reasons" + QByteArray::fromHex("0004") + "none"))) {
                QByteArray values;
                for (int i = 0; i < 100; ++i)
                    values += QByteArray::fromHex("4400000004") + "none";
                const QByteArray more = chunk(values);
                while (send(fd, more)) {
                }
            }
            break;
        case Behaviour::Answer:
            if (readRequest(fd))
                send(fd, answer());
            break;
        case Behaviour::Raw:
            if (readRequest(fd)) {
                QByteArray response;
                {
                    const std::lock_guard lock(m_mutex);
                    response = m_response;
                }
                send(fd, response);
            }
            break;
        }
        ::close(fd);
    }

    void serve()
    {
        while (wait(m_listener, POLLIN, -1)) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            handle(fd);
        }
    }

    std::atomic<Behaviour> m_behaviour;
    std::atomic<int> m_connections = 0;
    mutable std::mutex m_mutex;
    Printer m_printer;
    QByteArray m_response;
    int m_listener = -1;
    int m_stop[2] = {-1, -1};
    std::vector<int> m_held;
    std::thread m_thread;
};
