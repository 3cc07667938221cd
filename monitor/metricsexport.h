// SPDX-License-Identifier: MIT
#pragma once

// The monitor's readings for Prometheus (metrics/): every watched printer's latest reading,
// copied out of the table, served at http://ADDRESS:PORT/metrics (--metrics-listen) and written
// to DIR/ravelin.prom after every reading round (--metrics-textfile). Both answer from memory:
// nothing here waits on a printer or the scheduler.

#include "log.h"
#include "metricsoptions.h"
#include "printersample.h"
#include "printertable.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ravelin::metrics {
class MetricsServer;
class TextfileWriter;
} // namespace ravelin::metrics

namespace ravelin::monitor {

// A printer's state as the metrics see it.
metrics::PrinterSample sampleOf(const PrinterState &state);
// Every printer the table holds.
std::vector<metrics::PrinterSample> samplesOf(const PrinterTable &table);

class MetricsExport
{
public:
    MetricsExport(const PrinterTable &table, Log &log, std::string version);
    // Stops serving.
    ~MetricsExport();
    MetricsExport(const MetricsExport &) = delete;
    MetricsExport &operator=(const MetricsExport &) = delete;

    // Serves /metrics at address from now on, and logs where; false, with the reason logged,
    // when it cannot (the port is taken, the address is none of this machine's).
    bool serve(const metrics::ListenAddress &address);
    // Writes ravelin.prom into the folder after every round from now on.
    void writeTextfile(const std::string &directory);

    // What the queue watcher calls after each round: the textfile, if one is written, replaced
    // with the table's printers as they are now. On the watcher's thread.
    void afterRound();

    // Stops serving: at once, or within 2 s when a client is in the middle of a request.
    void stop();

private:
    const PrinterTable &m_table;
    Log &m_log;
    std::string m_version;
    std::unique_ptr<metrics::MetricsServer> m_server;
    std::unique_ptr<metrics::TextfileWriter> m_textfile;
};

} // namespace ravelin::monitor
