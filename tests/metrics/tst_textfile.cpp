// SPDX-License-Identifier: MIT
// The textfile for node_exporter: what it holds, who may read it, that a reader always finds a
// whole file while it is replaced every round, what a failure leaves, and that a failure that
// goes on is logged once.

#include "exposition.h"
#include "textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace ravelin::metrics;

namespace {

std::vector<PrinterSample> printers(std::uint32_t word, int count = 3)
{
    std::vector<PrinterSample> all;
    for (int i = 0; i < count; ++i) {
        PrinterSample &printer = all.emplace_back();
        printer.name = "QVT-7460-" + std::to_string(i);
        printer.deviceUri = "socket://127.0.0.1:9100";
        printer.read = true;
        printer.word = word;
        printer.reachable = true;
    }
    return all;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The line a write gives the log; empty for none.
QString logLine(const std::optional<std::string> &line)
{
    return line ? QString::fromStdString(*line) : QString();
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestTextfile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesTheExpositionReadableByAll();
    void replacesTheFileNotItsContents();
    void readersAlwaysFindAWholeFile();
    void failures_data();
    void failures();
    void logsAFailureOnceAndTheRecovery();
};

void TestTextfile::writesTheExpositionReadableByAll()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const mode_t umask = ::umask(077);
    TextfileWriter writer(dir.path().toStdString(), "2.1.0");
    const std::optional<std::string> logged = writer.write(printers(0x0002));
    ::umask(umask);

    QCOMPARE(logLine(logged), QString());
    QCOMPARE(QString::fromStdString(writer.path()), dir.filePath(u"ravelin.prom"_s));
    QCOMPARE(contents(dir.filePath(u"ravelin.prom"_s)),
             QByteArray::fromStdString(exposition(printers(0x0002), "2.1.0")));
    struct stat status
    {
    };
    QCOMPARE(::stat(writer.path().c_str(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0644));
    QCOMPARE(filesIn(dir.path()), QStringList{u"ravelin.prom"_s});
}

void TestTextfile::replacesTheFileNotItsContents()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TextfileWriter writer(dir.path().toStdString(), "2.1.0");
    QCOMPARE(logLine(writer.write(printers(0x0002))), QString());
    const QByteArray before = contents(dir.filePath(u"ravelin.prom"_s));

    // A reader that opened the file before a round reads the old file to its end; the next open
    // finds the new one.
    const int reader = ::open(writer.path().c_str(), O_RDONLY | O_CLOEXEC);
    QVERIFY(reader >= 0);
    QCOMPARE(logLine(writer.write(printers(0x0000))), QString());
    QByteArray old(before.size() + 1, '\0');
    const ssize_t got = ::read(reader, old.data(), static_cast<size_t>(old.size()));
    ::close(reader);
    QCOMPARE(old.left(got), before);
    const QByteArray after = contents(dir.filePath(u"ravelin.prom"_s));
    QCOMPARE(after, QByteArray::fromStdString(exposition(printers(0x0000), "2.1.0")));
    QVERIFY(after != before);
    QCOMPARE(filesIn(dir.path()), QStringList{u"ravelin.prom"_s});
}

void TestTextfile::readersAlwaysFindAWholeFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TextfileWriter writer(dir.path().toStdString(), "2.1.0");
    // Two texts of different lengths, many printers each: a file being written in place would be
    // found short, or with the end of the other.
    const std::vector<PrinterSample> out = printers(0x0002, 100);
    const std::vector<PrinterSample> back = printers(0x12345, 80);
    const QByteArray first = QByteArray::fromStdString(exposition(out, "2.1.0"));
    const QByteArray second = QByteArray::fromStdString(exposition(back, "2.1.0"));
    QCOMPARE(logLine(writer.write(out)), QString());

    std::atomic<bool> done = false;
    std::atomic<int> failures = 0;
    std::thread rounds([&] {
        for (int round = 0; round < 150; ++round) {
            if (writer.write(round % 2 ? out : back))
                ++failures;
        }
        done = true;
    });
    int reads = 0;
    int torn = 0;
    while (!done) {
        const QByteArray seen = contents(dir.filePath(u"ravelin.prom"_s));
        if (seen != first && seen != second)
            ++torn;
        ++reads;
    }
    rounds.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(torn, 0);
    QVERIFY(reads > 0);
    qInfo("%d reads during 150 rounds", reads);
    QCOMPARE(filesIn(dir.path()), QStringList{u"ravelin.prom"_s});
}

void TestTextfile::failures_data()
{
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QString>("logged");

    QTest::newRow("the folder is gone") << u"remove the folder"_s
                                        << u"metrics: cannot create a file in %1: No such file or "
                                           "directory"_s;
    QTest::newRow("ravelin.prom is a folder")
        << u"folder in the way"_s << u"metrics: cannot replace %1/ravelin.prom: Is a directory"_s;
}

void TestTextfile::failures()
{
    QFETCH(QString, breakage);
    QFETCH(QString, logged);

    QTemporaryDir parent;
    QVERIFY(parent.isValid());
    const QString dir = parent.filePath(u"textfile"_s);
    QVERIFY(QDir().mkdir(dir));
    TextfileWriter writer(dir.toStdString(), "2.1.0");
    if (breakage == u"remove the folder")
        QVERIFY(QDir(dir).removeRecursively());
    else
        QVERIFY(QDir(dir).mkdir(u"ravelin.prom"_s));

    const std::optional<std::string> line = writer.write(printers(0x0002));
    QCOMPARE(logLine(line), logged.arg(dir));
    // Nothing left behind: no temporary file, and what was in the way is as it was.
    if (breakage == u"folder in the way")
        QCOMPARE(filesIn(dir), QStringList{u"ravelin.prom"_s});
}

void TestTextfile::logsAFailureOnceAndTheRecovery()
{
    QTemporaryDir parent;
    QVERIFY(parent.isValid());
    const QString dir = parent.filePath(u"textfile"_s);
    QVERIFY(QDir().mkdir(dir));
    TextfileWriter writer(dir.toStdString(), "2.1.0");
    QCOMPARE(logLine(writer.write(printers(0))), QString());

    QVERIFY(QDir(dir).removeRecursively());
    QVERIFY(writer.write(printers(0)).has_value());
    for (int round = 0; round < 5; ++round)
        QCOMPARE(logLine(writer.write(printers(0))), QString());

    QVERIFY(QDir().mkdir(dir));
    QCOMPARE(logLine(writer.write(printers(0))),
             u"metrics: writing %1/ravelin.prom again"_s.arg(dir));
    QCOMPARE(logLine(writer.write(printers(0))), QString());
    QCOMPARE(contents(dir + u"/ravelin.prom"_s),
             QByteArray::fromStdString(exposition(printers(0), "2.1.0")));
}

QTEST_APPLESS_MAIN(TestTextfile)
#include "tst_textfile.moc"
