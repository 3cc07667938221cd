// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

// Runs one of the tests' probe programs to its end, a minute at most, so that a test can watch
// how a process of the program's kind ends, and checks that it ended of itself with exitCode.
// output is what it printed. Returns whether the checks passed; the test stops if not.
[[nodiscard]] inline bool
runProbe(const char *path, const QStringList &arguments, int exitCode, QString &output,
         const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
         const QString &workingDirectory = QString())
{
    [&] {
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.setWorkingDirectory(workingDirectory);
        probe.start(QString::fromUtf8(path), arguments);
        QVERIFY(probe.waitForFinished(60000));
        output = QString::fromUtf8(probe.readAllStandardOutput());
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QVERIFY2(probe.exitCode() == exitCode,
                 qPrintable(QStringLiteral("exit code %1:\n").arg(probe.exitCode()) + output));
    }();
    return !QTest::currentTestFailed();
}
