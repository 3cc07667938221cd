// SPDX-License-Identifier: MIT
#pragma once

// How the stand-in status library makes a status word: from a CUPS queue's printer-state and
// printer-state-reasons, and from a printer's answers to the real-time status request. Pure, no
// CUPS and no Qt, so that it is tested on its own, from tables.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ravelin::qvlmstat {

using StatusWord = std::int32_t;

inline constexpr StatusWord PrinterErrorBit = 0x0080; // bit 7, "Printer Error"
inline constexpr StatusWord PrinterBusyBit = 0x0800;  // bit 11, "Printer Busy"

// IPP printer-state values (RFC 8011, 5.4.11).
inline constexpr int PrinterStateIdle = 3;
inline constexpr int PrinterStateProcessing = 4;
inline constexpr int PrinterStateStopped = 5;

// The vendor keyword prefix; the rest of a vendor keyword is the bit's caption in lower case
// with blanks as hyphens: "com.quorvel-paper-at-delivery".
inline constexpr std::string_view VendorKeywordPrefix = "com.quorvel-";

// The bits that one printer-state-reasons keyword sets, 0 for a keyword that means nothing
// here. A keyword counts bare or with one IPP severity suffix (-report, -warning, -error):
// - each bit's vendor keyword sets that bit;
// - cover-open, door-open and interlock-open set Head Up; media-empty and media-needed set
//   Paper Out; media-low sets Paper Low; media-jam sets Delivery Jam.
// Keywords are compared exactly, as IPP keywords are lower case.
StatusWord reasonBits(std::string_view keyword) noexcept;

// The bits that a printer-state sets: processing sets Printer Busy, stopped sets Printer Error,
// anything else none.
StatusWord stateBits(int printerState) noexcept;

// The word of a queue with this state and these reasons. Bits 16 to 31 are always 0.
StatusWord statusWord(int printerState, std::span<const std::string_view> reasons) noexcept;

// A printer's answers to the real-time status request DLE EOT n for n = 1 (printer), 2 (offline
// cause), 3 (error cause) and 4 (roll paper), at index n - 1; empty where none was valid.
using DeviceAnswers = std::array<std::optional<std::uint8_t>, 4>;

// Whether byte is an answer at all: bits 1 and 4 set, bits 0 and 7 clear.
constexpr bool isValidAnswer(std::uint8_t byte)
{
    return (byte & 0x93) == 0x12;
}

// Whether every request was answered validly.
constexpr bool answeredAll(const DeviceAnswers &answers)
{
    return std::ranges::all_of(answers, [](const auto &answer) { return answer.has_value(); });
}

// The bits the answers show. Printer Error when one of the four is missing: the printer's state
// is then unknown, and must not read as all clear.
StatusWord deviceBits(const DeviceAnswers &answers) noexcept;

} // namespace ravelin::qvlmstat
