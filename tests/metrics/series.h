// SPDX-License-Identifier: MIT
#pragma once

// The samples of a text exposition, by series as written (`name{label="value",...}`), with
// their values as written. A line that is neither a comment nor "series value" (a timestamp
// after the value, say) is kept under "malformed".

#include <QMap>
#include <QRegularExpression>
#include <QString>

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
