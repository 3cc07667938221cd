// SPDX-License-Identifier: MIT
// libFuzzer entry for what is read by hand of the scheduler's answer: the IPP framing that
// bounds an answer before libcups reads it, and what the answer says about a queue. For any
// bytes, without a crash, a hang or undefined behaviour:
// - where the framing reader finds a message complete and libcups reads it whole, both end at
//   the same byte, and libcups holds no more entries and no deeper collections than the framing
//   reader counted, so that the limits it checks bound libcups's work;
// - an answer read within the limits of one queue gives either a reason or a state from idle
//   to stopped, and a word, printer bits and all, with nothing above bit 15.
// The replay test runs this same entry over the seeds and generated messages.

#include "deviceuri.h"
#include "scheduleranswer.h"
#include "statusmapping.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

using namespace ravelin::qvlmstat;

namespace {

[[noreturn]] void fail(const char *what, std::string_view bytes)
{
    std::fprintf(stderr, "%s, for the message (hexadecimal):", what);
    for (const char byte : bytes)
        std::fprintf(stderr, " %02x", unsigned(static_cast<unsigned char>(byte)));
    std::fprintf(stderr, "\n");
    std::abort();
}

ssize_t readFrom(void *context, ipp_uchar_t *bytes, size_t size)
{
    auto *source = static_cast<std::string_view *>(context);
    const size_t count = std::min(size, source->size());
    std::memcpy(bytes, source->data(), count);
    source->remove_prefix(count);
    return ssize_t(count);
}

// The entries libcups holds (values, and separators between groups) and its deepest nesting.
void measure(ipp_t *message, std::size_t depth, IppShape &held)
{
    held.depth = std::max(held.depth, depth);
    for (ipp_attribute_t *attribute = ippFirstAttribute(message); attribute;
         attribute = ippNextAttribute(message)) {
        if (!ippGetName(attribute)) {
            ++held.entries;
            continue;
        }
        held.entries += std::size_t(ippGetCount(attribute));
        if (ippGetValueTag(attribute) != IPP_TAG_BEGIN_COLLECTION)
            continue;
        for (int i = 0; i < ippGetCount(attribute); ++i)
            measure(ippGetCollection(attribute, i), depth + 1, held);
    }
}

void checkFraming(std::string_view bytes)
{
    ipp_t *message = ippNew();
    std::string_view source = bytes;
    const IppShape shape = shapeOfIppMessage(bytes, bytes.size());
    if (shape.complete && ippReadIO(&source, readFrom, 1, nullptr, message) == IPP_STATE_DATA) {
        IppShape held;
        measure(message, 0, held);
        if (bytes.size() - source.size() != shape.length)
            fail("libcups and the framing reader end the message at different bytes", bytes);
        if (held.entries > shape.entries)
            fail("libcups holds more entries than the framing reader counted", bytes);
        if (held.depth > shape.depth)
            fail("libcups nests collections deeper than the framing reader saw", bytes);
    }
    ippDelete(message);
}

void checkQueueAnswer(std::string_view bytes)
{
    std::string why;
    const Message message = readIppMessage(bytes, OneQueueLimits, why);
    if (!message) {
        if (why.empty())
            fail("an answer was refused without a reason", bytes);
        return;
    }
    for (const std::string queue : {"QVT-Fuzz", ""}) {
        const QueueAnswer answer = readQueueAnswer(message.get(), queue);
        if (answer.found != answer.why.empty())
            fail("an answer has both a state and a reason, or neither", bytes);
        if (!answer.found)
            continue;
        if (answer.state < PrinterStateIdle || answer.state > PrinterStateStopped)
            fail("an answer was taken with no state", bytes);
        const std::vector<std::string_view> reasons(answer.reasons.begin(), answer.reasons.end());
        const DeviceUri device = parseDeviceUri(answer.deviceUri);
        const StatusWord word = statusWord(answer.state, reasons) |
                                (std::holds_alternative<Unreadable>(device) ? PrinterErrorBit : 0);
        if (word & ~0xffff)
            fail("a word with bits above 15", bytes);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    checkFraming(bytes);
    checkQueueAnswer(bytes);
    return 0;
}
