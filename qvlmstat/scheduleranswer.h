// SPDX-License-Identifier: MIT
#pragma once

// Reading the scheduler's IPP answer, bounded. The message itself is read by libcups, but only
// once its framing shows it small enough: libcups keeps every attribute name and string value
// in one string pool for the process, and adding to it costs more the more it holds, so that an
// answer of 130,000 distinct names took two seconds to read and free; and it reads a nested
// collection by calling itself, a stack frame of more than a kilobyte per level. Then what the
// answer says about a queue, checked for the types it must have. No I/O: tested, and fuzzed, on
// its own.

#include <cups/cups.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ravelin::qvlmstat {

struct MessageDeleter
{
    void operator()(ipp_t *message) const { ippDelete(message); }
};
using Message = std::unique_ptr<ipp_t, MessageDeleter>;

// What one answer may cost: its size, and its entries (attribute values and group tags, each a
// piece of libcups's memory). The cost of distinct names grows with the square of their number:
// on a busy two-core machine 16,384 of them took 0.14 s to read and free, 32,768 0.8 s and
// 65,536 3.2 s.
struct AnswerLimits
{
    std::size_t maxBytes;
    std::size_t maxEntries;
};

// An answer about one queue: five attributes, a few reasons, a few hundred bytes in all. These
// leave room for any honest one, and cost well under a millisecond to read.
inline constexpr AnswerLimits OneQueueLimits{64 * 1024, 1024};
// The answer about every queue (CUPS-Get-Printers), a few hundred bytes and about ten entries a
// queue: room for a few thousand queues, read and freed in well under a second.
inline constexpr AnswerLimits QueueListLimits{4 * 1024 * 1024, 32768};

// No answer of ours holds a collection; a few levels are let through all the same.
inline constexpr std::size_t MaxCollectionDepth = 8;

// An IPP message as its framing alone shows it, read the way libcups reads it: the version, the
// operation or status code and the request id, then tags. A group tag stands alone; any other
// tag has a two-byte name length, the name, a two-byte value length and the value. A
// begCollection value opens a collection, which an endCollection or an end tag closes; at the
// top, either ends the message. What libcups versions read differently, and no answer of ours
// holds, is refused: the extension tag (0x7F), a name after an endCollection tag.
struct IppShape
{
    bool complete = false;   // an end was reached, and libcups may read the message
    std::size_t length = 0;  // up to the end, when complete
    std::size_t entries = 0; // every tag but the end; counting stops past the limit
    std::size_t depth = 0;   // the deepest nesting of collections
};
IppShape shapeOfIppMessage(std::string_view message, std::size_t entryLimit);

// "sent an answer larger than 64 KiB", to follow "the scheduler at X".
std::string tooLargeWhy(const AnswerLimits &limits);

// The IPP message in bytes, read by libcups if it is within the limits; none otherwise, with
// why saying what is wrong, to follow "the scheduler at X" ("sent an answer larger than
// 64 KiB").
Message readIppMessage(std::string_view bytes, const AnswerLimits &limits, std::string &why);

// What a scheduler's answer says about one queue (or the default destination).
struct QueueAnswer
{
    // A successful answer with a usable state; otherwise why says what is wrong, to follow "the
    // scheduler at X".
    bool found = false;
    std::string why;
    int state = 0;
    std::vector<std::string> reasons;
    std::string name; // the scheduler's spelling
    std::string makeAndModel;
    std::string deviceUri;
};

// queue empty: the answer to CUPS-Get-Default. The state must be there as one enum, idle,
// processing or stopped, and the reasons as keywords; the name, the make and model and the
// device URI may be missing, but not be of another type.
QueueAnswer readQueueAnswer(ipp_t *response, const std::string &queue);

} // namespace ravelin::qvlmstat
