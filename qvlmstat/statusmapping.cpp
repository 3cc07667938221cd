// SPDX-License-Identifier: MIT
#include "statusmapping.h"

#include "asciitext.h"

// The bit captions, the same table the program shows. The header is plain C++ without Qt, so the
// library does not need Qt at run time (the qvlmstat_exports test checks what it links).
#include "statusbits.h"

#include <algorithm>
#include <array>

namespace ravelin::qvlmstat {

namespace {

constexpr std::array<std::string_view, 3> SeveritySuffixes = {"-report", "-warning", "-error"};

// Whether keyword is base, bare or with one severity suffix.
constexpr bool isKeywordWithSuffix(std::string_view keyword, std::string_view base)
{
    if (!keyword.starts_with(base))
        return false;
    const std::string_view rest = keyword.substr(base.size());
    if (rest.empty())
        return true;
    for (const std::string_view suffix : SeveritySuffixes) {
        if (rest == suffix)
            return true;
    }
    return false;
}

// Whether name is the caption in lower case with blanks as hyphens.
constexpr bool isCaptionKeyword(std::string_view name, std::string_view caption)
{
    return std::ranges::equal(name, caption, {}, {},
                              [](char c) { return c == ' ' ? '-' : lowerAscii(c); });
}

// The mask of the bit with this caption; no such caption fails the build.
consteval StatusWord captionBit(std::string_view caption)
{
    for (std::size_t bit = 0; bit < ravelin::StatusBitCaptions.size(); ++bit) {
        if (caption == ravelin::StatusBitCaptions[bit])
            return StatusWord{1} << bit;
    }
    throw "no status bit has this caption";
}

static_assert(captionBit("Printer Error") == PrinterErrorBit);
static_assert(captionBit("Printer Busy") == PrinterBusyBit);

// The vendor keyword's bit, or 0.
constexpr StatusWord vendorBits(std::string_view keyword)
{
    if (!keyword.starts_with(VendorKeywordPrefix))
        return 0;
    const std::string_view rest = keyword.substr(VendorKeywordPrefix.size());
    StatusWord bits = 0;
    // Every caption is tried, none shadows another: "spare-sensor" is not "spare" with a
    // suffix, and were there a caption whose keyword plus a suffix spelled another's, both bits
    // would be set.
    for (std::size_t bit = 0; bit < ravelin::StatusBitCaptions.size(); ++bit) {
        const std::string_view caption = ravelin::StatusBitCaptions[bit];
        if (rest.size() < caption.size())
            continue;
        const std::string_view name = rest.substr(0, caption.size());
        if (isCaptionKeyword(name, caption) && isKeywordWithSuffix(rest, name))
            bits |= StatusWord{1} << bit;
    }
    return bits;
}

struct StandardReason
{
    std::string_view keyword;
    StatusWord bits;
};

// The standard IPP reasons (RFC 8011 5.4.12, PWG 5100.9) that mean one of the named bits.
constexpr std::array<StandardReason, 7> StandardReasons = {{
    {"cover-open", captionBit("Head Up")},
    {"door-open", captionBit("Head Up")},
    {"interlock-open", captionBit("Head Up")},
    {"media-empty", captionBit("Paper Out")},
    {"media-needed", captionBit("Paper Out")},
    {"media-low", captionBit("Paper Low")},
    {"media-jam", captionBit("Delivery Jam")},
}};

// Whether the answer is there and has this bit set.
constexpr bool shows(const std::optional<std::uint8_t> &answer, int bit)
{
    return answer && ((*answer >> bit) & 1) != 0;
}

} // namespace

StatusWord reasonBits(std::string_view keyword) noexcept
{
    StatusWord bits = vendorBits(keyword);
    for (const StandardReason &reason : StandardReasons) {
        if (isKeywordWithSuffix(keyword, reason.keyword))
            bits |= reason.bits;
    }
    return bits;
}

StatusWord stateBits(int printerState) noexcept
{
    switch (printerState) {
    case PrinterStateProcessing:
        return PrinterBusyBit;
    case PrinterStateStopped:
        return PrinterErrorBit;
    default:
        return 0;
    }
}

StatusWord statusWord(int printerState, std::span<const std::string_view> reasons) noexcept
{
    StatusWord word = stateBits(printerState);
    for (const std::string_view reason : reasons)
        word |= reasonBits(reason);
    return word & 0xFFFF;
}

StatusWord deviceBits(const DeviceAnswers &answers) noexcept
{
    const auto &[printer, offline, error, paper] = answers;
    StatusWord bits = 0;
    // Offline says why in the offline cause; it is an error of its own only when no cause shows.
    if (shows(printer, 3) && !shows(offline, 2) && !shows(offline, 3) && !shows(offline, 5) &&
        !shows(offline, 6)) {
        bits |= PrinterErrorBit;
    }
    if (shows(offline, 2))
        bits |= captionBit("Head Up");
    if (shows(offline, 3))
        bits |= PrinterBusyBit; // paper fed by the feed button
    if (shows(offline, 5))
        bits |= captionBit("Paper Out");
    // "An error occurred": the error cause says which; the cutter and the head temperature have
    // bits of their own.
    if (shows(offline, 6) && !shows(error, 3) && !shows(error, 6))
        bits |= PrinterErrorBit;
    if (shows(error, 2) || shows(error, 5))
        bits |= PrinterErrorBit;
    if (shows(error, 3))
        bits |= captionBit("Cutter Error");
    if (shows(error, 6))
        bits |= captionBit("Over Temp");
    if (shows(paper, 2) || shows(paper, 3))
        bits |= captionBit("Paper Low");
    if (shows(paper, 5) || shows(paper, 6))
        bits |= captionBit("Paper Out");
    if (!answeredAll(answers))
        bits |= PrinterErrorBit;
    return bits;
}

} // namespace ravelin::qvlmstat
