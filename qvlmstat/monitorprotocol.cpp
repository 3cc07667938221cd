// SPDX-License-Identifier: MIT
#include "monitorprotocol.h"

#include "asciitext.h"

#include <cstdio>
#include <vector>

namespace ravelin::qvlmstat::protocol {

namespace {

// How much of a bad request an error line quotes.
constexpr std::size_t QuotedLength = 40;

std::string_view withoutCr(std::string_view line)
{
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

// The blank-separated words of a request.
std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> found;
    constexpr std::string_view Blanks = " \t";
    std::size_t start = line.find_first_not_of(Blanks);
    while (start != std::string_view::npos) {
        const std::size_t end = line.find_first_of(Blanks, start);
        found.push_back(line.substr(start, end - start));
        start = line.find_first_not_of(Blanks, end);
    }
    return found;
}

bool hasControl(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
}

Request invalid(std::string error)
{
    return {Command::Invalid, {}, std::move(error)};
}

// A queue's name from a request's argument, without the instance.
Request named(Command command, std::string_view argument)
{
    const std::string_view name = argument.substr(0, argument.find('/'));
    if (name.empty())
        return invalid("no queue name");
    if (hasControl(name))
        return invalid("a queue name has no control characters");
    return {command, std::string(name), {}};
}

// The next field up to a blank, taken off the front of text.
std::string_view takeField(std::string_view &text)
{
    const std::size_t blank = text.find(' ');
    const std::string_view field = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    return field;
}

std::optional<StatusWord> parseWord(std::string_view text)
{
    if (!text.starts_with("0x") || text.size() < 6 || text.size() > 10)
        return std::nullopt;
    const std::optional<std::size_t> value = wholeNumber(text.substr(2), 16);
    if (!value || *value > 0xFFFFFFFFU)
        return std::nullopt;
    return static_cast<StatusWord>(static_cast<std::uint32_t>(*value));
}

std::string age(std::optional<std::uint64_t> ageMs)
{
    return ageMs ? std::to_string(*ageMs) : std::string("-");
}

std::string withReason(std::string line, std::string_view reason)
{
    if (!reason.empty())
        line.append(" ").append(printable(reason));
    return line + "\n";
}

} // namespace

Request parseRequest(std::string_view line)
{
    line = withoutCr(line);
    if (!isUtf8(line))
        return invalid("the request is not UTF-8");
    const std::vector<std::string_view> parts = words(line);
    if (parts.empty())
        return invalid("empty request");
    const std::string_view command = parts[0];
    const std::size_t arguments = parts.size() - 1;
    if (command == "status" || command == "bits") {
        if (arguments != 1)
            return invalid(std::string(command) + " takes one queue name");
        return named(command == "status" ? Command::Status : Command::Bits, parts[1]);
    }
    for (const auto &[text, bare] :
         {std::pair{"default", Command::Default}, std::pair{"list", Command::List},
          std::pair{"version", Command::Version}}) {
        if (command == text) {
            if (arguments != 0)
                return invalid(std::string(command) + " takes no argument");
            return {bare, {}, {}};
        }
    }
    std::string quoted(command.substr(0, QuotedLength));
    return invalid("unknown request: " + quoted);
}

std::string statusRequest(std::string_view name)
{
    name = name.substr(0, name.find('/'));
    if (name.empty() || name.find_first_of(" \t") != std::string_view::npos || hasControl(name))
        return {};
    return "status " + std::string(name) + "\n";
}

std::string defaultRequest()
{
    return "default\n";
}

std::string wordText(StatusWord word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(word));
    return text;
}

std::string printable(std::string_view text)
{
    std::string result(text);
    for (char &c : result) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return result;
}

bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1FU, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0FU, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07U, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3FU);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string okLine(std::string_view name, StatusWord word, std::uint64_t ageMs,
                   std::string_view reason)
{
    return withReason("ok " + printable(name) + " " + wordText(word) + " " + std::to_string(ageMs),
                      reason);
}

std::string unknownLine(std::string_view name)
{
    return "unknown " + printable(name) + "\n";
}

std::string pendingLine(std::string_view name)
{
    return "pending " + printable(name) + "\n";
}

std::string noneLine()
{
    return "none\n";
}

std::string errorLine(std::string_view what)
{
    return "error " + printable(what) + "\n";
}

std::string printerLine(std::string_view name, StatusWord word, std::optional<std::uint64_t> ageMs,
                        bool reachable, std::string_view scheme, std::string_view reason)
{
    return withReason("printer " + printable(name) + " " + wordText(word) + " " + age(ageMs) +
                          (reachable ? " yes " : " no ") +
                          (scheme.empty() ? std::string("-") : printable(scheme)),
                      reason);
}

std::string endLine(std::size_t count)
{
    return "end " + std::to_string(count) + "\n";
}

std::string bitsLine(std::string_view name,
                     const std::array<std::optional<std::uint64_t>, 16> &ages)
{
    std::string line = "bits " + printable(name);
    for (const std::optional<std::uint64_t> &bit : ages)
        line.append(" ").append(age(bit));
    return line + "\n";
}

std::string versionLine(std::string_view version)
{
    return "ok ravelin-monitor " + printable(version) + " protocol " +
           std::to_string(ProtocolVersion) + "\n";
}

StatusAnswer parseStatusAnswer(std::string_view line)
{
    line = withoutCr(line);
    StatusAnswer answer;
    std::string_view rest = line;
    const std::string_view kind = takeField(rest);
    if (kind == "none" && line == "none") {
        answer.kind = StatusAnswer::Kind::None;
    } else if (kind == "error") {
        answer.kind = StatusAnswer::Kind::Error;
        answer.reason = rest;
    } else if ((kind == "unknown" || kind == "pending") && !rest.empty() &&
               rest.find(' ') == std::string_view::npos) {
        answer.kind = kind == "unknown" ? StatusAnswer::Kind::Unknown : StatusAnswer::Kind::Pending;
        answer.name = rest;
    } else if (kind == "ok") {
        const std::string_view name = takeField(rest);
        const std::optional<StatusWord> word = parseWord(takeField(rest));
        const std::optional<std::size_t> age = wholeNumber(takeField(rest));
        if (name.empty() || !word || !age)
            return answer;
        answer.kind = StatusAnswer::Kind::Ok;
        answer.name = name;
        answer.word = *word;
        answer.ageMs = *age;
        answer.reason = rest;
    }
    return answer;
}

} // namespace ravelin::qvlmstat::protocol
