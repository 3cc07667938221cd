// SPDX-License-Identifier: MIT
#include "applicationlook.h"
#include "pollingtimer.h"
#include "statechange.h"
#include "statusdoubleclient.h"
#include "statuslog.h"
#include "windowrig.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

using ravelin::PollingTimer;

namespace {

// Works the polling controls the way a person does: typing, the keyboard, the wheel, the mouse
// in the open list, and the polling button.
struct PollingRig : WindowRig
{
    PollingRig()
    {
        window.Form_Load();
        window.show();
        QApplication::setActiveWindow(&window);
    }
    QComboBox *interval() const { return control<QComboBox>(u"comboParallelInterval"_s); }
    PollingTimer *timer() const
    {
        return window.findChild<PollingTimer *>(u"tmrPrinterStatusPoll"_s);
    }
    void type(const QString &text) const
    {
        QLineEdit *edit = interval()->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    void openList() const
    {
        interval()->setFocus();
        interval()->showPopup();
        QAbstractItemView *list = interval()->view();
        QVERIFY(QTest::qWaitForWindowExposed(list->window()));
    }
    void pickFromOpenList(const QString &entry) const
    {
        openList();
        QAbstractItemView *list = interval()->view();
        const QModelIndex index = list->model()->index(interval()->findText(entry), 0);
        QVERIFY(index.isValid());
        const QPoint point = list->visualRect(index).center();
        QTest::mouseMove(list->viewport(), point);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, point);
        QTRY_VERIFY(!list->window()->isVisible());
    }
    void perform(const QString &step) const
    {
        const QString argument = step.section(u' ', 1);
        if (step == u"switch"_s) {
            control<QPushButton>(u"chkEnableStatusPolling"_s)->click();
        } else if (step.startsWith(u"type "_s)) {
            type(argument);
        } else if (step == u"enter"_s) {
            QTest::keyClick(interval()->lineEdit(), Qt::Key_Return);
        } else if (step == u"tab away"_s) {
            QTest::keyClick(interval()->lineEdit(), Qt::Key_Tab);
        } else if (step == u"down"_s || step == u"up"_s) {
            interval()->setFocus();
            QTest::keyClick(interval(), step == u"down"_s ? Qt::Key_Down : Qt::Key_Up);
        } else if (step == u"wheel down"_s) {
            const QPointF centre = QRectF(interval()->rect()).center();
            QWheelEvent wheel(centre, interval()->mapToGlobal(centre), {}, QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(interval(), &wheel);
        } else if (step.startsWith(u"pick "_s)) {
            pickFromOpenList(argument);
        } else if (step == u"open and close the list"_s) {
            openList();
            QTest::keyClick(interval()->view(), Qt::Key_Escape);
            QTRY_VERIFY(!interval()->view()->window()->isVisible());
        } else {
            QFAIL(qPrintable(u"unknown step: "_s + step));
        }
    }
};

// Opens a real modal dialog for as long as a few dozen polling periods of one millisecond.
void holdModalDialogOpen()
{
    QDialog box;
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    QEventLoop reading;
    QTimer::singleShot(40, &reading, &QEventLoop::quit);
    reading.exec();
}

// How many pixels of a line's rectangle differ clearly from colour: ink on a blank line.
int pixelsUnlike(const QImage &image, const QRect &rect, const QColor &colour)
{
    int count = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int distance = std::abs(pixel.red() - colour.red()) +
                                 std::abs(pixel.green() - colour.green()) +
                                 std::abs(pixel.blue() - colour.blue());
            if (distance > 96)
                ++count;
        }
    }
    return count;
}

// What is wrong with the log as drawn in image, its viewport's picture: every line wholly in view
// must show text, and the newest, selected, must be in view with its text on the selection.
QString faultsOfDrawnLog(const QListWidget &log, const QImage &image)
{
    // A report line's glyphs cover far more pixels than this.
    constexpr int TextPixels = 20;
    const QPalette::ColorGroup group = log.isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    const QColor base = log.palette().color(group, QPalette::Base);
    const QColor selection = log.palette().color(group, QPalette::Highlight);
    const QRect view = log.viewport()->rect();
    const int newest = log.count() - 1;
    QStringList faults;
    for (int row = 0; row <= newest; ++row) {
        const QRect line = log.visualItemRect(log.item(row));
        if (!view.contains(line)) {
            if (row == newest)
                faults << u"the newest line is out of view"_s;
            continue;
        }
        if (row != newest && pixelsUnlike(image, line, base) < TextPixels)
            faults << u"line %1 is blank"_s.arg(row);
        const int area = line.width() * line.height();
        if (row == newest && (pixelsUnlike(image, line, base) < area / 2 ||
                              pixelsUnlike(image, line, selection) < TextPixels))
            faults << u"the newest line is not drawn selected with its text"_s;
    }
    return faults.join(u"; "_s);
}

} // namespace

