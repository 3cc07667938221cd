// SPDX-License-Identifier: MIT
#include "statusword.h"

using namespace Qt::StringLiterals;

namespace ravelin {

namespace {

// QLocale has no "time to the second" format of its own: its short time drops the seconds and
// its long time adds the time zone. The long format without its zone field is the locale's own
// time to the second ("h:mm:ss AP", "HH:mm:ss", "H時mm分ss秒"), so that is what we use.
QString timeToTheSecondFormat(const QLocale &locale)
{
    const QString longFormat = locale.timeFormat(QLocale::LongFormat);
    QString format;
    format.reserve(longFormat.size());
    bool quoted = false;
    for (const QChar c : longFormat) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        format.append(c);
    }
    return format.trimmed();
}

} // namespace

QString generalDateTimeText(const QDateTime &when, const QLocale &locale)
{
    return locale.toString(when.date(), QLocale::ShortFormat) + u' ' +
           locale.toString(when.time(), timeToTheSecondFormat(locale));
}

QString statusFigure(StatusWord status)
{
    return u"%1"_s.arg(static_cast<uint>(static_cast<std::uint32_t>(status)), 4, 16, QChar(u'0'))
        .toUpper();
}

QString UpdateRealTimeStatusBits(StatusWord status, StatusIndicatorSet &indicators,
                                 const Clock &clock, const QLocale &locale)
{
    QString line =
        generalDateTimeText(clock.now(), locale) + u" [0x"_s + statusFigure(status) + u"]:  "_s;

    std::uint32_t mask = 1;
    for (int bit = 0; bit < StatusBitCount; ++bit, mask <<= 1) {
        if (static_cast<std::uint32_t>(status) & mask) {
            indicators.setIndicatorState(bit, 1);
            line += u'[' + indicators.indicatorCaption(bit) + u']';
        } else {
            indicators.setIndicatorState(bit, 0);
        }
    }
    return line;
}

} // namespace ravelin
