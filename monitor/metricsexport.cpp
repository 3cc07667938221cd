// SPDX-License-Identifier: MIT
#include "metricsexport.h"

#include "metricsserver.h"
#include "textfile.h"

#include <stdexcept>

namespace ravelin::monitor {

static_assert(std::tuple_size_v<decltype(PrinterState::rises)> ==
              std::tuple_size_v<decltype(metrics::PrinterSample::rises)>);

metrics::PrinterSample sampleOf(const PrinterState &state)
{
    return {.name = state.name,
            .deviceUri = state.deviceUri,
            .makeAndModel = state.makeAndModel,
            .read = state.read,
            .word = static_cast<std::uint32_t>(state.word),
            .reachable = state.reachable,
            .readAt = state.readAt,
            .readingDuration = state.readingDuration,
            .rises = state.rises};
}

std::vector<metrics::PrinterSample> samplesOf(const PrinterTable &table)
{
    const std::vector<PrinterState> states = table.snapshot();
    std::vector<metrics::PrinterSample> samples;
    samples.reserve(states.size());
    for (const PrinterState &state : states)
        samples.push_back(sampleOf(state));
    return samples;
}

MetricsExport::MetricsExport(const PrinterTable &table, Log &log, std::string version)
    : m_table(table)
    , m_log(log)
    , m_version(std::move(version))
{}

MetricsExport::~MetricsExport()
{
    stop();
}

bool MetricsExport::serve(const metrics::ListenAddress &address)
{
    try {
        m_server = std::make_unique<metrics::MetricsServer>(
            address, [this] { return samplesOf(m_table); }, m_version);
    } catch (const std::runtime_error &error) {
        m_log.line(error.what());
        return false;
    }
    m_log.line("serving metrics at http://" + address.address + ":" +
               std::to_string(m_server->port()) + "/metrics");
    return true;
}

void MetricsExport::writeTextfile(const std::string &directory)
{
    m_textfile = std::make_unique<metrics::TextfileWriter>(directory, m_version);
    m_log.line("writing metrics to " + m_textfile->path() + " after every reading round");
}

void MetricsExport::afterRound()
{
    if (!m_textfile)
        return;
    if (const std::optional<std::string> line = m_textfile->write(samplesOf(m_table)))
        m_log.line(*line);
}

void MetricsExport::stop()
{
    m_server.reset();
}

} // namespace ravelin::monitor
