// SPDX-License-Identifier: MIT
#pragma once

// One thread per device: the conversation with a printer, so that a slow or silent printer
// delays no other. Each round of the queue watcher hands every reader the scheduler's latest
// report on the queues that print on its device (two queues on one device share its readings);
// the reader asks the device once, unless it is still busy with the round before, then writes
// each queue's word into the table.
//
// A thread per device costs a stack and a wake-up per round; it lets the readers use the same
// blocking, deadline-bound exchanges as the library (qvlmstat), and it is plenty for the few
// hundred printers one machine serves.

#include "log.h"
#include "peerhealth.h"
#include "printertable.h"
#include "printerword.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ravelin::monitor {

// A kind of device the monitor reads: how a queue's report names one, and how one is read. The
// standard kind reads network printers, serial lines and device files with the library's
// exchanges; other kinds (USB printers) come before it.
struct DeviceKind
{
    // What a busy reading says: that another conversation about the printer's status holds the
    // device (its lock), so that the round is skipped and the last word stands; or that a job
    // holds the printer (the print system's backend printing), so that its queues read as the
    // scheduler's word alone, as a network printer's does while it prints.
    enum class Busy { SkipRound, SchedulerWord };

    // The plan for the queue's printer when this kind reads it, or none to let the next kind
    // look at the queue.
    std::function<std::optional<qvlmstat::DevicePlan>(const qvlmstat::QueueReport &)> plan;
    // One reading under the deadline. A device another program holds is not waited for: its
    // reading comes back busy.
    std::function<qvlmstat::DeviceReading(const qvlmstat::DevicePlan &, const qvlmstat::Deadline &)>
        read;
    Busy busy = Busy::SkipRound;
};

DeviceKind standardDeviceKind(qvlmstat::Resolver resolver);

// What a reader reads in one round.
struct Round
{
    std::uint64_t number = 0;
    struct Queue
    {
        qvlmstat::QueueReport report;
        qvlmstat::DevicePlan plan;
    };
    std::vector<Queue> queues; // all on the reader's device
};

class DeviceReader
{
public:
    // The budget of one reading: the library's for one call.
    static constexpr std::chrono::milliseconds ReadingBudget{800};

    DeviceReader(std::string key, const DeviceKind &kind, PrinterTable &table,
                 qvlmstat::PeerHealth &health, Log &log);
    // Stops it and waits for its thread.
    ~DeviceReader();
    DeviceReader(const DeviceReader &) = delete;
    DeviceReader &operator=(const DeviceReader &) = delete;

    // Hands it the next round; it reads once it is done with the one before (a round that comes
    // meanwhile replaces one not yet begun).
    void post(Round round);
    // Asks it to end, without waiting.
    void stop();
    // Whether its thread has ended (after stop()), so that joining it does not wait.
    bool finished() const { return m_finished; }
    const std::string &key() const { return m_key; }

private:
    void run();
    void read(const Round &round);
    bool stopping();

    const std::string m_key;
    const DeviceKind &m_kind;
    PrinterTable &m_table;
    qvlmstat::PeerHealth &m_health;
    Log &m_log;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Round> m_next;
    bool m_stopping = false;
    std::atomic<bool> m_finished = false;
    std::thread m_thread; // last: starts once the rest is ready
};

// Writes each queue's word and logs the queues whose reason changed.
void recordWords(
    PrinterTable &table, Log &log, std::uint64_t round,
    const std::vector<std::pair<const qvlmstat::QueueReport *, qvlmstat::ReasonedWord>> &words,
    std::chrono::steady_clock::duration took);

} // namespace ravelin::monitor
