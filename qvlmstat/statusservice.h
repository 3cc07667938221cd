// SPDX-License-Identifier: MIT
#pragma once

// What the stand-in's two functions do. A call asks the scheduler for the queue's state and,
// for a printer of the series, the printer itself over its own connection, and ORs the two
// words; the whole call gets one time budget. Peers found unresponsive are not waited on again
// for a while (PeerHealth). The library holds one of these; tests make their own, with a clock
// and a name resolver of their own.

#include "boundedio.h"
#include "peerhealth.h"
#include "statusmapping.h"

#include <chrono>
#include <string>

namespace ravelin::qvlmstat {

struct QueueReport;

class StatusService
{
public:
    // The scheduler and the printer together, whatever either does.
    static constexpr std::chrono::milliseconds CallBudget{800};

    explicit StatusService(PeerHealth::Clock now, Resolver resolver = &::getaddrinfo)
        : m_health(std::move(now))
        , m_resolver(resolver)
    {}

    // The queue named name ("queue" or "queue/instance"; an instance has its queue's status).
    StatusWord printerStatus(const char *name);
    // The default destination, found as libcups finds it.
    StatusWord defaultDestinationStatus();

private:
    // queue empty: the scheduler's default.
    StatusWord queueStatus(const std::string &queue);
    StatusWord withPrinterBits(const QueueReport &report, StatusWord word,
                               const Deadline &deadline);

    PeerHealth m_health;
    Resolver m_resolver;
};

} // namespace ravelin::qvlmstat
