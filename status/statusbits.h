// SPDX-License-Identifier: MIT
#pragma once

// The sixteen named bits of a status word. Plain C++, no Qt: the stand-in status library builds
// its keywords from this table too.

#include <array>

namespace ravelin {

inline constexpr int StatusBitCount = 16;

// The bit table: index = bit number = indicator number.
// clang-format off
inline constexpr std::array<const char *, StatusBitCount> StatusBitCaptions = {
    "Head Up",            // bit  0, 0x0001
    "Paper Out",          // bit  1, 0x0002
    "Paper at Delivery",  // bit  2, 0x0004
    "Cutter Home",        // bit  3, 0x0008
    "Paper Low",          // bit  4, 0x0010
    "Spare Sensor",       // bit  5, 0x0020
    "Over Temp",          // bit  6, 0x0040
    "Printer Error",      // bit  7, 0x0080
    "Delivery Jam",       // bit  8, 0x0100
    "Receipt Dropped",    // bit  9, 0x0200
    "Receipt Taken",      // bit 10, 0x0400
    "Printer Busy",       // bit 11, 0x0800
    "Cutter Error",       // bit 12, 0x1000
    "Rx Buffer Full",     // bit 13, 0x2000
    "Spare",              // bit 14, 0x4000
    "Receipt Purged",     // bit 15, 0x8000
};
// clang-format on

} // namespace ravelin
