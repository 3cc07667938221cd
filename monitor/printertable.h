// SPDX-License-Identifier: MIT
#pragma once

// The monitor's memory of the printers it watches: per queue of the series, the latest word, why
// it reads Printer Error, when it was read, and when each of the sixteen bits last changed. The
// queue watcher and the device readers write it, each reading as it ends; the socket server (and
// whatever else reports on the printers) reads copies of it, so that nobody holds it while
// answering. Safe to use from any thread.

#include "printerword.h"
#include "statusmapping.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravelin::monitor {

struct PrinterState
{
    std::string name;         // the scheduler's spelling of the queue's name
    std::string deviceUri;    // as the scheduler gives it
    std::string makeAndModel; // printer-make-and-model
    qvlmstat::StatusWord word = qvlmstat::PrinterErrorBit; // the latest word
    bool reachable = false; // the latest reading got what it asked for
    std::string reason;     // why the latest word has Printer Error; empty when it has not
    bool read = false;      // false until the first reading is in
    std::chrono::system_clock::time_point readAt{};        // when the latest reading ended
    std::chrono::steady_clock::duration readingDuration{}; // how long it took
    std::array<std::chrono::system_clock::time_point, 16> bitChangedAt{}; // epoch 0: not since
                                                                          // start
    std::array<std::uint64_t, 16> rises{}; // how often each bit went from 0 to 1 since start
};

// The device URI's scheme ("socket", "serial", "usb"), which says how the printer is reached
// without giving away its address; empty when there is none.
std::string schemeOf(std::string_view deviceUri);

// A queue as the scheduler lists it.
struct WatchedQueue
{
    std::string name;
    std::string deviceUri;
    std::string makeAndModel;
};

class PrinterTable
{
public:
    struct Changes
    {
        std::vector<std::string> added;
        std::vector<std::string> removed;
    };
    // The watched queues become these: new ones are added (waiting for their first reading),
    // gone ones forgotten, and the others' device URI and make and model brought up to date.
    Changes setQueues(const std::vector<WatchedQueue> &queues);

    // One reading of a queue, of round `round` of the watcher, that ended at `at` and took
    // `took`. It is dropped when the queue is no longer watched, is now on another device, or has
    // a reading of a later round already. Returns the line to log when the queue's reason
    // changed: the new reason, or "NAME: answering again" once it has none.
    std::optional<std::string> record(std::string_view name, std::string_view deviceUri,
                                      std::uint64_t round, const qvlmstat::ReasonedWord &word,
                                      std::chrono::system_clock::time_point at,
                                      std::chrono::steady_clock::duration took);

    // The queue named name, in any case (queue names are case-insensitive).
    std::optional<PrinterState> find(std::string_view name) const;
    // Every watched queue, in the order of their names.
    std::vector<PrinterState> snapshot() const;

    // The scheduler's default destination, watched or not; none when it has none.
    void setDefaultDestination(std::optional<std::string> name);
    std::optional<std::string> defaultDestination() const;

private:
    struct Entry
    {
        PrinterState state;
        std::uint64_t round = 0; // of its latest reading
    };

    mutable std::mutex m_mutex;
    std::map<std::string, Entry> m_entries; // by name in lower case
    std::optional<std::string> m_default;
};

} // namespace ravelin::monitor
