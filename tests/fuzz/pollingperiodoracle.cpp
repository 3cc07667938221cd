// SPDX-License-Identifier: MIT
#include "pollingperiodoracle.h"

#include <algorithm>
#include <string>

namespace {

constexpr int Largest = 65535;

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The value of c as a digit in base, or -1.
int digitIn(char16_t c, int base)
{
    const std::u16string digits = u"0123456789abcdef";
    const auto found = digits.find(char16_t(c >= u'A' && c <= u'F' ? c - u'A' + u'a' : c));
    return found != std::u16string::npos && int(found) < base ? int(found) : -1;
}

std::string withoutLeadingZeros(std::string digits)
{
    digits.erase(0, digits.find_first_not_of('0'));
    return digits;
}

std::string withoutTrailingZeros(std::string digits)
{
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits;
}

// "&H..." or "&O..." after the ampersand and the letter: the digits as far as they go.
int radixNumber(const std::u16string &text, std::size_t at, int base)
{
    std::string digits;
    for (; at < text.size() && digitIn(text[at], base) >= 0; ++at)
        digits += char(text[at]);
    digits = withoutLeadingZeros(digits);
    // 65535 is FFFF and 177777: more digits than that is more than the largest period.
    if (digits.size() > (base == 16 ? 4u : 6u))
        return Largest;
    long value = 0;
    for (const char digit : digits)
        value = value * base + digitIn(char16_t(digit), base);
    return int(std::min<long>(value, Largest));
}

} // namespace

int referencePollingPeriod(QStringView text)
{
    std::u16string s;
    for (const QChar c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n')
            s += c.unicode();
    }
    const auto at = [&s](std::size_t i) { return i < s.size() ? s[i] : u'\0'; };

    if (at(0) == u'&') {
        if (at(1) == u'H' || at(1) == u'h')
            return radixNumber(s, 2, 16);
        if (at(1) == u'O' || at(1) == u'o')
            return radixNumber(s, 2, 8);
        return 0;
    }

    std::size_t i = 0;
    bool negative = false;
    if (at(i) == u'+' || at(i) == u'-')
        negative = at(i++) == u'-';
    std::string whole;
    std::string fraction;
    while (isDigit(at(i)))
        whole += char(at(i++));
    if (at(i) == u'.') {
        ++i;
        while (isDigit(at(i)))
            fraction += char(at(i++));
    }
    if (whole.empty() && fraction.empty())
        return 0;

    // The exponent counts only with a digit after E and its sign.
    std::string exponentDigits;
    bool negativeExponent = false;
    if (at(i) == u'E' || at(i) == u'e') {
        std::size_t j = i + 1;
        const bool signed_ = at(j) == u'+' || at(j) == u'-';
        negativeExponent = at(j) == u'-';
        if (signed_)
            ++j;
        while (isDigit(at(j)))
            exponentDigits += char(at(j++));
        if (exponentDigits.empty())
            negativeExponent = false;
    }

    // Every negative number rounds to zero or below, which is held at zero.
    const std::string digits = withoutLeadingZeros(whole + fraction);
    if (negative || digits.empty())
        return 0;

    // The number is 0.<digits> times ten to the power point.
    const std::size_t zerosBefore = (whole + fraction).size() - digits.size();
    exponentDigits = withoutLeadingZeros(exponentDigits);
    if (exponentDigits.size() > 9) // beyond any text's length: all or nothing
        return negativeExponent ? 0 : Largest;
    const long exponent = exponentDigits.empty() ? 0 : std::stol(exponentDigits);
    const long point =
        long(whole.size()) - long(zerosBefore) + (negativeExponent ? -exponent : exponent);
    if (point < 0)
        return 0; // below 0.1
    if (point > 5)
        return Largest; // 100000 or more

    // Move the point and round what falls behind it, halves to the even neighbour.
    const std::string padded = digits + std::string(std::size_t(point), '0');
    const std::string integral = padded.substr(0, std::size_t(point));
    const std::string behind = withoutTrailingZeros(
        digits.size() > std::size_t(point) ? digits.substr(std::size_t(point)) : std::string());
    long value = integral.empty() ? 0 : std::stol(integral);
    if (behind > "5" || (behind == "5" && value % 2 == 1))
        ++value;
    return int(std::min<long>(value, Largest));
}
