#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>

namespace ravelin {

// A status word as the status library returns it. Bits 0 to 15 are the named flags below;
// bits 16 to 31 have no name but still show in the report line's figure.
using StatusWord = std::int32_t;

inline constexpr int StatusBitCount = 16;

// The bit table: index = bit number = indicator number.
// clang-format off
inline constexpr std::array<const char *, StatusBitCount> StatusBitCaptions = {
    "Head Up",            // bit  0, 0x0001
    "Paper Out",          // bit  1, 0x0002
    "Paper at Delivery",  // bit  2, 0x0004
    "Cutter Home",        // bit  3, 0x0008
    "Paper Low",          // bit  4, 0x0010
    "Spare Sensor",       // bit  5, 0x0020
    "Over Temp",          // bit  6, 0x0040
    "Printer Error",      // bit  7, 0x0080
    "Delivery Jam",       // bit  8, 0x0100
    "Receipt Dropped",    // bit  9, 0x0200
    "Receipt Taken",      // bit 10, 0x0400
    "Printer Busy",       // bit 11, 0x0800
    "Cutter Error",       // bit 12, 0x1000
    "Rx Buffer Full",     // bit 13, 0x2000
    "Spare",              // bit 14, 0x4000
    "Receipt Purged",     // bit 15, 0x8000
};
// clang-format on

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
