// SPDX-License-Identifier: MIT
#include "metricsserver.h"

#include "exposition.h"

#include <CivetServer.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <prometheus/exposer.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace ravelin::metrics {

namespace {

// The first thing the HTTP server said while it started on this thread: why it could not
// listen ("cannot bind to 127.0.0.1:29147: 98 (Address already in use)"; what follows only says
// that it failed).
thread_local std::string *startupLog = nullptr;

int keepStartupMessage(const mg_connection *, const char *message)
{
    if (startupLog && startupLog->empty() && message)
        *startupLog = message;
    return 1; // handled: the server prints nothing itself
}

// Opens a connection to address:port and closes it at once.
void knock(const std::string &address, std::uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
        return;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    [[maybe_unused]] const int connected =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    ::close(fd);
}

} // namespace

MetricsServer::MetricsServer(const ListenAddress &address, SampleSource source, std::string version)
    : m_collector(std::make_shared<PrinterCollector>(std::move(source), std::move(version)))
{
    CivetCallbacks callbacks;
    callbacks.log_message = &keepStartupMessage;
    std::string log;
    startupLog = &log;
    try {
        // No document root: the server answers /metrics and nothing else (404). A client that
        // stalls is dropped after 10 s.
        m_exposer = std::make_unique<prometheus::Exposer>(
            std::vector<std::string>{"listening_ports", address.text(), "num_threads", "2",
                                     "request_timeout_ms", "10000"},
            &callbacks);
    } catch (const std::exception &) {
        startupLog = nullptr;
        throw std::runtime_error(
            "cannot serve metrics on " + address.text() + ": " +
            (log.empty() ? std::string("the HTTP server did not start") : log));
    }
    startupLog = nullptr;
    m_exposer->RegisterCollectable(m_collector);
    const std::vector<int> ports = m_exposer->GetListeningPorts();
    m_port = ports.empty() ? address.port : static_cast<std::uint16_t>(ports.front());
    // Every interface: this machine reaches it on loopback.
    m_address = address.address == "0.0.0.0" ? std::string("127.0.0.1") : address.address;
}

MetricsServer::~MetricsServer()
{
    // The HTTP server's listening thread looks for the stop when a connection comes, or else
    // only every 2 s. Connections of its own, one each 20 ms until the server has stopped, wake
    // it at once; they come from this machine to this machine, and carry no request.
    std::mutex mutex;
    std::condition_variable wake;
    bool stopped = false;
    std::thread knocker([&] {
        std::unique_lock lock(mutex);
        while (!stopped) {
            lock.unlock();
            knock(m_address, m_port);
            lock.lock();
            wake.wait_for(lock, std::chrono::milliseconds(20), [&stopped] { return stopped; });
        }
    });
    m_exposer.reset();
    {
        const std::lock_guard lock(mutex);
        stopped = true;
    }
    wake.notify_all();
    knocker.join();
}

} // namespace ravelin::metrics
