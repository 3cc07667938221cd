// SPDX-License-Identifier: MIT
#include "scheduleranswer.h"

#include "statusmapping.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>

namespace ravelin::qvlmstat {

namespace {

constexpr std::size_t HeaderSize = 8;
// Tags (RFC 8010, 3.5), as libcups compares them.
constexpr std::uint32_t EndTag = 0x03;
constexpr std::uint32_t FirstValueTag = 0x10;
constexpr std::uint32_t BeginCollectionTag = 0x34;
constexpr std::uint32_t EndCollectionTag = 0x37;
// Read as a tag of four more bytes by some libcups and as a tag of its own by others; refused.
constexpr std::uint32_t ExtensionTag = 0x7f;

// The unsigned big-endian number in the size bytes at at, or none past the end.
std::optional<std::uint32_t> number(std::string_view bytes, std::size_t at, std::size_t size)
{
    if (at > bytes.size() || bytes.size() - at < size)
        return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

ssize_t readFrom(void *context, ipp_uchar_t *bytes, size_t size)
{
    auto *source = static_cast<std::string_view *>(context);
    const size_t count = std::min(size, source->size());
    std::memcpy(bytes, source->data(), count);
    source->remove_prefix(count);
    return static_cast<ssize_t>(count);
}

std::string sizeText(std::size_t bytes)
{
    if (bytes % 1024 == 0)
        return std::to_string(bytes / 1024) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// Why the attribute is not of one of the types (the first named in the text), or empty when it
// is, or is missing, or has an out-of-band value such as no-value where that is allowed.
std::string wrongType(ipp_attribute_t *attribute, std::initializer_list<ipp_tag_t> types,
                      bool outOfBandAllowed)
{
    if (!attribute)
        return {};
    const ipp_tag_t type = ippGetValueTag(attribute);
    if (std::ranges::find(types, type) != types.end() ||
        (outOfBandAllowed && type >= IPP_TAG_UNSUPPORTED_VALUE && type < IPP_TAG_INTEGER)) {
        return {};
    }
    return "answered with " + std::string(ippGetName(attribute)) + " as " + ippTagString(type) +
           ", not " + ippTagString(*types.begin());
}

// The first value of a text attribute of the right type, or empty.
std::string textOf(ipp_attribute_t *attribute)
{
    const char *text = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
    return text ? text : std::string();
}

} // namespace

IppShape shapeOfIppMessage(std::string_view message, std::size_t entryLimit)
{
    IppShape shape;
    std::size_t at = HeaderSize;
    std::size_t depth = 0;
    // Ends the message at at: complete.
    const auto end = [&] {
        shape.complete = true;
        shape.length = at;
        return shape;
    };
    while (const std::optional<std::uint32_t> tag = number(message, at, 1)) {
        at += 1;
        if (*tag == EndTag && depth == 0)
            return end();
        if (*tag == EndTag) { // libcups ends the collection it reads
            --depth;
            continue;
        }
        if (++shape.entries > entryLimit || *tag == ExtensionTag)
            return shape;
        if (*tag < FirstValueTag) {
            if (*tag == 0 || depth > 0)
                return shape; // no group tag libcups takes
            continue;
        }
        const std::optional<std::uint32_t> nameLength = number(message, at, 2);
        // A name inside a collection, or after an endCollection tag, is not read alike by every
        // libcups: none may be there.
        if (!nameLength || (*nameLength > 0 && (depth > 0 || *tag == EndCollectionTag)))
            return shape;
        at += 2 + *nameLength;
        const std::optional<std::uint32_t> valueLength = number(message, at, 2);
        if (!valueLength)
            return shape;
        at += 2 + *valueLength;
        if (*tag == BeginCollectionTag || *tag == EndCollectionTag) {
            if (*valueLength > 0)
                return shape;
            if (*tag == BeginCollectionTag)
                shape.depth = std::max(shape.depth, ++depth);
            else if (depth > 0)
                --depth;
            else
                return end(); // libcups ends the message as well
        }
    }
    return shape; // no end
}

std::string tooLargeWhy(const AnswerLimits &limits)
{
    return "sent an answer larger than " + sizeText(limits.maxBytes);
}

Message readIppMessage(std::string_view bytes, const AnswerLimits &limits, std::string &why)
{
    if (bytes.size() > limits.maxBytes) {
        why = tooLargeWhy(limits);
        return {};
    }
    const IppShape shape = shapeOfIppMessage(bytes, limits.maxEntries);
    if (shape.entries > limits.maxEntries) {
        why = "sent an answer of more than " + std::to_string(limits.maxEntries) +
              " attribute values";
        return {};
    }
    if (shape.depth > MaxCollectionDepth) {
        why = "sent an answer with collections nested more than " +
              std::to_string(MaxCollectionDepth) + " deep";
        return {};
    }
    Message message{ippNew()};
    std::string_view source = bytes;
    if (!shape.complete || !message ||
        ippReadIO(&source, readFrom, 1, nullptr, message.get()) != IPP_STATE_DATA) {
        why = "sent an answer that is no IPP message";
        return {};
    }
    return message;
}

QueueAnswer readQueueAnswer(ipp_t *response, const std::string &queue)
{
    QueueAnswer answer;
    // Status codes from 0x0100 up are not "successful" (RFC 8011, appendix B).
    if (const ipp_status_t status = ippGetStatusCode(response); status >= 0x0100) {
        if (status == IPP_STATUS_ERROR_NOT_FOUND && queue.empty())
            answer.why = "has no default destination";
        else if (status == IPP_STATUS_ERROR_NOT_FOUND)
            answer.why = "knows no queue " + queue;
        else
            answer.why = std::string("refused the request: ") + ippErrorString(status);
        return answer;
    }

    ipp_attribute_t *state = ippFindAttribute(response, "printer-state", IPP_TAG_ZERO);
    ipp_attribute_t *reasons = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_ZERO);
    ipp_attribute_t *name = ippFindAttribute(response, "printer-name", IPP_TAG_ZERO);
    ipp_attribute_t *makeAndModel =
        ippFindAttribute(response, "printer-make-and-model", IPP_TAG_ZERO);
    ipp_attribute_t *deviceUri = ippFindAttribute(response, "device-uri", IPP_TAG_ZERO);
    if (!state) {
        answer.why = "answered without a printer-state";
        return answer;
    }
    if (!reasons) {
        answer.why = "answered without printer-state-reasons";
        return answer;
    }
    for (const std::string &wrong :
         {wrongType(state, {IPP_TAG_ENUM}, false), wrongType(reasons, {IPP_TAG_KEYWORD}, false),
          wrongType(name, {IPP_TAG_NAME, IPP_TAG_NAMELANG}, true),
          wrongType(makeAndModel, {IPP_TAG_TEXT, IPP_TAG_TEXTLANG}, true),
          wrongType(deviceUri, {IPP_TAG_URI}, true)}) {
        if (!wrong.empty()) {
            answer.why = wrong;
            return answer;
        }
    }
    answer.state = ippGetInteger(state, 0);
    if (ippGetCount(state) != 1 || answer.state < PrinterStateIdle ||
        answer.state > PrinterStateStopped) {
        answer.why = "answered with a printer-state that is no state";
        return answer;
    }
    for (int i = 0; i < ippGetCount(reasons); ++i) {
        if (const char *reason = ippGetString(reasons, i, nullptr))
            answer.reasons.emplace_back(reason);
    }
    answer.name = textOf(name);
    answer.makeAndModel = textOf(makeAndModel);
    answer.deviceUri = textOf(deviceUri);
    answer.found = true;
    return answer;
}

} // namespace ravelin::qvlmstat
