// SPDX-License-Identifier: MIT
#pragma once

// The monitor's rounds. Once per period, on a thread of its own, it asks the scheduler for every
// queue (one CUPS-Get-Printers request) and for its default destination (CUPS-Get-Default),
// keeps the queues of the series in the table, writes the word of each queue whose printer is
// not asked, and hands each device's queues to that device's reader, making a reader for a new
// device and ending the reader of a device that no queue names any more. A change of queues or
// device URIs is seen at the next round. A scheduler found silent is asked again at most once per
// fail-fast period, as the library does; meanwhile, and while it fails, every queue it listed
// last reads Printer Error with the scheduler's reason.

#include "devicereader.h"
#include "log.h"
#include "peerhealth.h"
#include "printertable.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ravelin::monitor {

class QueueWatcher
{
public:
    static constexpr std::chrono::milliseconds DefaultPeriod{1000};
    static constexpr std::chrono::milliseconds SchedulerBudget{800};

    struct Settings
    {
        std::chrono::milliseconds period = DefaultPeriod;
        qvlmstat::Resolver resolver = &::getaddrinfo;
        // Tried in order for each queue's printer; the standard kind last.
        std::vector<DeviceKind> kinds{};
        // Called on the watcher's thread after each round has been handed out.
        std::function<void()> afterRound{};
    };

    QueueWatcher(PrinterTable &table, Log &log, Settings settings);
    // Stops it.
    ~QueueWatcher();
    QueueWatcher(const QueueWatcher &) = delete;
    QueueWatcher &operator=(const QueueWatcher &) = delete;

    // Starts the rounds, the first at once.
    void start();
    // Ends the rounds and every reader, waiting for them (a reading in progress ends within its
    // budget).
    void stop();

private:
    void run();
    void round();
    // The reports of the queues to watch this round: the scheduler's list, or when it failed,
    // the queues it listed last, each with the failure.
    std::vector<qvlmstat::QueueReport> listed(std::uint64_t number);
    void handOut(std::uint64_t number, const std::vector<qvlmstat::QueueReport> &reports);

    PrinterTable &m_table;
    Log &m_log;
    Settings m_settings;
    qvlmstat::PeerHealth m_health{&std::chrono::steady_clock::now};

    // Only the watcher's thread touches these.
    std::uint64_t m_rounds = 0;
    std::vector<qvlmstat::QueueReport> m_lastListed;
    std::string m_schedulerWhy; // why the scheduler failed the last round; empty when it answered
    std::map<std::string, std::unique_ptr<DeviceReader>> m_readers; // by device key
    std::vector<std::unique_ptr<DeviceReader>> m_retired;           // ending; joined once finished

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

// Whether the scheduler's name for a queue can be watched and answered for: what the scheduler
// allows in a name (printable, no blank, "/" or "#", at most 127 bytes), in UTF-8.
bool isWatchableName(std::string_view name);

} // namespace ravelin::monitor
