// SPDX-License-Identifier: MIT
#pragma once

// What Prometheus's own linter, "promtool check metrics" (the program PROMTOOL names), says of
// an exposition: empty when it has nothing to say, else what it said or why it could not say.

#include <QByteArray>
#include <QProcess>
#include <QString>

inline QString lint(const QByteArray &exposition)
{
    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(QStringLiteral(PROMTOOL), {QStringLiteral("check"), QStringLiteral("metrics")});
    if (!promtool.waitForStarted(10000))
        return promtool.errorString();
    promtool.write(exposition);
    promtool.closeWriteChannel();
    if (!promtool.waitForFinished(30000))
        return QStringLiteral("promtool did not finish");
    const QString said = QString::fromUtf8(promtool.readAll());
    if (promtool.exitStatus() != QProcess::NormalExit || promtool.exitCode() != 0)
        return said.isEmpty() ? QStringLiteral("promtool failed") : said;
    return said;
}
