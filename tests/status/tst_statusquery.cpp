// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "statusdoubleclient.h"
#include "statuslibrary.h"
#include "statuslogging.h"
#include "statusquery.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using ravelin::StatusLibrary;
using ravelin::StatusLibraryError;
using ravelin::StatusWord;

namespace {

const QDateTime Noon(QDate(2026, 12, 7), QTime(12, 0, 0));

// One query as the window makes it, over fakes of the window's pieces and a real library.
struct QueryRig
{
    explicit QueryRig(const QStringList &candidates)
        : library(candidates)
        , query(indicators, choice, messages, library, clock, QLocale::c())
    {}
    RecordingIndicators indicators;
    FixedChoice choice;
    RecordingMessageBox messages;
    FixedClock clock{Noon};
    StatusLibrary library;
    ravelin::StatusQuery query;
};

// The lines logged under "ravelin.status" while it lives, with every line of it enabled.
class StatusLogCapture
{
public:
    StatusLogCapture()
    {
        s_lines.clear();
        QLoggingCategory::setFilterRules(u"ravelin.status=true"_s);
        m_previous = qInstallMessageHandler(&StatusLogCapture::record);
    }
    ~StatusLogCapture()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    StatusLogCapture(const StatusLogCapture &) = delete;
    StatusLogCapture &operator=(const StatusLogCapture &) = delete;

    // "debug TEXT" or "info TEXT", in order, and forgets them.
    static QStringList take() { return std::exchange(s_lines, {}); }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (qstrcmp(context.category, "ravelin.status") != 0)
            return;
        const char *kind = type == QtDebugMsg ? "debug" : type == QtInfoMsg ? "info" : "other";
        s_lines << QString::fromLatin1(kind) + u' ' + text;
    }

    QtMessageHandler m_previous = nullptr;
    static inline QStringList s_lines;
};

QString figureOf(const QString &line)
{
    const qsizetype start = line.indexOf(u"[0x"_s) + 3;
    return line.mid(start, line.indexOf(u']', start) - start);
}

} // namespace

class TestStatusQuery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void libraryIsLoadedAtTheFirstCall();
    void source_data();
    void source();
    void emptyPrinterNameShowsMessageAndCallsNothing();
    void libraryLackingOneFunctionServesTheOther_data();
    void libraryLackingOneFunctionServesTheOther();
    void missingLibraryNamesTheFileAndTheReason();
    void candidatesAreTriedInOrder();
    void standardPlaces_data();
    void standardPlaces();
    void reasonForPrinterError_data();
    void reasonForPrinterError();
    void logsEachWordAndEachChangeOfReason();
};

// On a copy of the double that no other test can have loaded, so that the test stands alone.
void TestStatusQuery::libraryIsLoadedAtTheFirstCall()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString copy =
        StatusDoubleClient::freshCopy(STATUS_DOUBLE_WITHOUT_PRINTER_PATH, folder.path());
    QVERIFY(!copy.isEmpty());

    QVERIFY(!StatusDoubleClient::isLoaded(copy));
    QueryRig rig({copy});
    rig.query.UpdateRealTimeStatusBits(0x0001);
    QVERIFY(!rig.library.isLoaded());
    QVERIFY(!StatusDoubleClient::isLoaded(copy));

    rig.query.RetreivePrinterStatus();
    QVERIFY(rig.library.isLoaded());
    QVERIFY(StatusDoubleClient::isLoaded(copy));
}

