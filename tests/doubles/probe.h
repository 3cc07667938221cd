// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// How one of the tests' probe programs ended, and what it printed.
struct ProbeRun
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QString output;
};

// Runs a probe program to its end, a minute at most, so that a test can watch how a process of
// the program's kind ends.
inline ProbeRun runProbe(const char *path, const QStringList &arguments)
{
    QProcess probe;
    probe.start(QString::fromUtf8(path), arguments);
    ProbeRun run;
    run.finished = probe.waitForFinished(60000);
    run.exitStatus = probe.exitStatus();
    run.exitCode = probe.exitCode();
    run.output = QString::fromUtf8(probe.readAllStandardOutput());
    return run;
}
