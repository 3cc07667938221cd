// SPDX-License-Identifier: MIT
#pragma once

#include "statusbits.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace ravelin {

// A status word as the status library returns it. Bits 0 to 15 are the named flags of
// statusbits.h; bits 16 to 31 have no name but still show in the report line's figure.
using StatusWord = std::int32_t;

// The sixteen indicators that show a status word, one per bit. The report line takes
// each name from the indicator's caption, so what the log says is what the screen says.
class StatusIndicatorSet
{
public:
    virtual ~StatusIndicatorSet() = default;
    // state: 0 unchecked, 1 checked
    virtual void setIndicatorState(int index, int state) = 0;
    virtual QString indicatorCaption(int index) const = 0;
};

// Where the report line's time comes from; tests put in a fixed one.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// The locale's general date-and-time text: its short date, a blank, its time to the second.
QString generalDateTimeText(const QDateTime &when, const QLocale &locale);

// The word in upper-case hexadecimal, at least four digits; negative words as their eight
// two's-complement digits.
QString statusFigure(StatusWord status);

// Sets all sixteen indicators from the word and returns the word's report line. The time is
// read once, before any indicator changes.
QString UpdateRealTimeStatusBits(StatusWord status, StatusIndicatorSet &indicators,
                                 const Clock &clock, const QLocale &locale);

} // namespace ravelin
