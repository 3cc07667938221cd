// SPDX-License-Identifier: MIT
#pragma once

// What the metrics know of one printer: the monitor's latest reading of it, copied out of the
// monitor's table. Plain data: whoever holds printers in memory turns its own record into these.

#include "statusbits.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ravelin::metrics {

struct PrinterSample
{
    std::string name;         // the scheduler's spelling of the queue's name
    std::string deviceUri;    // as the scheduler gives it; only its scheme is ever shown
    std::string makeAndModel; // printer-make-and-model
    bool read = false;        // false until the first reading is in; the reading's fields wait
    std::uint32_t word = 0;   // the latest status word
    bool reachable = false;   // the latest reading got what it asked for
    std::chrono::system_clock::time_point readAt{};        // when the latest reading ended
    std::chrono::steady_clock::duration readingDuration{}; // how long it took
    std::array<std::uint64_t, StatusBitCount> rises{};     // each bit's rises from 0 to 1
};

// Hands out copies of every watched printer's latest reading. It is called on each scrape, from
// the HTTP server's threads, so it must be safe to call from any thread, and it answers from
// memory: it never waits on a printer.
using SampleSource = std::function<std::vector<PrinterSample>()>;

} // namespace ravelin::metrics
