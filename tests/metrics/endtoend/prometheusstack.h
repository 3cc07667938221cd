// SPDX-License-Identifier: MIT
#pragma once

// A real Prometheus and a real Alertmanager for a test, on loopback only, each in a process of
// its own with a private data folder, on free ports of 127.0.0.1, with short intervals:
// Prometheus scrapes one target as job "ravelin" every second, evaluates the given rules every
// second and sends alerts to the Alertmanager, which routes every alert at once to a webhook
// listener of the test's. Nothing in either configuration names an address off this machine,
// their environment has no proxy, and the cluster port of the Alertmanager is off; socketsOff-
// Loopback() checks what they really opened. Both are stopped (SIGTERM, then SIGKILL after 15 s)
// when the object goes, and killed by the kernel if the test itself dies.

#include "httpget.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtDebug>

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

// Alertmanager's webhook receiver: every notification it POSTs, as JSON.
class WebhookListener : public QObject
{
public:
    bool listen()
    {
        connect(&m_server, &QTcpServer::newConnection, this, &WebhookListener::accept);
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    const QList<QJsonObject> &notifications() const { return m_notifications; }

    // The alerts of every notification so far with this status ("firing", "resolved") and
    // alert name, newest last.
    QList<QJsonObject> alerts(const QString &status, const QString &alertName) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &notification : m_notifications) {
            for (const QJsonValue &alert : notification.value(u"alerts").toArray()) {
                const QJsonObject object = alert.toObject();
                if (object.value(u"status").toString() == status &&
                    object.value(u"labels").toObject().value(u"alertname").toString() ==
                        alertName) {
                    found << object;
                }
            }
        }
        return found;
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        }
    }

    void read(QTcpSocket *socket)
    {
        QByteArray &request = m_requests[socket];
        request += socket->readAll();
        const qsizetype headEnd = request.indexOf("\r\n\r\n");
        if (headEnd < 0 && request.size() < 65536)
            return;
        static const QRegularExpression lengthHeader(
            QStringLiteral(R"(\r\ncontent-length: *(\d+)\r\n)"),
            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch length =
            lengthHeader.match(QString::fromLatin1(request.left(headEnd + 2)));
        const qsizetype bodyLength = length.hasMatch() ? length.captured(1).toLongLong() : 0;
        if (headEnd >= 0 && request.size() < headEnd + 4 + bodyLength)
            return;
        const QJsonDocument body = QJsonDocument::fromJson(request.mid(headEnd + 4, bodyLength));
        if (body.isObject())
            m_notifications << body.object();
        else
            qWarning() << "webhook: not a JSON object:" << request.left(1024);
        m_requests.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_requests;
    QList<QJsonObject> m_notifications;
};

class PrometheusStack
{
public:
    PrometheusStack() = default;
    PrometheusStack(const PrometheusStack &) = delete;
    PrometheusStack &operator=(const PrometheusStack &) = delete;
    ~PrometheusStack() { stop(); }

    // Starts the Alertmanager, then Prometheus scraping target (HOST:PORT) with these rules;
    // true when both answer /-/ready. Each gets three tries on fresh ports, in case another
    // program took the one that was free a moment before.
    bool start(const QString &target, const QString &rules, quint16 webhookPort)
    {
        if (!m_dir.isValid())
            return false;
        writeFile(QStringLiteral("alertmanager.yml"), alertmanagerConfiguration(webhookPort));
        if (!startServer(m_alertmanager, QStringLiteral(ALERTMANAGER), [this](quint16 port) {
                return QStringList{
                    QStringLiteral("--config.file=") +
                        m_dir.filePath(QStringLiteral("alertmanager.yml")),
                    QStringLiteral("--storage.path=") +
                        m_dir.filePath(QStringLiteral("alertmanager-data")),
                    QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                    QStringLiteral("--web.external-url=http://127.0.0.1:%1/").arg(port),
                    // No high-availability cluster: it would listen on every interface and
                    // look for peers.
                    QStringLiteral("--cluster.listen-address="),
                    QStringLiteral("--log.level=warn")};
            })) {
            return false;
        }
        return startServer(m_prometheus, QStringLiteral(PROMETHEUS), [&](quint16 port) {
            writeFile(QStringLiteral("prometheus.yml"), prometheusConfiguration(target, rules));
            return QStringList{QStringLiteral("--config.file=") +
                                   m_dir.filePath(QStringLiteral("prometheus.yml")),
                               QStringLiteral("--storage.tsdb.path=") +
                                   m_dir.filePath(QStringLiteral("prometheus-data")),
                               QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                               QStringLiteral("--web.external-url=http://127.0.0.1:%1/").arg(port),
                               QStringLiteral("--web.console.templates=") + m_dir.path(),
                               QStringLiteral("--web.console.libraries=") + m_dir.path(),
                               QStringLiteral("--log.level=warn")};
        });
    }

    quint16 prometheusPort() const { return m_prometheus.port; }
    quint16 alertmanagerPort() const { return m_alertmanager.port; }

    // The samples of an instant query (the API's data.result); empty on failure, with the
    // failure in the log.
    QJsonArray query(const QString &expression) const
    {
        const HttpAnswer answer =
            httpGet(m_prometheus.port,
                    "/api/v1/query?query=" + QUrl::toPercentEncoding(expression).toStdString());
        const QJsonObject json =
            QJsonDocument::fromJson(QByteArray::fromStdString(answer.body)).object();
        if (answer.status != 200 || json.value(u"status").toString() != u"success") {
            qWarning() << "query" << expression << "failed:" << answer.status
                       << answer.body.c_str();
            return {};
        }
        return json.value(u"data").toObject().value(u"result").toArray();
    }

    // The sockets either server has open on an address other than loopback (a listener on every
    // interface, a connection to another host), described; empty when there is none. seen counts
    // their TCP and UDP sockets, so that a check that found nothing can tell it looked.
    QStringList socketsOffLoopback(int &seen) const
    {
        QStringList found;
        seen = 0;
        for (const Server *server : {&m_prometheus, &m_alertmanager}) {
            if (server->process && server->process->state() == QProcess::Running)
                found << socketsOffLoopback(server->name, server->process->processId(), seen);
        }
        return found;
    }

    // Stops both, Prometheus first; true when each ended by itself on SIGTERM, in time.
    bool stop()
    {
        bool clean = true;
        for (Server *server : {&m_prometheus, &m_alertmanager}) {
            if (!server->process || server->process->state() == QProcess::NotRunning)
                continue;
            server->process->terminate();
            if (!server->process->waitForFinished(15000)) {
                qWarning() << server->name << "did not end on SIGTERM within 15 s; killed";
                server->process->kill();
                server->process->waitForFinished(5000);
                clean = false;
            } else if (server->process->exitStatus() != QProcess::NormalExit ||
                       server->process->exitCode() != 0) {
                qWarning() << server->name << "ended with" << server->process->exitCode();
                clean = false;
            }
        }
        return clean;
    }

    bool running() const
    {
        return (m_prometheus.process && m_prometheus.process->state() != QProcess::NotRunning) ||
               (m_alertmanager.process && m_alertmanager.process->state() != QProcess::NotRunning);
    }

private:
    struct Server
    {
        QString name;
        std::unique_ptr<QProcess> process;
        quint16 port = 0;
    };

    static quint16 freeLoopbackPort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        quint16 port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        if (fd >= 0)
            ::close(fd);
        return port;
    }

    void writeFile(const QString &name, const QByteArray &text) const
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qWarning() << "cannot write" << file.fileName();
    }

    static QByteArray alertmanagerConfiguration(quint16 webhookPort)
    {
        return QStringLiteral("route:\n"
                              "  receiver: test\n"
                              "  group_by: [alertname, printer]\n"
                              "  group_wait: 1s\n"
                              "  group_interval: 1s\n"
                              "  repeat_interval: 1h\n"
                              "receivers:\n"
                              "  - name: test\n"
                              "    webhook_configs:\n"
                              "      - url: http://127.0.0.1:%1/alerts\n"
                              "        send_resolved: true\n")
            .arg(webhookPort)
            .toUtf8();
    }

    QByteArray prometheusConfiguration(const QString &target, const QString &rules) const
    {
        return QStringLiteral("global:\n"
                              "  scrape_interval: 1s\n"
                              "  scrape_timeout: 1s\n"
                              "  evaluation_interval: 1s\n"
                              "rule_files:\n"
                              "  - %1\n"
                              "alerting:\n"
                              "  alertmanagers:\n"
                              "    - static_configs:\n"
                              "        - targets: ['127.0.0.1:%2']\n"
                              "scrape_configs:\n"
                              "  - job_name: ravelin\n"
                              "    static_configs:\n"
                              "      - targets: ['%3']\n")
            .arg(rules)
            .arg(m_alertmanager.port)
            .arg(target)
            .toUtf8();
    }

    bool startServer(Server &server, const QString &program,
                     const std::function<QStringList(quint16)> &arguments)
    {
        server.name = QFileInfo(program).fileName();
        for (int attempt = 1; attempt <= 3; ++attempt) {
            server.port = freeLoopbackPort();
            server.process = std::make_unique<QProcess>();
            QProcessEnvironment environment; // nothing inherited: no proxy, no site settings
            environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
            environment.insert(QStringLiteral("HOME"), m_dir.path());
            environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
            environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
            server.process->setProcessEnvironment(environment);
            server.process->setWorkingDirectory(m_dir.path());
            const QString log = m_dir.filePath(server.name + QStringLiteral(".log"));
            server.process->setStandardOutputFile(log, QIODevice::Append);
            server.process->setStandardErrorFile(log, QIODevice::Append);
            // Killed with the test, should the test die before it stops them.
            server.process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
            server.process->start(program, arguments(server.port));
            if (!server.process->waitForStarted(10000)) {
                qWarning() << program << "did not start:" << server.process->errorString();
                return false;
            }
            const QDeadlineTimer deadline(30000);
            while (!deadline.hasExpired() && server.process->state() == QProcess::Running) {
                if (httpGet(server.port, "/-/ready", {}, 1000).status == 200)
                    return true;
                QTest::qWait(100);
            }
            server.process->kill();
            server.process->waitForFinished(5000);
            QFile said(log);
            said.open(QIODevice::ReadOnly);
            qWarning() << server.name << "was not ready on port" << server.port << "(attempt"
                       << attempt << "):" << said.readAll().right(2000);
        }
        return false;
    }

    // Whether a /proc/net address (hexadecimal, as the kernel writes it) is loopback, or
    // unspecified for the remote end of a listener.
    static bool loopbackOrNone(const QString &hex, bool remote)
    {
        if (hex.count(u'0') == hex.size())
            return remote;
        if (hex.size() == 8) // IPv4, the first octet last
            return hex.endsWith(u"7F");
        // IPv6: ::1, or IPv4-mapped loopback
        return hex == u"00000000000000000000000001000000" ||
               (hex.startsWith(u"0000000000000000FFFF0000") && hex.endsWith(u"7F"));
    }

    static QStringList socketsOffLoopback(const QString &name, qint64 pid, int &seen)
    {
        QSet<QString> inodes;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        // Every entry, broken links too: a socket's link names no file.
        for (const QString &fd :
             fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            char buffer[64] = {};
            const ssize_t got = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), buffer,
                                           sizeof buffer - 1);
            const QString link = QString::fromLatin1(buffer, got > 0 ? got : 0);
            if (link.startsWith(u"socket:["))
                inodes.insert(link.mid(8).chopped(1));
        }
        QStringList found;
        for (const char *table : {"tcp", "tcp6", "udp", "udp6"}) {
            QFile file(QStringLiteral("/proc/%1/net/%2").arg(pid).arg(QLatin1StringView(table)));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> rows = file.readAll().split('\n');
            for (qsizetype i = 1; i < rows.size(); ++i) {
                const QStringList fields =
                    QString::fromLatin1(rows[i]).split(u' ', Qt::SkipEmptyParts);
                if (fields.size() < 10 || !inodes.contains(fields[9]))
                    continue;
                ++seen;
                const QString local = fields[1].section(u':', 0, 0);
                const QString remote = fields[2].section(u':', 0, 0);
                if (!loopbackOrNone(local, false) || !loopbackOrNone(remote, true)) {
                    found << QStringLiteral("%1 (%2): %3 %4 -> %5")
                                 .arg(name)
                                 .arg(pid)
                                 .arg(QLatin1StringView(table), fields[1], fields[2]);
                }
            }
        }
        return found;
    }

    QTemporaryDir m_dir;
    Server m_alertmanager;
    Server m_prometheus;
};
