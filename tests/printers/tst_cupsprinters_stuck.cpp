// SPDX-License-Identifier: MIT
// Start-up against a scheduler that accepts connections and then does not answer: the window opens
// with an empty printer list within the time the list is given.

#include "cupsprinters.h"
#include "fakes.h"
#include "fakescheduler.h"
#include "form1.h"
#include "statuslibrary.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(FakeScheduler::Behaviour)

class TestCupsPrintersStuck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void windowOpensWithAnEmptyList_data();
    void windowOpensWithAnEmptyList();

private:
    QString socketPath() const { return m_dir.filePath(u"cups.sock"_s); }

    QTemporaryDir m_dir{u"/tmp/rvtest.XXXXXX"_s};
};

// The bound with a generous margin for a loaded machine and the sanitizers; what it guards
// against is the minutes libcups waits on its own.
constexpr auto Bound = ravelin::CupsPrinters::Patience + 2s;

// libcups reads its configuration at its first use in each thread: point it at the socket (and
// away from the machine's own configuration and the user's) before any thread uses it.
void TestCupsPrintersStuck::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("CUPS_SERVER", QFile::encodeName(socketPath()));
    qputenv("CUPS_SERVERROOT", QFile::encodeName(m_dir.path()));
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
}

void TestCupsPrintersStuck::windowOpensWithAnEmptyList_data()
{
    QTest::addColumn<FakeScheduler::Behaviour>("behaviour");
    QTest::newRow("silent scheduler") << FakeScheduler::Behaviour::Silent;
    QTest::newRow("trickling scheduler") << FakeScheduler::Behaviour::TrickleAtOnce;
}

// As the program starts: the window, its load handler, then showing it.
void TestCupsPrintersStuck::windowOpensWithAnEmptyList()
{
    QFETCH(FakeScheduler::Behaviour, behaviour);
    const FakeScheduler scheduler(socketPath(), behaviour);
    QVERIFY(scheduler.isListening());

    QElapsedTimer timer;
    timer.start();
    const ravelin::CupsPrinters printers;
    ravelin::StatusLibrary library({u"/nonexistent/libQVLMSTAT.so"_s});
    RecordingMessageBox messages;
    const FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(12, 0))};
    ravelin::Form1 window(printers, library, messages, clock, QLocale::c());
    window.Form_Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto took = std::chrono::milliseconds(timer.elapsed());

    QVERIFY2(took < Bound, qPrintable(u"took %1 ms"_s.arg(took.count())));
    const auto *box = window.findChild<QComboBox *>(u"ComboPrintersList"_s);
    QVERIFY(box);
    QCOMPARE(box->count(), 0);
    QCOMPARE(box->currentText(), QString());
    QVERIFY(messages.shown.isEmpty());
    QVERIFY2(scheduler.connections() > 0, "libcups never reached the scheduler");
    qInfo("the window was shown after %lld ms", qint64(took.count()));
}

QTEST_MAIN(TestCupsPrintersStuck)
#include "tst_cupsprinters_stuck.moc"