class TestPolling : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void switchingAndPicking_data();
    void switchingAndPicking();
    void pollingSwitchEveryWay_data();
    void pollingSwitchEveryWay();
    void ticksRunTheQueryAndLogAction();
    void logDrawnAtTheFastestPeriod();
    void oneMessageBoxAtATime();
    void noTickWhileAboutBoxIsOpen();
    void exitWhilePollingStopsTheTicks_data();
    void exitWhilePollingStopsTheTicks();
};

void TestPolling::initTestCase()
{
    ravelin::setUpApplication();
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
}

void TestPolling::switchingAndPicking_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("period");

    QTest::newRow("nothing happens at start-up") << QStringList{} << false << 0;
    QTest::newRow("start-up text gives one tick a second")
        << QStringList{u"switch"_s} << true << 1000;
    QTest::newRow("switching off keeps the period")
        << QStringList{u"switch"_s, u"switch"_s} << false << 1000;
    QTest::newRow("pick while on takes effect at once")
        << QStringList{u"switch"_s, u"pick 5000"_s} << true << 5000;
    QTest::newRow("pick while off changes nothing")
        << QStringList{u"switch"_s, u"switch"_s, u"pick 500"_s} << false << 1000;
    QTest::newRow("pick while off is read at the next switching on")
        << QStringList{u"switch"_s, u"switch"_s, u"pick 500"_s, u"switch"_s} << true << 500;
    QTest::newRow("pick before polling was ever on changes nothing")
        << QStringList{u"pick 5000"_s} << false << 0;
    QTest::newRow("typing while on changes nothing")
        << QStringList{u"switch"_s, u"type 2500"_s} << true << 1000;
    QTest::newRow("typed period is read at the next switching on")
        << QStringList{u"switch"_s, u"type 2500"_s, u"switch"_s, u"switch"_s} << true << 2500;
    QTest::newRow("letters only: on, but never ticks")
        << QStringList{u"type fast"_s, u"switch"_s} << true << 0;
    QTest::newRow("above the timer's range is held at 65535")
        << QStringList{u"type 100000"_s, u"switch"_s} << true << 65535;
    QTest::newRow("negative is held at 0") << QStringList{u"type -250"_s, u"switch"_s} << true << 0;
    // Which user actions count as picks from the list.
    QTest::newRow("down arrow on the closed box picks")
        << QStringList{u"switch"_s, u"down"_s} << true << 500;
    QTest::newRow("up arrow on the closed box picks")
        << QStringList{u"switch"_s, u"pick 5000"_s, u"up"_s} << true << 4000;
    QTest::newRow("mouse wheel on the box picks")
        << QStringList{u"switch"_s, u"wheel down"_s} << true << 500;
    QTest::newRow("the same entry picked again counts")
        << QStringList{u"switch"_s, u"pick 5000"_s, u"type 700"_s,
                       u"switch"_s, u"switch"_s,    u"pick 5000"_s}
        << true << 5000;
    QTest::newRow("Enter on a typed text that matches an entry is no pick")
        << QStringList{u"switch"_s, u"type 5000"_s, u"enter"_s} << true << 1000;
    QTest::newRow("leaving the box after typing an entry's text is no pick")
        << QStringList{u"switch"_s, u"type 5000"_s, u"tab away"_s} << true << 1000;
    QTest::newRow("opening the list over a text that matches an entry is no pick")
        << QStringList{u"type 500"_s, u"switch"_s, u"type 1000"_s, u"open and close the list"_s}
        << true << 500;
}

// The timer's state after each sequence, checked through its on/off state and period.
void TestPolling::switchingAndPicking()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, on);
    QFETCH(int, period);

    PollingRig rig;
    for (const QString &step : std::as_const(steps)) {
        rig.perform(step);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(rig.timer()->isEnabled(), on);
    QCOMPARE(rig.timer()->interval(), period);
    QCOMPARE(rig.timer()->isTicking(), on && period > 0);
    QCOMPARE(rig.control<QPushButton>(u"chkEnableStatusPolling"_s)->isChecked(), on);
    // Typing never adds to the list.
    QCOMPARE(rig.interval()->count(), 12);
    QVERIFY(rig.messages.shown.isEmpty());
}

void TestPolling::pollingSwitchEveryWay_data()
{
    addStateChangeRows();
}

// However the user changes "Enable Printer Status Polling", its handler follows: on, with the
// period read from the interval box at that moment; off, keeping the period.
void TestPolling::pollingSwitchEveryWay()
{
    QFETCH(StateChange, way);

    PollingRig rig;
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    auto *polling = rig.control<QPushButton>(u"chkEnableStatusPolling"_s);
    struct Step
    {
        QString typed;
        bool on;
        int period;
    };
    const Step steps[] = {{QString(), true, 1000}, {QString(), false, 1000}, {u"250"_s, true, 250}};
    for (const Step &step : steps) {
        if (!step.typed.isEmpty())
            rig.type(step.typed);
        changeState(polling, way);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(polling->isChecked(), step.on);
        QCOMPARE(rig.timer()->isEnabled(), step.on);
        QCOMPARE(rig.timer()->interval(), step.period);
        QCOMPARE(rig.timer()->isTicking(), step.on);
    }
}

