#pragma once

// The stand-in status library's one piece of logic: how a CUPS queue's printer-state and
// printer-state-reasons make a status word. Pure, no CUPS and no Qt, so that it is tested on
// its own, from a table.

#include <cstdint>
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

} // namespace ravelin::qvlmstat
