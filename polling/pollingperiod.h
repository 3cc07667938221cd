// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>

namespace ravelin {

inline constexpr int MaximumPollingPeriod = 65535;

// Reads a polling period in milliseconds from the interval box's text, as a person would have
// typed it: blanks, tabs and line feeds anywhere are ignored; then an optional sign, digits, a
// fraction after a full stop (whatever the locale) and an exponent after E are read, up to the
// first character that does not fit; "&H" and "&O" start a hexadecimal or octal number. Text with
// no number at its start reads as 0. The number is rounded to the nearest whole number, halves to
// the even one, and then held to 0..65535, the periods the timer can take. Any text gives a
// result; nothing is too long or too large.
int pollingPeriodFromText(QStringView text);

} // namespace ravelin
