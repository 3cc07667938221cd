// SPDX-License-Identifier: MIT
// libFuzzer entry for the polling period reader. For any text, the reader must give a period in
// 0..65535 without a crash, a hang or undefined behaviour, and that period must be
// - what a second, independently written reader gives (pollingperiodoracle.h);
// - the same with blanks, tabs and line feeds inserted anywhere;
// and a run of decimal digits must read as its own value, with or without a text after it that
// ends the number. The replay test runs this same entry over the seeds and generated texts.

#include "pollingperiod.h"
#include "pollingperiodoracle.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QString &text, int got, int expected)
{
    std::fprintf(stderr, "%s: read %d, expected %d, for the text (UTF-16 code units):", what, got,
                 expected);
    for (const QChar c : text)
        std::fprintf(stderr, " %04x", unsigned(c.unicode()));
    std::fprintf(stderr, "\n");
    std::abort();
}

void expectPeriod(const char *what, const QString &text, int expected)
{
    const int period = ravelin::pollingPeriodFromText(text);
    if (period != expected)
        fail(what, text, period, expected);
}

// The text with a blank, a tab or a line feed inserted at places the input's bytes choose.
QString withBlanks(const QString &text, const std::uint8_t *data, std::size_t size)
{
    static constexpr char16_t Blanks[] = {u' ', u'\t', u'\n'};
    QString spaced = text;
    for (std::size_t i = 0; i < size && i < 4; ++i)
        spaced.insert(qsizetype(data[i] % (spaced.size() + 1)), QChar(Blanks[data[i] % 3]));
    return spaced;
}

// Decimal digits made of the input's first bytes, with their value held to the largest period.
QString digitsOf(const std::uint8_t *data, std::size_t size, int &value)
{
    QString digits;
    long long exact = 0;
    for (std::size_t i = 0; i < size && i < 7; ++i) {
        digits += QChar(u'0' + data[i] % 10);
        exact = exact * 10 + data[i] % 10;
    }
    value = int(std::min<long long>(exact, ravelin::MaximumPollingPeriod));
    return digits;
}

void check(const QString &text, const std::uint8_t *data, std::size_t size)
{
    const int period = ravelin::pollingPeriodFromText(text);
    if (period < 0 || period > ravelin::MaximumPollingPeriod)
        fail("out of range", text, period, -1);
    const int reference = referencePollingPeriod(text);
    if (period != reference)
        fail("the two readers disagree", text, period, reference);
    expectPeriod("blanks changed the period", withBlanks(text, data, size), period);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Both readings of the bytes: as UTF-8 text, and as UTF-16 code units as typed.
    const QString utf8 = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString utf16(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    check(utf8, data, size);
    check(utf16, data, size);

    int value = 0;
    const QString digits = digitsOf(data, size, value);
    if (!digits.isEmpty()) {
        expectPeriod("digits did not read as themselves", digits, value);
        // Followed by anything that cannot go on a number: the rest of the input, after a comma.
        expectPeriod("digits and a comma did not read as the digits", digits + u',' + utf8, value);
    }
    return 0;
}
