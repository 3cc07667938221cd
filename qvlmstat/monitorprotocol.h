// SPDX-License-Identifier: MIT
#pragma once

// The text of the language monitor's line protocol, for both sides: the monitor (the server)
// reads requests and writes answers, the status library (a client) writes requests and reads
// answers. Pure: no I/O, tested on its own.
//
// One request per line, ended by LF (a CR before it is ignored), at most MaxRequestLine bytes
// with its LF, UTF-8; one answer per request, in order. Words are written "0x" and at least four
// upper-case hexadecimal digits; ages are whole milliseconds since a reading ended; a reason is
// the rest of its line and may be empty (then the line ends after the age).
//
//   status NAME   ok NAME WORD AGE_MS [REASON] | unknown NAME | pending NAME
//                 (NAME may carry "/instance", which is ignored; the answer names the queue as
//                 the scheduler spells it)
//   default       the scheduler's default destination, answered as status; or none
//   list          printer NAME WORD AGE_MS yes|no SCHEME [REASON] per printer (AGE_MS "-" before
//                 its first reading), then end COUNT
//   bits NAME     bits NAME A0 ... A15 (milliseconds since each bit last changed, "-" when it
//                 has not changed since watching began) | unknown NAME | pending NAME
//   version       ok ravelin-monitor VERSION protocol 1
//   anything else error WHAT

#include "statusmapping.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravelin::qvlmstat::protocol {

inline constexpr int ProtocolVersion = 1;
// The longest request line, its LF included.
inline constexpr std::size_t MaxRequestLine = 256;

enum class Command { Status, Default, List, Bits, Version, Invalid };

struct Request
{
    Command command = Command::Invalid;
    std::string name;  // Status and Bits: the queue, without an instance
    std::string error; // Invalid: what is wrong, for the error line
};

// The request on one line, its LF removed (a CR left at its end is ignored).
Request parseRequest(std::string_view line);

// The request lines a client sends, with their LF; an empty name makes none.
std::string statusRequest(std::string_view name);
std::string defaultRequest();

// "0x0080", "0x12345".
std::string wordText(StatusWord word);
// text with every byte that could break a line or a terminal (controls, DEL) made "?", so that
// names and reasons from the scheduler stay on their line.
std::string printable(std::string_view text);
// Whether text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isUtf8(std::string_view text);

// The answer lines, with their LF. name and reason are made printable.
std::string okLine(std::string_view name, StatusWord word, std::uint64_t ageMs,
                   std::string_view reason);
std::string unknownLine(std::string_view name);
std::string pendingLine(std::string_view name);
std::string noneLine();
std::string errorLine(std::string_view what);
std::string printerLine(std::string_view name, StatusWord word, std::optional<std::uint64_t> ageMs,
                        bool reachable, std::string_view scheme, std::string_view reason);
std::string endLine(std::size_t count);
// ages: for each bit, milliseconds since it last changed, or none.
std::string bitsLine(std::string_view name,
                     const std::array<std::optional<std::uint64_t>, 16> &ages);
std::string versionLine(std::string_view version);

// An answer to status or default, as a client reads it (its LF removed).
struct StatusAnswer
{
    enum class Kind { Ok, Unknown, Pending, None, Error, Malformed };
    Kind kind = Kind::Malformed;
    std::string name;
    StatusWord word = PrinterErrorBit;
    std::uint64_t ageMs = 0;
    std::string reason;
};
StatusAnswer parseStatusAnswer(std::string_view line);

} // namespace ravelin::qvlmstat::protocol
