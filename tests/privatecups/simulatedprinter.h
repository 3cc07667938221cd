// SPDX-License-Identifier: MIT
#pragma once

// A printer of the series for a private scheduler's queues to point at: the printer simulator
// (tests/printersim/printersim.h), with what the stand-in's tests and benchmark ask of it. Link
// printersim_fixture to use it.

#include "printersim.h"

#include <QList>

class SimulatedPrinter : public PrinterSim
{
public:
    QString socketUri() const { return QStringLiteral("socket://127.0.0.1:%1").arg(port()); }

    // Runs a command; false (with the answer in the log) unless it succeeded.
    bool run(const QString &line)
    {
        const QString answer = command(line);
        if (answer == u"ok" || answer.startsWith(u"ok "))
            return true;
        qWarning() << "printer simulator:" << line << "->" << answer;
        return false;
    }

    // The bytes it answers to DLE EOT 1, 2, 3 and 4.
    bool answer(const QList<int> &bytes)
    {
        for (qsizetype n = 1; n <= bytes.size(); ++n) {
            if (!run(QStringLiteral("answer %1 0x%2").arg(n).arg(bytes[n - 1], 2, 16, QChar(u'0'))))
                return false;
        }
        return true;
    }

    // The bytes received since the last reset, in hexadecimal ("10 04 01 ..."); "?" on failure.
    QByteArray received()
    {
        const QString answer = command(QStringLiteral("received"));
        return answer.startsWith(u"ok") ? answer.mid(3).toLatin1() : QByteArrayLiteral("?");
    }

    // The connections it has taken since the last reset; -1 on failure.
    int connections()
    {
        const QString answer = command(QStringLiteral("connections"));
        return answer.startsWith(u"ok ") ? answer.mid(3).toInt() : -1;
    }

    // What the stand-in sends in one call: DLE EOT 1 to 4, and nothing else.
    static QByteArray oneQuery()
    {
        return QByteArrayLiteral("10 04 01 10 04 02 10 04 03 10 04 04");
    }
};
