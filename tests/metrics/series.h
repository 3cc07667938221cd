// SPDX-License-Identifier: MIT
#pragma once

// The samples of a text exposition, by series as written (`name{label="value",...}`), with
// their values as written. A line that is neither a comment nor "series value" (a timestamp
// after the value, say) is kept under "malformed".

#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// The flag label's values, bit 0's first.
inline const QStringList FlagNames =
    QStringLiteral("head_up paper_out paper_at_delivery cutter_home paper_low spare_sensor "
                   "over_temp printer_error delivery_jam receipt_dropped receipt_taken "
                   "printer_busy cutter_error rx_buffer_full spare receipt_purged")
        .split(u' ');

inline QMap<QString, QString> seriesOf(const QString &text)
{
    static const QRegularExpression sample(QStringLiteral(R"(^([a-z_]+(?:\{.*\})?) ([^ ]+)$)"));
    QMap<QString, QString> series;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'#'))
            continue;
        const QRegularExpressionMatch match = sample.match(line);
        if (match.hasMatch())
            series.insert(match.captured(1), match.captured(2));
        else
            series.insert(QStringLiteral("malformed"), line);
    }
    return series;
}