void TestStatusQuery::source_data()
{
    QTest::addColumn<int>("useSelected");
    QTest::addColumn<QString>("name");
    QTest::addColumn<StatusWord>("printerWord");
    QTest::addColumn<int>("lmCalls");
    QTest::addColumn<QByteArray>("nameReceived");
    QTest::addColumn<QString>("figure");

    // The language monitor answers 0x0011 throughout.
    QTest::newRow("switch off asks the language monitor")
        << 0 << u"QVT-7460"_s << 0x0802 << 1 << QByteArray() << u"0011"_s;
    QTest::newRow("switch off with no name asks the language monitor")
        << 0 << QString() << 0x0802 << 1 << QByteArray() << u"0011"_s;
    QTest::newRow("switch value other than 1 counts as off")
        << 2 << u"QVT-7460"_s << 0x0802 << 1 << QByteArray() << u"0011"_s;
    QTest::newRow("switch on asks the named printer")
        << 1 << u"QVT-7460"_s << 0x0802 << 0 << "QVT-7460"_ba << u"0802"_s;
    QTest::newRow("typed name outside the list goes as it stands")
        << 1 << u" back office qvt "_s << 0x0802 << 0 << " back office qvt "_ba << u"0802"_s;
    QTest::newRow("non-ASCII name goes in the locale's 8-bit encoding")
        << 1 << u"Kasse-S\u00fcd"_s << 0x0802 << 0
        << "Kasse-S\xc3\xbc"
           "d"_ba
        << u"0802"_s;
    QTest::newRow("minus one from the library is a status word like any other")
        << 1 << u"QVT-7460"_s << -1 << 0 << "QVT-7460"_ba << u"FFFFFFFF"_s;
}

void TestStatusQuery::source()
{
    QFETCH(int, useSelected);
    QFETCH(QString, name);
    QFETCH(StatusWord, printerWord);
    QFETCH(int, lmCalls);
    QFETCH(QByteArray, nameReceived);
    QFETCH(QString, figure);

    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0x0011, printerWord);
    QueryRig rig({QString::fromUtf8(STATUS_DOUBLE_PATH)});
    rig.choice.use = useSelected;
    rig.choice.name = name;

    const QString line = rig.query.RetreivePrinterStatus();

    QCOMPARE(library.lmCalls(), lmCalls);
    QCOMPARE(library.printerCalls(), 1 - lmCalls);
    QCOMPARE(library.lastName(), nameReceived);
    QCOMPARE(figureOf(line), figure);
    QVERIFY(rig.messages.shown.isEmpty());
}

void TestStatusQuery::emptyPrinterNameShowsMessageAndCallsNothing()
{
    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0x0011, 0x0802);
    QueryRig rig({QString::fromUtf8(STATUS_DOUBLE_PATH)});
    rig.query.UpdateRealTimeStatusBits(-1);
    rig.choice.use = 1;

    const QString line = rig.query.RetreivePrinterStatus();

    QCOMPARE(rig.messages.shown.size(), 1);
    QCOMPARE(rig.messages.shown[0].text, u"Invalid Printer Selected!"_s);
    QCOMPARE(rig.messages.shown[0].icon, ravelin::MessageBox::Icon::Critical);
    QCOMPARE(rig.messages.shown[0].caption, u"Ravelin"_s);
    QCOMPARE(library.lmCalls() + library.printerCalls(), 0);
    QVERIFY2(line.endsWith(u" [0x0000]:  "_s), qPrintable(line));
    for (int state : rig.indicators.states)
        QCOMPARE(state, 0);
}

void TestStatusQuery::libraryLackingOneFunctionServesTheOther_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("workingSwitch");
    QTest::addColumn<QString>("missingFunction");

    QTest::newRow("without GetLMStatus")
        << QString::fromUtf8(STATUS_DOUBLE_WITHOUT_LM_PATH) << 1 << u"GetLMStatus"_s;
    QTest::newRow("without GetPrinterStatus")
        << QString::fromUtf8(STATUS_DOUBLE_WITHOUT_PRINTER_PATH) << 0 << u"GetPrinterStatus"_s;
}

void TestStatusQuery::libraryLackingOneFunctionServesTheOther()
{
    QFETCH(QString, path);
    QFETCH(int, workingSwitch);
    QFETCH(QString, missingFunction);

    StatusDoubleClient library(qPrintable(path));
    library.script(0x0010, 0x0010);
    QueryRig rig({path});
    rig.choice.name = u"QVT-7460"_s;

    // The missing function fails each time it is asked for, naming itself and the file...
    for (int attempt = 0; attempt < 2; ++attempt) {
        rig.choice.use = 1 - workingSwitch;
        try {
            rig.query.RetreivePrinterStatus();
            QFAIL("a missing function must not give a status");
        } catch (const StatusLibraryError &error) {
            QVERIFY2(error.message().contains(missingFunction), qPrintable(error.message()));
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
        }
        // ...and the other one keeps working around it.
        rig.choice.use = workingSwitch;
        QCOMPARE(figureOf(rig.query.RetreivePrinterStatus()), u"0010"_s);
    }
}

