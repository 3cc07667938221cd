// SPDX-License-Identifier: MIT
#include "metricsserver.h"

#include "exposition.h"

#include <CivetServer.h>
#include <prometheus/exposer.h>

#include <stdexcept>

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
}

MetricsServer::~MetricsServer() = default;

} // namespace ravelin::metrics