void TestPolling::ticksRunTheQueryAndLogAction()
{
    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0x0010, 0);
    PollingRig rig;
    rig.perform(u"type 1"_s);
    rig.perform(u"switch"_s);
    QTRY_VERIFY(rig.logLines().size() >= 3);
    rig.perform(u"switch"_s);

    const QStringList lines = rig.logLines();
    QCOMPARE(lines.size(), library.lmCalls());
    for (const QString &line : lines)
        QCOMPARE(line, Time + u" [0x0010]:  [Paper Low]"_s);
    QCOMPARE(rig.checkedIndicators(), QList<int>{4});
    QCOMPARE(rig.control<QListWidget>(u"ListStatus"_s)->currentRow(), lines.size() - 1);
}

// Polling every millisecond, the log is drawn with its lines whenever it is drawn: here right
// after each tick, as a grab of the window or a repaint would draw it, once the log is full and
// each tick also removes its oldest line.
void TestPolling::logDrawnAtTheFastestPeriod()
{
    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0x0010, 0);
    PollingRig rig;
    const auto *log = rig.control<QListWidget>(u"ListStatus"_s);
    constexpr int Samples = 50;
    int sampled = 0;
    QStringList faults;
    // Connected after the window's own handler, so it runs right after each tick's action.
    QObject::connect(rig.timer(), &PollingTimer::timeout, log, [&] {
        if (log->count() < ravelin::StatusLogCapacity || sampled == Samples)
            return;
        ++sampled;
        const QString fault = faultsOfDrawnLog(*log, log->viewport()->grab().toImage());
        if (!fault.isEmpty())
            faults << u"after tick %1: %2"_s.arg(library.lmCalls()).arg(fault);
    });
    rig.perform(u"type 1"_s);
    rig.perform(u"switch"_s);
    QCOMPARE(rig.timer()->interval(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(sampled, Samples, 60000);
    rig.perform(u"switch"_s);
    QCOMPARE(faults, QStringList());
}

// Polling a printer box left empty shows "Invalid Printer Selected!" at every tick that runs:
// the ticks that fall due while one box is open are dropped, so boxes never stack.
void TestPolling::oneMessageBoxAtATime()
{
    PollingRig rig;
    int open = 0;
    int mostOpen = 0;
    rig.messages.whileOpen = [&] {
        mostOpen = std::max(mostOpen, ++open);
        holdModalDialogOpen();
        --open;
    };
    rig.control<QCheckBox>(u"chkUsePrinterSelected"_s)->click();
    rig.perform(u"type 1"_s);
    rig.perform(u"switch"_s);
    QTRY_VERIFY(rig.messages.shown.size() >= 3);
    rig.perform(u"switch"_s);

    QCOMPARE(mostOpen, 1);
    QCOMPARE(rig.logLines().size(), rig.messages.shown.size());
    for (const auto &shown : std::as_const(rig.messages.shown))
        QCOMPARE(shown.text, u"Invalid Printer Selected!"_s);
}

void TestPolling::noTickWhileAboutBoxIsOpen()
{
    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0, 0);
    PollingRig rig;
    int callsWhileOpen = -1;
    rig.messages.whileOpen = [&] {
        const int before = library.lmCalls();
        holdModalDialogOpen();
        callsWhileOpen = library.lmCalls() - before;
    };
    rig.perform(u"type 1"_s);
    rig.perform(u"switch"_s);
    QTRY_VERIFY(library.lmCalls() >= 1);

    rig.window.findChild<QAction *>(u"mnuFileAbout"_s)->trigger();
    QCOMPARE(callsWhileOpen, 0);
    // Polling goes on once the box is closed.
    const int afterBox = library.lmCalls();
    QTRY_VERIFY(library.lmCalls() > afterBox);
}

void TestPolling::exitWhilePollingStopsTheTicks_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("Exit button") << false;
    QTest::newRow("File menu's Exit") << true;
}

// The program ends with the event loop; no tick may run in between.
void TestPolling::exitWhilePollingStopsTheTicks()
{
    QFETCH(bool, fromMenu);
    PollingRig rig;
    rig.perform(u"type 1"_s);
    rig.perform(u"switch"_s);
    QTRY_VERIFY(!rig.logLines().isEmpty());

    if (fromMenu)
        rig.window.findChild<QAction *>(u"mnuFileExit"_s)->trigger();
    else
        rig.control<QPushButton>(u"cmdExit"_s)->click();
    QVERIFY(!rig.timer()->isTicking());
    const qsizetype lines = rig.logLines().size();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCOMPARE(rig.logLines().size(), lines);
}

QTEST_MAIN(TestPolling)
#include "tst_polling.moc"