void TestStatusQuery::missingLibraryNamesTheFileAndTheReason()
{
    QueryRig rig({u"/nonexistent/ravelin/libQVLMSTAT.so"_s});
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            rig.query.RetreivePrinterStatus();
            QFAIL("a missing library must not give a status");
        } catch (const StatusLibraryError &error) {
            QVERIFY2(error.message().contains(u"libQVLMSTAT.so"_s), qPrintable(error.message()));
            QVERIFY2(error.message().contains(u"No such file or directory"_s),
                     qPrintable(error.message()));
        }
    }
    QVERIFY(!rig.library.isLoaded());
}

void TestStatusQuery::candidatesAreTriedInOrder()
{
    const QString present = QString::fromUtf8(STATUS_DOUBLE_PATH);
    QueryRig rig({u"/nonexistent/libQVLMSTAT.so"_s, present, u"/nonexistent/other.so"_s});
    rig.query.RetreivePrinterStatus();
    QCOMPARE(rig.library.loadedPath(), present);
}

void TestStatusQuery::standardPlaces_data()
{
    QTest::addColumn<QString>("copyAt");
    QTest::addColumn<bool>("found");

    QTest::newRow("stand-in in lib/ravelin beside bin is found")
        << u"lib/ravelin/libQVLMSTAT.so"_s << true;
    QTest::newRow("library in the current folder is not") << u"libQVLMSTAT.so"_s << false;
    QTest::newRow("library beside the program is not") << u"bin/libQVLMSTAT.so"_s << false;
}

// A tree laid out as an installed one: <root>/bin holds the program.
void TestStatusQuery::standardPlaces()
{
    QFETCH(QString, copyAt);
    QFETCH(bool, found);

    {
        StatusLibrary system(QStringList{StatusLibrary::fileName()});
        try {
            system.GetLMStatus();
            QSKIP("this system has a status library of its own on the loader's path");
        } catch (const StatusLibraryError &) {
        }
    }

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString copy = root.filePath(copyAt);
    QVERIFY(QDir().mkpath(QFileInfo(copy).absolutePath()));
    QVERIFY(QDir().mkpath(root.filePath(u"bin"_s)));
    QVERIFY(QFile::copy(QString::fromUtf8(STATUS_DOUBLE_PATH), copy));

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root.path()));
    auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });

    QueryRig rig(StatusLibrary::standardCandidates(root.filePath(u"bin"_s)));
    bool answered = true;
    try {
        rig.query.RetreivePrinterStatus();
    } catch (const StatusLibraryError &) {
        answered = false;
    }
    QCOMPARE(answered, found);
    if (found)
        QCOMPARE(QFileInfo(rig.library.loadedPath()).canonicalFilePath(),
                 QFileInfo(copy).canonicalFilePath());
}

void TestStatusQuery::reasonForPrinterError_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<StatusWord>("word");
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("asked");

    const QString standIn = QString::fromUtf8(STATUS_DOUBLE_PATH);
    const QByteArray lobby =
        "QVT-7460-Lobby: 127.0.0.1:9100 did not answer the second status request within 800 ms";
    QTest::newRow("Printer Error with a reason")
        << standIn << 0x0080 << lobby << QString::fromLatin1(lobby) << 1;
    QTest::newRow("Printer Error among other bits")
        << standIn << 0x0893 << lobby << QString::fromLatin1(lobby) << 1;
    QTest::newRow("no Printer Error: the library is not asked")
        << standIn << 0x0010 << "stale"_ba << QString() << 0;
    QTest::newRow("Printer Error without a reason") << standIn << 0x0080 << ""_ba << QString() << 1;
    QTest::newRow("a reason longer than the first buffer is read whole")
        << standIn << 0x0080 << QByteArray(1000, 'r') << QString(1000, u'r') << 2;
    QTest::newRow("a reason beyond 4096 bytes is cut there")
        << standIn << 0x0080 << QByteArray(5000, 'r') << QString(4096, u'r') << 2;
    QTest::newRow("line breaks and control characters become blanks")
        << standIn << 0x0080 << "QVT-1: first\nsecond\r\n\tthird\x01 fourth"_ba
        << u"QVT-1: first second third fourth"_s << 1;
    QTest::newRow("in the locale's encoding")
        << standIn << 0x0080
        << "Kasse-S\xc3\xbc"
           "d: /dev/ttyS0: permission denied"_ba
        << u"Kasse-S\u00fcd: /dev/ttyS0: permission denied"_s << 1;
    QTest::newRow("a library without GetStatusReason: no reason, no failure")
        << QString::fromUtf8(STATUS_DOUBLE_WITHOUT_REASON_PATH) << 0x0080 << lobby << QString()
        << 0;
}

