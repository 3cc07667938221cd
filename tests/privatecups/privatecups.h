// SPDX-License-Identifier: MIT
#pragma once

// A test's hold on the private CUPS scheduler that "scripts/private-cups run" started for it
// (CTest runs these tests that way; see tests/privatecups/CMakeLists.txt). Every command goes
// to that scheduler only: the script points CUPS_SERVER, CUPS_SERVERROOT and HOME into its
// folder, and folder() refuses to name one when they do not.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QtDebug>

class PrivateCups
{
public:
    // The scheduler's folder, or empty when this program does not run under one.
    static QString folder()
    {
        const QString dir = qEnvironmentVariable("RAVELIN_PRIVATE_CUPS");
        if (dir.isEmpty() ||
            qEnvironmentVariable("CUPS_SERVER") != dir + QStringLiteral("/cups.sock") ||
            qEnvironmentVariable("CUPS_SERVERROOT") != dir + QStringLiteral("/etc") ||
            qEnvironmentVariable("HOME") != dir + QStringLiteral("/home") ||
            !QFile::exists(dir + QStringLiteral("/cups-files.conf"))) {
            return {};
        }
        return dir;
    }

    static QString whyUnavailable()
    {
        return QStringLiteral("this test needs a private CUPS scheduler: run it as "
                              "\"scripts/private-cups run PROGRAM\", as CTest does");
    }

    // Runs a CUPS client command against the scheduler; its output on failure goes to the log.
    static bool run(const QString &program, const QStringList &arguments,
                    QByteArray *output = nullptr)
    {
        if (folder().isEmpty()) {
            qWarning("%s", qPrintable(whyUnavailable()));
            return false;
        }
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(30000)) {
            qWarning() << program << arguments << "did not finish:" << process.errorString();
            process.kill();
            process.waitForFinished();
            return false;
        }
        const QByteArray text = process.readAll();
        if (output)
            *output = text;
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            qWarning() << program << arguments << "failed:" << text;
            return false;
        }
        return true;
    }

    // A device that the status library never asks and the scheduler never contacts: an ipp:
    // printer on a host that cannot exist, served by the scheduler's inert backend.
    static QString inertDevice() { return QStringLiteral("ipp://ravelin.invalid/printers/inert"); }

    // A raw queue, enabled and accepting jobs.
    static bool addQueue(const QString &name, const QString &deviceUri = inertDevice())
    {
        return run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), name, QStringLiteral("-E"),
                                               QStringLiteral("-v"), deviceUri});
    }

    // A queue whose printer-make-and-model is makeAndModel (from a description file of its own:
    // the scheduler takes a raw queue's make and model from nowhere else).
    static bool addQueueWithModel(const QString &name, const QString &deviceUri,
                                  const QString &makeAndModel)
    {
        QFile description(folder() + u'/' + name + QStringLiteral(".ppd"));
        if (folder().isEmpty() || !description.open(QIODevice::WriteOnly))
            return false;
        const QByteArray model = makeAndModel.toLatin1();
        description.write("*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
                          "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
                          "*PCFileName: \"RAVELIN.PPD\"\n*Manufacturer: \"Ravelin\"\n"
                          "*Product: \"(Receipt)\"\n*PSVersion: \"(3010.000) 0\"\n*ModelName: \"" +
                          model + "\"\n*ShortNickName: \"" + model + "\"\n*NickName: \"" + model +
                          "\"\n*OpenUI *PageSize: PickOne\n*DefaultPageSize: Roll\n"
                          "*PageSize Roll: \"\"\n*CloseUI: *PageSize\n"
                          "*DefaultImageableArea: Roll\n*ImageableArea Roll: \"0 0 226 800\"\n"
                          "*DefaultPaperDimension: Roll\n*PaperDimension Roll: \"226 800\"\n");
        description.close();
        return run(QStringLiteral("lpadmin"),
                   {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                    deviceUri, QStringLiteral("-P"), description.fileName()});
    }

    // A queue on the scheduler's own backend that keeps each job printing until it is
    // cancelled, so the queue stays in state processing.
    static bool addHoldingQueue(const QString &name)
    {
        return addQueue(name, QStringLiteral("ravelin-hold:/"));
    }

    // An instance name/instance, saved in the lpoptions file as the system keeps it. (It needs
    // an option of its own: lpoptions saves no instance whose options are all the queue's.)
    static bool addInstance(const QString &name, const QString &instance)
    {
        return run(QStringLiteral("lpoptions"),
                   {QStringLiteral("-p"), name + u'/' + instance, QStringLiteral("-o"),
                    QStringLiteral("ravelin-instance=") + instance});
    }

    // The queue's printer-state-reasons become exactly these (none: cleared).
    static bool setReasons(const QString &name, const QStringList &reasons)
    {
        return run(QStringLiteral(PRIVATE_CUPS_SCRIPT),
                   QStringList{QStringLiteral("reasons"), name} + reasons);
    }

    // Stops the queue (state stopped, reason paused).
    static bool stopQueue(const QString &name)
    {
        return run(QStringLiteral("cupsdisable"), {name});
    }

    // The scheduler's default destination.
    static bool setServerDefault(const QString &name)
    {
        return run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name});
    }

    // Sends a job to a holding queue, or to a queue on one of the scheduler's inert backends, its
    // backend holding it and reporting these reasons while it prints, and waits until the queue
    // is processing it.
    static bool holdJob(const QString &name, const QStringList &reasons = {})
    {
        QStringList arguments{QStringLiteral("-d"), name, QStringLiteral("-o"),
                              QStringLiteral("ravelin-hold=hold")};
        if (!reasons.isEmpty()) {
            arguments << QStringLiteral("-o")
                      << QStringLiteral("ravelin-state-reasons=") + reasons.join(u',');
        }
        // A file with something in it: lp refuses an empty one.
        arguments << QStringLiteral(PRIVATE_CUPS_SCRIPT);
        if (!run(QStringLiteral("lp"), arguments))
            return false;
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QByteArray state;
            if (!run(QStringLiteral("lpstat"), {QStringLiteral("-p"), name}, &state))
                return false;
            if (state.contains(" now printing ")) {
                // The backend's reasons arrive a moment after the job starts.
                if (reasons.isEmpty() || hasReasons(name, reasons))
                    return true;
            }
            QThread::msleep(20);
        }
        qWarning() << "queue" << name << "did not start printing";
        return false;
    }

    // Removes every queue, job, instance and default, so that a test starts from nothing.
    static bool removeEverything()
    {
        QByteArray names;
        if (!run(QStringLiteral("lpstat"), {QStringLiteral("-e")}, &names))
            return false;
        for (const QByteArray &line : names.split('\n')) {
            const QString name = QString::fromUtf8(line.trimmed());
            if (name.isEmpty() || name.contains(u'/'))
                continue;
            if (!run(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name}))
                return false;
        }
        const QString dir = folder();
        for (const QString &file : {dir + QStringLiteral("/home/.cups/lpoptions"),
                                    dir + QStringLiteral("/etc/lpoptions")}) {
            if (QFile::exists(file) && !QFile::remove(file))
                return false;
        }
        return true;
    }

private:
    static bool hasReasons(const QString &name, const QStringList &reasons)
    {
        QByteArray description;
        if (!run(QStringLiteral("lpstat"), {QStringLiteral("-l"), QStringLiteral("-p"), name},
                 &description)) {
            return false;
        }
        for (const QString &reason : reasons) {
            if (!description.contains(reason.toUtf8()))
                return false;
        }
        return true;
    }
};
