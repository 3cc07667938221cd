// SPDX-License-Identifier: MIT
#include "printer.h"

#include <charconv>
#include <cstdio>

namespace ravelin::printersim {

namespace {

constexpr std::uint8_t Dle = 0x10;
constexpr std::uint8_t Eot = 0x04;

// More than any test sends; beyond it bytes are no longer recorded, so that a flood cannot
// exhaust memory.
constexpr std::size_t ReceivedLimit = 65536;
// The longest time it may take to answer a request, in milliseconds.
constexpr unsigned MaxDelayMs = 60000;

// The conditions a state names, each the bits it sets in the answer to one request. Each is
// one bit group only, so that a test controls every bit; a real printer would report several
// together.
struct Condition
{
    std::string_view name;
    int request; // n of DLE EOT n
    std::uint8_t bits;
};

constexpr Condition Conditions[] = {
    {"offline", 1, 0x08},      {"cover-open", 2, 0x04},
    {"feed-button", 2, 0x08},  {"paper-end-stop", 2, 0x20},
    {"error", 2, 0x40},        {"recoverable-error", 3, 0x04},
    {"cutter-error", 3, 0x08}, {"unrecoverable-error", 3, 0x20},
    {"over-temp", 3, 0x40},    {"paper-near-end", 4, 0x0c},
    {"paper-end", 4, 0x60},
};

// The demonstration cycle: paper low, paper out, cover open, all clear.
constexpr std::string_view Cycle[] = {"paper-near-end", "paper-end", "cover-open", "clear"};

struct FaultName
{
    std::string_view name;
    Fault fault;
};

constexpr FaultName Faults[] = {
    {"none", Fault::None},       {"silent", Fault::Silent}, {"invalid", Fault::Invalid},
    {"trickle", Fault::Trickle}, {"close", Fault::Close},
};

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    constexpr std::string_view Blanks = " \t\r";
    std::size_t start = line.find_first_not_of(Blanks);
    while (start != std::string_view::npos) {
        const std::size_t end = line.find_first_of(Blanks, start);
        words.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(Blanks, end);
    }
    return words;
}

Outcome ok(std::string text = {})
{
    return {text.empty() ? std::string("ok") : "ok " + text};
}

Outcome error(std::string_view text)
{
    return {"error " + std::string(text)};
}

// The answers of a state made of these conditions ("clear": none), or the first unknown name.
std::optional<std::array<std::uint8_t, 4>> answersOf(const std::vector<std::string_view> &names,
                                                     std::string_view *unknown)
{
    std::array<std::uint8_t, 4> answers{PlainAnswer, PlainAnswer, PlainAnswer, PlainAnswer};
    for (const std::string_view name : names) {
        if (name == "clear")
            continue;
        bool known = false;
        for (const Condition &condition : Conditions) {
            if (condition.name == name) {
                answers[static_cast<std::size_t>(condition.request - 1)] |= condition.bits;
                known = true;
            }
        }
        if (!known) {
            *unknown = name;
            return std::nullopt;
        }
    }
    return answers;
}

// "0xHH": one or two hexadecimal digits after 0x.
std::optional<std::uint8_t> parseByte(std::string_view text)
{
    if (text.size() < 3 || text.size() > 4 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return std::nullopt;
    unsigned value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data() + 2, end, value, 16);
    if (failure != std::errc() || stop != end)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

} // namespace

int RequestReader::feed(std::uint8_t byte)
{
    if (m_matched == 2) {
        m_matched = 0;
        if (byte >= 1 && byte <= 4)
            return byte;
    } else if (m_matched == 1 && byte == Eot) {
        m_matched = 2;
        return 0;
    }
    // Anything else starts over, at this byte when it may begin a request.
    m_matched = byte == Dle ? 1 : 0;
    return 0;
}

std::optional<std::uint8_t> Printer::answerTo(int n) const
{
    const std::uint8_t answer = m_answers[static_cast<std::size_t>(n - 1)];
    switch (m_fault) {
    case Fault::None:
        return answer;
    case Fault::Invalid:
        // The conditions stay in it, so that reading it as valid would show them.
        return static_cast<std::uint8_t>(answer | 0x81);
    case Fault::Silent:
    case Fault::Trickle:
    case Fault::Close:
        break;
    }
    return std::nullopt;
}

void Printer::record(std::uint8_t byte)
{
    if (m_received.size() < ReceivedLimit)
        m_received.push_back(byte);
}

void Printer::advanceCycle()
{
    std::string_view unknown;
    m_answers = *answersOf({Cycle[m_cycleStep]}, &unknown);
    m_cycleStep = (m_cycleStep + 1) % std::size(Cycle);
}

Outcome Printer::run(std::string_view line)
{
    const std::vector<std::string_view> words = splitWords(line);
    if (words.empty())
        return error("empty command");
    const std::string_view command = words[0];
    if (command == "answer")
        return setAnswer(words);
    if (command == "state")
        return setState(words);
    if (command == "fault")
        return setFault(words);
    if (command == "delay")
        return setDelay(words);
    if (words.size() > 1 && (command == "received" || command == "connections" ||
                             command == "reset" || command == "quit")) {
        return error(std::string(command) + " takes no argument");
    }
    if (command == "received")
        return ok(receivedText());
    if (command == "connections")
        return ok(std::to_string(m_connections));
    if (command == "reset") {
        m_received.clear();
        m_connections = 0;
        return {.reply = "ok", .resetDone = true};
    }
    if (command == "quit")
        return {.reply = "ok", .quit = true};
    return error("unknown command: " + std::string(command));
}

Outcome Printer::setAnswer(const std::vector<std::string_view> &words)
{
    if (words.size() != 3 || words[1].size() != 1 || words[1][0] < '1' || words[1][0] > '4')
        return error("usage: answer N 0xHH, with N 1 to 4");
    const std::optional<std::uint8_t> byte = parseByte(words[2]);
    if (!byte)
        return error("not a byte (0xHH): " + std::string(words[2]));
    m_answers[static_cast<std::size_t>(words[1][0] - '1')] = *byte;
    return ok();
}

Outcome Printer::setState(const std::vector<std::string_view> &words)
{
    if (words.size() < 2)
        return error("usage: state CONDITION... or state clear");
    std::string_view unknown;
    const auto answers = answersOf({words.begin() + 1, words.end()}, &unknown);
    if (!answers)
        return error("unknown condition: " + std::string(unknown));
    m_answers = *answers;
    return ok();
}

Outcome Printer::setFault(const std::vector<std::string_view> &words)
{
    if (words.size() == 2) {
        for (const FaultName &fault : Faults) {
            if (fault.name == words[1]) {
                m_fault = fault.fault;
                return {.reply = "ok", .faultChanged = true};
            }
        }
    }
    return error("usage: fault none|silent|invalid|trickle|close");
}

Outcome Printer::setDelay(const std::vector<std::string_view> &words)
{
    unsigned value = 0;
    if (words.size() == 2) {
        const char *end = words[1].data() + words[1].size();
        const auto [stop, failure] = std::from_chars(words[1].data(), end, value);
        if (failure == std::errc() && stop == end && value <= MaxDelayMs) {
            m_answerDelay = std::chrono::milliseconds(value);
            return {.reply = "ok", .faultChanged = true};
        }
    }
    return error("usage: delay MS, with MS 0 to " + std::to_string(MaxDelayMs));
}

std::string Printer::receivedText() const
{
    std::string text;
    for (const std::uint8_t byte : m_received) {
        char hex[4];
        std::snprintf(hex, sizeof hex, text.empty() ? "%02x" : " %02x", byte);
        text += hex;
    }
    return text;
}

} // namespace ravelin::printersim