// The reason is what the library says of a word with Printer Error, on one line; the report line
// stays the word's own.
void TestStatusQuery::reasonForPrinterError()
{
    QFETCH(QString, path);
    QFETCH(StatusWord, word);
    QFETCH(QByteArray, given);
    QFETCH(QString, reason);
    QFETCH(int, asked);

    StatusDoubleClient library(qPrintable(path));
    library.script(word, word);
    library.scriptReason(given);
    QueryRig rig({path});
    rig.choice.use = 1;
    rig.choice.name = u"QVT-7460-Lobby"_s;

    const QString line = rig.query.RetreivePrinterStatus();

    QCOMPARE(rig.query.reason(), reason);
    QCOMPARE(library.reasonCalls(), asked);
    QCOMPARE(line, rig.query.UpdateRealTimeStatusBits(word));
    QVERIFY(rig.messages.shown.isEmpty());
}

// A debug line for each query with its word, an info line for each change of the reason.
void TestStatusQuery::logsEachWordAndEachChangeOfReason()
{
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
        QVERIFY2(!ravelin::statusLogging().isInfoEnabled(), "logged unless asked to");
        QVERIFY2(!ravelin::statusLogging().isDebugEnabled(), "logged unless asked to");
    }
    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    QueryRig rig({QString::fromUtf8(STATUS_DOUBLE_PATH)});
    const StatusLogCapture capture;
    struct Step
    {
        StatusWord word;
        QByteArray reason;
        QStringList logged;
    };
    const Step steps[] = {
        {0x0010, "", {u"debug GetLMStatus() = 0x0010"_s}},
        {0x0080,
         "QVT-1: the queue is stopped",
         {u"debug GetLMStatus() = 0x0080"_s, u"info Printer Error: QVT-1: the queue is stopped"_s}},
        {0x0080, "QVT-1: the queue is stopped", {u"debug GetLMStatus() = 0x0080"_s}},
        {0x0090,
         "QVT-1: 127.0.0.1:9100 refused the connection",
         {u"debug GetLMStatus() = 0x0090"_s,
          u"info Printer Error: QVT-1: 127.0.0.1:9100 refused the connection"_s}},
        {0x0080, "", {u"debug GetLMStatus() = 0x0080"_s, u"info Printer Error, no reason given"_s}},
        {0x0010, "", {u"debug GetLMStatus() = 0x0010"_s, u"info Printer Error cleared"_s}},
        // A library that gives no reason leaves the log of reasons silent.
        {0x0080, "", {u"debug GetLMStatus() = 0x0080"_s}},
        {0x0010, "", {u"debug GetLMStatus() = 0x0010"_s}},
        {0x0080,
         "QVT-1: the queue is stopped",
         {u"debug GetLMStatus() = 0x0080"_s, u"info Printer Error: QVT-1: the queue is stopped"_s}},
        {0x0010, "", {u"debug GetLMStatus() = 0x0010"_s, u"info Printer Error cleared"_s}},
    };
    for (const Step &step : steps) {
        library.script(step.word, 0);
        library.scriptReason(step.reason);
        rig.query.RetreivePrinterStatus();
        QCOMPARE(StatusLogCapture::take(), step.logged);
    }

    rig.choice.use = 1;
    rig.choice.name = u"QVT-7460"_s;
    library.script(0, 0x0002);
    rig.query.RetreivePrinterStatus();
    QCOMPARE(StatusLogCapture::take(),
             QStringList{u"debug GetPrinterStatus(\"QVT-7460\") = 0x0002"_s});
    rig.choice.name.clear();
    rig.query.RetreivePrinterStatus();
    QCOMPARE(StatusLogCapture::take(),
             QStringList{u"debug no printer named, nothing asked: 0x0000"_s});
}

QTEST_GUILESS_MAIN(TestStatusQuery)
#include "tst_statusquery.moc"
