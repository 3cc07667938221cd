// SPDX-License-Identifier: MIT
#pragma once

// Case, blanks, numbers and escapes in protocol text (device URIs, option values, device IDs):
// ASCII only, whatever the locale.

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ravelin::qvlmstat {

constexpr char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// text with its ASCII letters in lower case.
inline std::string lowerCased(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = lowerAscii(c);
    return lower;
}

// Whether text is lowerCase, ignoring the case of ASCII letters in text.
constexpr bool equalsIgnoringCase(std::string_view text, std::string_view lowerCase)
{
    return std::ranges::equal(text, lowerCase, {}, lowerAscii);
}

// text without blanks and tabs at either end.
constexpr std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The number that text is entirely, in base 10 or 16, without sign or prefix; none for anything
// else or an overflow.
inline std::optional<std::size_t> wholeNumber(std::string_view text, int base = 10)
{
    std::size_t value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// text with its %XX escapes decoded; none for a broken escape or an encoded NUL, which no path
// or name may hold.
inline std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const std::string_view digits = text.substr(i + 1, 2);
        const std::optional<std::size_t> byte =
            digits.size() == 2 ? wholeNumber(digits, 16) : std::nullopt;
        if (!byte || *byte == 0)
            return std::nullopt;
        decoded += static_cast<char>(*byte);
        i += 2;
    }
    return decoded;
}

} // namespace ravelin::qvlmstat
