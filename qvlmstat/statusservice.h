// SPDX-License-Identifier: MIT
#pragma once

// What the stand-in's functions do. A call first asks the language monitor, which answers from
// its memory of the printers it watches; with no monitor, or for a printer it does not watch,
// the call asks the scheduler for the queue's state and, for a printer of the series, the
// printer itself over its own connection, and ORs the two words (printerword.h); the whole call
// gets one time budget. Peers found unresponsive are not waited on again for a while
// (PeerHealth). Each change of a queue's reason for Printer Error is written once, as a line. The
// library holds one of these; tests make their own, with a clock, a name resolver, a monitor and
// a place for the lines of their own.

#include "boundedio.h"
#include "monitorclient.h"
#include "peerhealth.h"
#include "printerword.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace ravelin::qvlmstat {

class StatusService
{
public:
    // The scheduler and the printer together, whatever either does.
    static constexpr std::chrono::milliseconds CallBudget{800};
    // The monitor's answer comes from memory: one that takes longer is not waited for.
    static constexpr std::chrono::milliseconds MonitorBudget{50};
    // How many queues' reasons are remembered, so that each change is written once.
    static constexpr std::size_t RememberedReasons = 256;

    using MonitorSocket = std::function<std::optional<std::string>()>;
    // Takes one line of text, without its line end.
    using LineSink = std::function<void(const std::string &)>;
    // Writes "ravelin QVLMSTAT: LINE" to standard error.
    static void toStandardError(const std::string &line);

    explicit StatusService(PeerHealth::Clock now, Resolver resolver = &::getaddrinfo,
                           MonitorSocket monitorSocket = &configuredMonitorSocket,
                           LineSink reasonLines = &StatusService::toStandardError)
        : m_health(std::move(now))
        , m_resolver(resolver)
        , m_monitorSocket(std::move(monitorSocket))
        , m_reasonLines(std::move(reasonLines))
    {}

    // The queue named name ("queue" or "queue/instance"; an instance has its queue's status).
    ReasonedWord printerStatus(const char *name);
    // The default destination, found as libcups finds it.
    ReasonedWord defaultDestinationStatus();

private:
    // The monitor's answer to request, when it gave a word.
    std::optional<ReasonedWord> fromMonitor(const std::string &request);
    // Asked directly; queue empty: the scheduler's default.
    ReasonedWord queueStatus(const std::string &queue);
    // Writes a line when the queue's reason differs from the one it last had.
    void tell(const std::string &queue, const ReasonedWord &word);

    PeerHealth m_health;
    Resolver m_resolver;
    MonitorSocket m_monitorSocket;
    LineSink m_reasonLines;
    std::mutex m_reasonsMutex;
    // By queue (in lower case; empty for the default destination), its reason, while it has one.
    std::map<std::string, std::string> m_reasons;
};

} // namespace ravelin::qvlmstat
