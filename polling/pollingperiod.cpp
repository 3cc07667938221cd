// SPDX-License-Identifier: MIT
#include "pollingperiod.h"

#include <QString>

#include <algorithm>
#include <cstdint>

namespace ravelin {

namespace {

bool isIgnored(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDecimalDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int value = base;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value < base ? value : -1;
}

// The text with the ignored characters taken out, read one character at a time.
class Reader
{
public:
    explicit Reader(QStringView text)
    {
        m_text.reserve(text.size());
        for (const QChar c : text) {
            if (!isIgnored(c))
                m_text.append(c);
        }
    }
    bool atEnd() const { return m_position >= m_text.size(); }
    QChar peek(qsizetype ahead = 0) const
    {
        return m_position + ahead < m_text.size() ? m_text.at(m_position + ahead) : QChar();
    }
    void skip(qsizetype count = 1) { m_position += count; }
    QStringView digits()
    {
        const qsizetype start = m_position;
        while (isDecimalDigit(peek()))
            ++m_position;
        return QStringView(m_text).mid(start, m_position - start);
    }

private:
    QString m_text;
    qsizetype m_position = 0;
};

int clampToPeriod(std::int64_t value)
{
    return int(std::clamp<std::int64_t>(value, 0, MaximumPollingPeriod));
}

// "&H..." or "&O...": any number of digits, never negative.
int readRadix(Reader &reader, int base)
{
    std::int64_t value = 0;
    for (int digit; (digit = digitValue(reader.peek(), base)) >= 0; reader.skip()) {
        if (value <= MaximumPollingPeriod)
            value = value * base + digit;
    }
    return clampToPeriod(value);
}

// A decimal number is rounded exactly from its digits rather than through a double, so that
// thousands of digits or an exponent of any size cannot overflow or lose the half-way case.
int readDecimal(Reader &reader)
{
    bool negative = false;
    if (reader.peek() == u'+' || reader.peek() == u'-') {
        negative = reader.peek() == u'-';
        reader.skip();
    }
    const QStringView whole = reader.digits();
    QStringView fraction;
    if (reader.peek() == u'.') {
        reader.skip();
        fraction = reader.digits();
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return 0;

    std::int64_t exponent = 0;
    if ((reader.peek() == u'E' || reader.peek() == u'e')) {
        qsizetype signLength = (reader.peek(1) == u'+' || reader.peek(1) == u'-') ? 1 : 0;
        if (isDecimalDigit(reader.peek(1 + signLength))) {
            const bool negativeExponent = reader.peek(1) == u'-';
            reader.skip(1 + signLength);
            constexpr std::int64_t Saturated = std::int64_t(1) << 40;
            for (const QChar c : reader.digits())
                exponent = std::min(exponent * 10 + (c.unicode() - u'0'), Saturated);
            if (negativeExponent)
                exponent = -exponent;
        }
    }

    // All significant digits, and where the decimal point stands among them.
    QString digits = whole.toString() + fraction.toString();
    std::int64_t point = whole.size() + exponent;
    const qsizetype leadingZeros =
        std::find_if(digits.cbegin(), digits.cend(), [](QChar c) { return c != u'0'; }) -
        digits.cbegin();
    digits.remove(0, leadingZeros);
    point -= leadingZeros;
    if (digits.isEmpty())
        return 0;

    // Six or more digits before the point: past any period the timer can take.
    if (point > 5)
        return negative ? 0 : MaximumPollingPeriod;

    auto digitAt = [&](std::int64_t i) {
        return i >= 0 && i < digits.size() ? digits.at(qsizetype(i)).unicode() - u'0' : 0;
    };
    std::int64_t value = 0;
    for (std::int64_t i = 0; i < point; ++i)
        value = value * 10 + digitAt(i);

    const int firstDropped = digitAt(point);
    bool restNonZero = false;
    for (std::int64_t i = std::max<std::int64_t>(point + 1, 0); i < digits.size(); ++i)
        restNonZero = restNonZero || digitAt(i) != 0;
    if (firstDropped > 5 || (firstDropped == 5 && (restNonZero || value % 2 == 1)))
        ++value;

    return clampToPeriod(negative ? -value : value);
}

} // namespace

int pollingPeriodFromText(QStringView text)
{
    Reader reader(text);
    if (reader.peek() == u'&') {
        const QChar radix = reader.peek(1).toUpper();
        if (radix == u'H' || radix == u'O') {
            reader.skip(2);
            return readRadix(reader, radix == u'H' ? 16 : 8);
        }
        return 0;
    }
    return readDecimal(reader);
}

} // namespace ravelin
