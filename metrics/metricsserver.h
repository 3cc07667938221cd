// SPDX-License-Identifier: MIT
#pragma once

// The HTTP endpoint: http://ADDRESS:PORT/metrics, answered by collecting the source's printers
// at each scrape. Two server threads; a scrape never waits on a printer, only on the source.
// Destroying it stops the server: within milliseconds, or up to 2 s while a client is in the
// middle of sending its request (the server's threads look for the stop every 2 s meanwhile).

#include "metricsoptions.h"
#include "printersample.h"

#include <cstdint>
#include <memory>
#include <string>

namespace prometheus {
class Exposer;
}

namespace ravelin::metrics {

class PrinterCollector;

class MetricsServer
{
public:
    // Listens at once; throws std::runtime_error saying why when it cannot (the address is in
    // use, is none of this machine's, ...).
    MetricsServer(const ListenAddress &address, SampleSource source, std::string version);
    ~MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    // The port it listens on: the one asked for, or the one it was given for port 0.
    std::uint16_t port() const { return m_port; }

private:
    std::shared_ptr<PrinterCollector> m_collector;
    std::unique_ptr<prometheus::Exposer> m_exposer;
    std::uint16_t m_port = 0;
    std::string m_address; // where a connection of its own reaches it
};

} // namespace ravelin::metrics
