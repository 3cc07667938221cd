// SPDX-License-Identifier: MIT
#include "applicationlook.h"
#include "form1.h"
#include "form1design.h"
#include "modalmessagebox.h"
#include "pollingtimer.h"
#include "probe.h"
#include "statechange.h"
#include "statusdoubleclient.h"
#include "statuslibrary.h"
#include "windowrig.h"
#include "wrappingpushbutton.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

using namespace Qt::StringLiterals;
using ravelin::Form1;
using ravelin::MessageBox;

Q_DECLARE_METATYPE(ravelin::MessageBox::Icon)

namespace {

// The design name of the control that has the focus; a combo box's text field counts as the
// combo box.
QString focusedControl()
{
    QWidget *widget = QApplication::focusWidget();
    if (!widget)
        return {};
    if (qobject_cast<QLineEdit *>(widget) && qobject_cast<QComboBox *>(widget->parentWidget()))
        widget = widget->parentWidget();
    return widget->objectName();
}

const QString AllBitNames =
    u"[Head Up][Paper Out][Paper at Delivery][Cutter Home][Paper Low][Spare Sensor][Over Temp]"
    "[Printer Error][Delivery Jam][Receipt Dropped][Receipt Taken][Printer Busy][Cutter Error]"
    "[Rx Buffer Full][Spare][Receipt Purged]"_s;

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void startUpState();
    void printerList_data();
    void printerList();
    void usePrinterSelectedKeepsTheBox();
    void usePrinterSelectedEveryWay_data();
    void usePrinterSelectedEveryWay();
    void focusAtStart();
    void tabOrder_data();
    void tabOrder();
    void query_data();
    void query();
    void invalidPrinterIsLoggedAsZero();
    void reasonIsTheLineToolTip_data();
    void reasonIsTheLineToolTip();
    void indicatorsTakeNoStateFromTheUser_data();
    void indicatorsTakeNoStateFromTheUser();
    void indicatorsAreReadOnlyToAssistiveTechnology();
    void indicatorsLookLikeCheckBoxes_data();
    void indicatorsLookLikeCheckBoxes();
    void logKeepsTheNewest99_data();
    void logKeepsTheNewest99();
    void aboutBox();
    void realMessageBox_data();
    void realMessageBox();
    void realMessageBoxWaitsForOk();
    void drawnAtTheScaleAsked();
    void captionsFit_data();
    void captionsFit();
    void namesForTestsAndScreenReaders();
    void geometry_data();
    void geometry();
    void opensCentredAtFixedSize();
    void programEnds_data();
    void programEnds();
};

void TestForm1::initTestCase()
{
    ravelin::setUpApplication();
}

// Over a copy of the double that no other test can have loaded, so that the test stands alone.
void TestForm1::startUpState()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString copy = StatusDoubleClient::freshCopy(STATUS_DOUBLE_PATH, folder.path());
    QVERIFY(!copy.isEmpty());

    QVERIFY(!StatusDoubleClient::isLoaded(copy));
    WindowRig rig({u"QVT-7460"_s}, {copy});
    rig.window.Form_Load();

    QCOMPARE(rig.checkedIndicators(), QList<int>());
    QCOMPARE(rig.logLines(), QStringList());

    const auto *interval = rig.control<QComboBox>(u"comboParallelInterval"_s);
    QCOMPARE(interval->currentText(), u"1000"_s);
    QCOMPARE(interval->currentIndex(), -1);
    QCOMPARE(rig.items(u"comboParallelInterval"_s),
             QStringList({u"500"_s, u"1000"_s, u"2000"_s, u"3000"_s, u"4000"_s, u"5000"_s,
                          u"10000"_s, u"20000"_s, u"30000"_s, u"40000"_s, u"50000"_s, u"60000"_s}));

    QVERIFY(!rig.control<QComboBox>(u"ComboPrintersList"_s)->isEnabled());
    QVERIFY(!rig.control<QCheckBox>(u"chkUsePrinterSelected"_s)->isChecked());
    const auto *polling = rig.control<QPushButton>(u"chkEnableStatusPolling"_s);
    QVERIFY(polling->isCheckable());
    QVERIFY(!polling->isChecked());
    const auto *timer = rig.window.findChild<ravelin::PollingTimer *>(u"tmrPrinterStatusPoll"_s);
    QVERIFY(timer);
    QVERIFY(!timer->isEnabled());
    QCOMPARE(timer->interval(), 0);

    // Nothing was asked of the status library; it is not even loaded.
    QVERIFY(!rig.library.isLoaded());
    QVERIFY(!StatusDoubleClient::isLoaded(copy));
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(rig.printers.reads, 1);

    // The program's own font, not a substitute for it.
    const QFontInfo font(rig.window.font());
    QCOMPARE(font.family(), u"Liberation Sans"_s);
    QCOMPARE(font.pointSize(), 8);
    QCOMPARE(rig.window.windowTitle(), u"Quorvel QVT-7460 Status Demo"_s);
    QCOMPARE(
        rig.window.windowIcon().availableSizes(),
        QList<QSize>({QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)}));
}

void TestForm1::printerList_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("text");

    QTest::newRow("first and third of three match: both listed, the last selected")
        << QStringList{u"QVT-7460 Front"_s, u"Office Laser"_s, u"QVT-7460 Back"_s}
        << QStringList{u"QVT-7460 Front"_s, u"QVT-7460 Back"_s} << u"QVT-7460 Back"_s;
    QTest::newRow("the system's order is kept, not sorted")
        << QStringList{u"QVT-Z"_s, u"QVT-A"_s, u"QVT-M"_s}
        << QStringList{u"QVT-Z"_s, u"QVT-A"_s, u"QVT-M"_s} << u"QVT-M"_s;
    QTest::newRow("QVT anywhere in the name")
        << QStringList{u"Kitchen_QVT"_s, u"xQVTx"_s} << QStringList{u"Kitchen_QVT"_s, u"xQVTx"_s}
        << u"xQVTx"_s;
    QTest::newRow("lower or mixed case does not count")
        << QStringList{u"qvt-7460"_s, u"Qvt-7460"_s, u"QVT-7460"_s, u"QvT"_s}
        << QStringList{u"QVT-7460"_s} << u"QVT-7460"_s;
    QTest::newRow("no printer matches: empty list and text")
        << QStringList{u"Office Laser"_s, u"qvt"_s} << QStringList() << QString();
    QTest::newRow("no printers installed") << QStringList() << QStringList() << QString();
}

void TestForm1::printerList()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, listed);
    QFETCH(QString, text);

    WindowRig rig(installed);
    rig.window.Form_Load();
    const auto *box = rig.control<QComboBox>(u"ComboPrintersList"_s);
    QCOMPARE(rig.items(u"ComboPrintersList"_s), listed);
    QCOMPARE(box->currentText(), text);
    QCOMPARE(box->currentIndex(), listed.size() - 1);
}

void TestForm1::usePrinterSelectedKeepsTheBox()
{
    WindowRig rig({u"QVT-1"_s, u"QVT-2"_s});
    rig.window.Form_Load();
    auto *use = rig.control<QCheckBox>(u"chkUsePrinterSelected"_s);
    auto *box = rig.control<QComboBox>(u"ComboPrintersList"_s);

    use->click();
    QVERIFY(box->isEnabled());
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), u"Back Office QVT"_s);

    use->click();
    QVERIFY(!box->isEnabled());
    QCOMPARE(box->currentText(), u"Back Office QVT"_s);

    use->click();
    QVERIFY(box->isEnabled());
    QCOMPARE(box->currentText(), u"Back Office QVT"_s);
    QCOMPARE(rig.items(u"ComboPrintersList"_s), QStringList({u"QVT-1"_s, u"QVT-2"_s}));
    QCOMPARE(box->currentIndex(), 1);
}

void TestForm1::usePrinterSelectedEveryWay_data()
{
    addStateChangeRows();
}

// However the user changes "Use Printer Selected", its handler follows: the printer box is
// enabled while it is checked and greyed while it is not, change after change.
void TestForm1::usePrinterSelectedEveryWay()
{
    QFETCH(StateChange, way);

    WindowRig rig({u"QVT-1"_s});
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    auto *use = rig.control<QCheckBox>(u"chkUsePrinterSelected"_s);
    const auto *box = rig.control<QComboBox>(u"ComboPrintersList"_s);

    for (const bool checked : {true, false, true}) {
        changeState(use, way);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(use->isChecked(), checked);
        QCOMPARE(box->isEnabled(), checked);
        QCOMPARE(box->currentText(), u"QVT-1"_s);
    }
}

void TestForm1::focusAtStart()
{
    WindowRig rig({u"QVT-1"_s});
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    QCOMPARE(focusedControl(), u"chkStatus_8"_s);
}

void TestForm1::tabOrder_data()
{
    QTest::addColumn<bool>("printerBoxEnabled");
    QTest::addColumn<QStringList>("order");

    QStringList indicators;
    for (int bit : {8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7})
        indicators.append(u"chkStatus_%1"_s.arg(bit));
    const QStringList head =
        indicators + QStringList{u"chkEnableStatusPolling"_s, u"cmdExit"_s, u"ListStatus"_s};
    const QStringList tail = {u"chkUsePrinterSelected"_s, u"cmdRetreivePrinterStatus"_s,
                              u"comboParallelInterval"_s};

    QTest::newRow("printer box disabled: passed over") << false << head + tail;
    QTest::newRow("printer box enabled: in its place")
        << true << head + QStringList{u"ComboPrintersList"_s} + tail;
}

void TestForm1::tabOrder()
{
    QFETCH(bool, printerBoxEnabled);
    QFETCH(QStringList, order);

    WindowRig rig({u"QVT-1"_s});
    rig.window.Form_Load();
    if (printerBoxEnabled)
        rig.control<QCheckBox>(u"chkUsePrinterSelected"_s)->click();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    rig.control(u"chkStatus_8"_s)->setFocus(Qt::OtherFocusReason);

    QStringList visited{focusedControl()};
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(focusedControl());
    }
    // Round the whole order and back to the start.
    QCOMPARE(visited, order + QStringList{order.first()});

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(focusedControl(), order.last());
}

void TestForm1::query_data()
{
    QTest::addColumn<bool>("useSelected");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("lmWord");
    QTest::addColumn<int>("printerWord");
    QTest::addColumn<int>("lmCalls");
    QTest::addColumn<QByteArray>("nameReceived");
    QTest::addColumn<QString>("report");
    QTest::addColumn<QList<int>>("checked");

    QTest::newRow("switch off asks the language monitor, whatever the box shows")
        << false << QString() << 0x0003 << 0x0010 << 1 << QByteArray()
        << u"[0x0003]:  [Head Up][Paper Out]"_s << QList<int>{0, 1};
    QTest::newRow("switch on asks the printer selected in the box")
        << true << QString() << 0x0003 << 0x8001 << 0 << "QVT-7460 Back"_ba
        << u"[0x8001]:  [Head Up][Receipt Purged]"_s << QList<int>{0, 15};
    QTest::newRow("switch on with a name typed that is not in the list")
        << true << u"Kasse QVT S\u00fcd"_s << 0x0003 << 0x0010 << 0
        << "Kasse QVT S\xc3\xbc"
           "d"_ba
        << u"[0x0010]:  [Paper Low]"_s << QList<int>{4};
    QTest::newRow("minus one from the library: eight F digits, every bit")
        << false << QString() << -1 << 0 << 1 << QByteArray() << u"[0xFFFFFFFF]:  "_s + AllBitNames
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
}

void TestForm1::query()
{
    QFETCH(bool, useSelected);
    QFETCH(QString, typed);
    QFETCH(int, lmWord);
    QFETCH(int, printerWord);
    QFETCH(int, lmCalls);
    QFETCH(QByteArray, nameReceived);
    QFETCH(QString, report);
    QFETCH(QList<int>, checked);

    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(lmWord, printerWord);
    WindowRig rig({u"QVT-7460 Front"_s, u"Office Laser"_s, u"QVT-7460 Back"_s});
    rig.window.Form_Load();
    if (useSelected)
        rig.control<QCheckBox>(u"chkUsePrinterSelected"_s)->click();
    if (!typed.isNull())
        rig.control<QComboBox>(u"ComboPrintersList"_s)->setEditText(typed);
    // Indicators left checked are overwritten like the others.
    rig.indicator(2)->setChecked(true);
    rig.indicator(9)->setChecked(true);

    rig.query();

    QCOMPARE(library.lmCalls(), lmCalls);
    QCOMPARE(library.printerCalls(), 1 - lmCalls);
    QCOMPARE(library.lastName(), nameReceived);
    QCOMPARE(rig.logLines(), QStringList{Time + u' ' + report});
    const auto *log = rig.control<QListWidget>(u"ListStatus"_s);
    QCOMPARE(log->currentRow(), 0);
    QVERIFY(log->item(0)->isSelected());
    QCOMPARE(rig.checkedIndicators(), checked);
    QVERIFY(rig.messages.shown.isEmpty());
}

void TestForm1::invalidPrinterIsLoggedAsZero()
{
    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0x0003, 0x0003);
    WindowRig rig({u"Office Laser"_s});
    rig.window.Form_Load();
    rig.control<QCheckBox>(u"chkUsePrinterSelected"_s)->click();
    rig.indicator(5)->setChecked(true);

    rig.query();

    QCOMPARE(rig.messages.shown.size(), 1);
    QCOMPARE(rig.messages.shown[0].text, u"Invalid Printer Selected!"_s);
    QCOMPARE(rig.messages.shown[0].icon, MessageBox::Icon::Critical);
    QCOMPARE(rig.messages.shown[0].caption, u"Ravelin"_s);
    QCOMPARE(library.lmCalls(), 0);
    QCOMPARE(library.printerCalls(), 0);
    QVERIFY(!rig.library.isLoaded());
    QCOMPARE(rig.logLines(), QStringList{Time + u" [0x0000]:  "_s});
    QCOMPARE(rig.checkedIndicators(), QList<int>());
}

void TestForm1::reasonIsTheLineToolTip_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<int>("word");
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QString>("reason");

    const QString standIn = QString::fromUtf8(STATUS_DOUBLE_PATH);
    QTest::newRow("Printer Error with a reason")
        << standIn << 0x0080 << "QVT-7460: 127.0.0.1:9100 refused the connection"_ba
        << u"QVT-7460: 127.0.0.1:9100 refused the connection"_s;
    QTest::newRow("a reason that looks like markup is shown as it stands")
        << standIn << 0x0080 << "<b>QVT</b>: <i>no</i> answer &amp; more"_ba
        << u"<b>QVT</b>: <i>no</i> answer &amp; more"_s;
    QTest::newRow("no Printer Error, no tool tip") << standIn << 0x0010 << "stale"_ba << QString();
    QTest::newRow("a library without reasons, no tool tip")
        << QString::fromUtf8(STATUS_DOUBLE_WITHOUT_REASON_PATH) << 0x0080
        << "QVT-7460: 127.0.0.1:9100 refused the connection"_ba << QString();
}

// The reason for a Printer Error is the log line's tool tip, and its description for assistive
// technology; the line itself is the report line as ever.
void TestForm1::reasonIsTheLineToolTip()
{
    QFETCH(QString, library);
    QFETCH(int, word);
    QFETCH(QByteArray, given);
    QFETCH(QString, reason);

    StatusDoubleClient client(qPrintable(library));
    client.script(word, 0);
    client.scriptReason(given);
    WindowRig rig({}, {library});
    rig.window.Form_Load();
    rig.query();

    const QListWidgetItem *line = rig.control<QListWidget>(u"ListStatus"_s)->item(0);
    QVERIFY(line);
    QCOMPARE(line->text(), rig.window.UpdateRealTimeStatusBits(word));
    QString shown = line->toolTip();
    if (Qt::mightBeRichText(shown)) {
        QTextDocument document;
        document.setHtml(shown);
        shown = document.toPlainText();
    }
    QCOMPARE(shown, reason);
    QCOMPARE(line->data(Qt::AccessibleDescriptionRole).toString(), reason);
}

void TestForm1::indicatorsTakeNoStateFromTheUser_data()
{
    QTest::addColumn<StateChange>("way");
    QTest::addColumn<bool>("setByQuery");

    const std::pair<const char *, StateChange> ways[] = {
        {"click on the box", StateChange::Mouse},
        {"click on the caption", StateChange::MouseOnCaption},
        {"space bar", StateChange::Keyboard},
        {"accessible Toggle action", StateChange::AccessibleToggle},
    };
    for (const auto &[name, way] : ways) {
        QTest::addRow("%s, bit set", name) << way << true;
        QTest::addRow("%s, bit clear", name) << way << false;
    }
}

// The indicators show only what the last query set: whatever the user does to one, it keeps its
// state, and nothing else happens.
void TestForm1::indicatorsTakeNoStateFromTheUser()
{
    QFETCH(StateChange, way);
    QFETCH(bool, setByQuery);

    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    // Delivery Jam (bit 8, the first in the focus order) and Paper Low (bit 4).
    library.script(setByQuery ? 0x0110 : 0x0000, 0);
    WindowRig rig;
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    rig.query();
    const QList<int> checked = setByQuery ? QList<int>{4, 8} : QList<int>();
    QCOMPARE(rig.checkedIndicators(), checked);

    for (const int bit : {8, 4}) {
        QCheckBox *indicator = rig.indicator(bit);
        QSignalSpy toggled(indicator, &QCheckBox::toggled);
        QSignalSpy clicked(indicator, &QCheckBox::clicked);
        tryStateChange(indicator, way);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(indicator->isChecked(), setByQuery);
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(clicked.count(), 0);
    }
    QCOMPARE(rig.checkedIndicators(), checked);
    QCOMPARE(rig.logLines().size(), 1);
    QCOMPARE(library.lmCalls(), 1);
    QVERIFY(rig.messages.shown.isEmpty());

    // The next query still sets them.
    library.script(setByQuery ? 0x0000 : 0x0110, 0);
    rig.query();
    const QList<int> afterNext = setByQuery ? QList<int>() : QList<int>{4, 8};
    QCOMPARE(rig.checkedIndicators(), afterNext);
}

// To assistive technology each indicator is a read-only check box that says its caption and its
// state, and offers no action that would change it.
void TestForm1::indicatorsAreReadOnlyToAssistiveTechnology()
{
    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    library.script(0x8001, 0);
    WindowRig rig;
    rig.window.Form_Load();
    rig.query();

    for (int bit = 0; bit < ravelin::StatusBitCount; ++bit) {
        QCheckBox *indicator = rig.indicator(bit);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(indicator);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::CheckBox);
        QCOMPARE(accessible->text(QAccessible::Name),
                 QString::fromLatin1(ravelin::StatusBitCaptions[static_cast<std::size_t>(bit)]));
        const QAccessible::State state = accessible->state();
        QVERIFY(state.readOnly);
        QVERIFY(state.checkable);
        QCOMPARE(bool(state.checked), bit == 0 || bit == 15);
        QVERIFY(state.focusable);
        QVERIFY(!state.disabled);
        const QStringList actions = accessibleActions(indicator);
        QVERIFY2(!actions.contains(QAccessibleActionInterface::toggleAction()),
                 qPrintable(actions.join(u", "_s)));
        QVERIFY2(!actions.contains(QAccessibleActionInterface::pressAction()),
                 qPrintable(actions.join(u", "_s)));
    }
}

void TestForm1::indicatorsLookLikeCheckBoxes_data()
{
    QTest::addColumn<bool>("checked");
    QTest::newRow("unchecked") << false;
    QTest::newRow("checked") << true;
}

// An indicator is drawn exactly as an ordinary check box in its place.
void TestForm1::indicatorsLookLikeCheckBoxes()
{
    QFETCH(bool, checked);

    WindowRig rig;
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QCheckBox *indicator = rig.indicator(12);
    indicator->setChecked(checked);
    QCheckBox plain(indicator->text(), indicator->parentWidget());
    plain.setGeometry(indicator->geometry());
    plain.setChecked(checked);
    plain.show();
    QCOMPARE(indicator->grab().toImage(), plain.grab().toImage());
}

void TestForm1::logKeepsTheNewest99_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("actions");
    QTest::addColumn<bool>("distinct");

    QTest::newRow("empty log, one action") << 0 << 1 << true;
    QTest::newRow("98 lines, one action: 99 stand") << 98 << 1 << true;
    QTest::newRow("99 lines, one action: the oldest goes") << 99 << 1 << true;
    QTest::newRow("99 lines, two actions: the two oldest go") << 99 << 2 << true;
    QTest::newRow("equal lines are all kept") << 98 << 1 << false;
}

void TestForm1::logKeepsTheNewest99()
{
    QFETCH(int, before);
    QFETCH(int, actions);
    QFETCH(bool, distinct);

    StatusDoubleClient library(STATUS_DOUBLE_PATH);
    WindowRig rig;
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const auto *log = rig.control<QListWidget>(u"ListStatus"_s);

    // Each action reports a word of its own (bits 16 up carry no names), so each line shows
    // where it came from.
    QStringList produced;
    for (int action = 1; action <= before + actions; ++action) {
        library.script(distinct ? action << 16 : 0x0010, 0);
        rig.query();
        produced.append(log->item(log->count() - 1)->text());
    }

    const int kept = std::min(before + actions, 99);
    QCOMPARE(rig.logLines(), produced.mid(produced.size() - kept));
    QCOMPARE(log->currentRow(), kept - 1);
    QCOMPARE(log->selectedItems(), QList<QListWidgetItem *>{log->item(kept - 1)});
    QVERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(kept - 1))));
}

void TestForm1::aboutBox()
{
    WindowRig rig;
    rig.window.Form_Load();
    rig.window.findChild<QAction *>(u"mnuFileAbout"_s)->trigger();

    const QString expected = QString(2, u' ') +
                             u"Quorvel QVT-7400 Series Printer Language Monitor Demo.\r\n"_s +
                             QString(23, u' ') + u"Version 2.1\r\n"_s + u"\r\n"_s +
                             u"This Demo requests printer status from the QVT-7400 Series \r\n"_s +
                             u"Printers using the Quorvel Printer Status Language Monitor."_s;
    QCOMPARE(rig.messages.shown.size(), 1);
    QCOMPARE(rig.messages.shown[0].text, expected);
    QCOMPARE(rig.messages.shown[0].icon, MessageBox::Icon::None);
    QCOMPARE(rig.messages.shown[0].caption, u"Ravelin"_s);
    QCOMPARE(rig.logLines(), QStringList());
}

void TestForm1::realMessageBox_data()
{
    QTest::addColumn<MessageBox::Icon>("icon");
    QTest::addColumn<QMessageBox::Icon>("shownIcon");

    QTest::newRow("critical stop") << MessageBox::Icon::Critical << QMessageBox::Critical;
    QTest::newRow("no icon") << MessageBox::Icon::None << QMessageBox::NoIcon;
}

void TestForm1::realMessageBox()
{
    QFETCH(MessageBox::Icon, icon);
    QFETCH(QMessageBox::Icon, shownIcon);

    QWidget owner;
    ravelin::ModalMessageBox messages(&owner);
    // Text from outside the program, such as a loader's message, is shown as it stands.
    const QString text = u"libQVLMSTAT.so: <b>not</b> found & more"_s;
    const auto box = messages.create(text, icon, u"Ravelin"_s);

    QCOMPARE(box->icon(), shownIcon);
    QCOMPARE(box->text(), text);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->windowTitle(), u"Ravelin"_s);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box->parentWidget(), &owner);
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
}

void TestForm1::realMessageBoxWaitsForOk()
{
    QWidget owner;
    ravelin::ModalMessageBox messages;
    messages.setOwner(&owner);
    bool shownModal = false;
    QTimer::singleShot(0, &owner, [&] {
        if (auto *box = owner.findChild<QMessageBox *>()) {
            shownModal = box->isVisible() && QApplication::activeModalWidget() == box;
            box->button(QMessageBox::Ok)->click();
        }
    });
    messages.show(u"Invalid Printer Selected!"_s, MessageBox::Icon::Critical, u"Ravelin"_s);
    QVERIFY(shownModal);
    QVERIFY(!owner.findChild<QMessageBox *>());
}

// CTest runs this program a second time with QT_SCALE_FACTOR=2 for this test and the layout
// tests after it, as on a screen of twice the resolution: the window must then really be drawn
// at twice the pixels, or those runs would prove nothing.
void TestForm1::drawnAtTheScaleAsked()
{
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                            ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                            : 1.0;
    WindowRig rig;
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));

    QCOMPARE(rig.window.devicePixelRatio(), scale);
    const QPixmap drawn = rig.window.grab();
    QCOMPARE(drawn.size(), rig.window.size() * scale);
    QCOMPARE(rig.window.centralWidget()->size(), QSize(584, 472));
}

void TestForm1::captionsFit_data()
{
    QTest::addColumn<QString>("name");
    for (const ravelin::ControlDesign &control : ravelin::Form1Design) {
        // The controls that show a caption or, for the interval box, the presets of its list.
        const bool showsText = control.kind != ravelin::ControlKind::Timer &&
                               control.kind != ravelin::ControlKind::ListBox && *control.caption;
        if (!showsText)
            continue;
        const QString name = QString::fromUtf8(control.name);
        QTest::addRow("%s \"%s\"", control.name, control.caption) << name;
    }
}

// Each caption fits the room its control gives it under the program's own font, so no caption
// is cut off or drawn over another control.
void TestForm1::captionsFit()
{
    QFETCH(QString, name);

    WindowRig rig;
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    QWidget *widget = rig.control(name);
    const QFontMetrics metrics = widget->fontMetrics();
    QStyle *style = widget->style();

    if (auto *button = qobject_cast<ravelin::WrappingPushButton *>(widget)) {
        const QRect room = button->captionRect();
        const QRect needed =
            metrics.boundingRect(room, ravelin::WrappingPushButton::CaptionFlags, button->text());
        QVERIFY2(room.contains(needed), qPrintable(u"%1 needs %2x%3 in %4x%5"_s.arg(button->text())
                                                       .arg(needed.width())
                                                       .arg(needed.height())
                                                       .arg(room.width())
                                                       .arg(room.height())));
        QVERIFY(button->rect().contains(room));
    } else if (auto *box = qobject_cast<QCheckBox *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        const QRect room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        const QRect mark = style->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        QVERIFY2(metrics.horizontalAdvance(box->text()) <= room.width(),
                 qPrintable(u"%1 needs %2 of %3"_s.arg(box->text())
                                .arg(metrics.horizontalAdvance(box->text()))
                                .arg(room.width())));
        QVERIFY(metrics.height() <= room.height());
        QVERIFY(box->rect().contains(room));
        QVERIFY(box->rect().contains(mark));
    } else if (auto *frame = qobject_cast<QGroupBox *>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
        QVERIFY(metrics.horizontalAdvance(frame->title()) <= title.width());
        QVERIFY(metrics.height() <= title.height());
        QVERIFY(frame->rect().contains(title));
        // No control of the frame covers its title.
        for (const QWidget *child : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            QVERIFY2(!child->geometry().intersects(title), qPrintable(child->objectName()));
    } else if (auto *label = qobject_cast<QLabel *>(widget)) {
        QVERIFY(metrics.horizontalAdvance(label->text()) <= label->contentsRect().width());
        QVERIFY(metrics.height() <= label->contentsRect().height());
    } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        // Every entry of the list fits the text field.
        const QRect room = combo->lineEdit()->contentsRect();
        const int margin = 2; // QLineEdit's own margin on either side of the text
        for (int i = 0; i < combo->count(); ++i) {
            QVERIFY2(metrics.horizontalAdvance(combo->itemText(i)) + 2 * margin <= room.width(),
                     qPrintable(combo->itemText(i)));
        }
    } else {
        QFAIL("a kind of control this test does not know");
    }
}

void TestForm1::namesForTestsAndScreenReaders()
{
    WindowRig rig;
    rig.window.Form_Load();

    for (const ravelin::ControlDesign &control : ravelin::Form1Design) {
        if (control.kind == ravelin::ControlKind::Timer)
            continue;
        const QWidget *widget = rig.control(QString::fromUtf8(control.name));
        QVERIFY2(!widget->accessibleName().isEmpty(), control.name);
        if (control.kind != ravelin::ControlKind::ComboBox &&
            control.kind != ravelin::ControlKind::ListBox) {
            QCOMPARE(widget->accessibleName(), QString::fromUtf8(control.caption));
        }
    }
    QCOMPARE(rig.control(u"ListStatus"_s)->accessibleName(),
             u"Printer Data Received From Language Monitor"_s);
    QCOMPARE(rig.control(u"ComboPrintersList"_s)->accessibleName(), u"Printer"_s);
    QCOMPARE(rig.control(u"comboParallelInterval"_s)->accessibleName(), u"Interval (ms)"_s);

    // No access keys, no shortcut keys.
    QStringList captions;
    for (const auto *button : rig.window.findChildren<QAbstractButton *>())
        captions.append(button->text());
    for (const auto *frame : rig.window.findChildren<QGroupBox *>())
        captions.append(frame->title());
    for (const auto *label : rig.window.findChildren<QLabel *>())
        captions.append(label->text());
    for (const auto *menu : rig.window.findChildren<QMenu *>()) {
        captions.append(menu->title());
        for (const QAction *action : menu->actions()) {
            captions.append(action->text());
            QVERIFY2(action->shortcuts().isEmpty(), qPrintable(action->text()));
        }
    }
    QCOMPARE(captions.filter(u"&"_s), QStringList());
    QCOMPARE(rig.window.findChild<QMenu *>(u"mnuFile"_s)->actions().size(), 2);
    QCOMPARE(rig.window.findChild<QMenu *>(u"mnuFile"_s)->actions()[0]->objectName(),
             u"mnuFileAbout"_s);
}

void TestForm1::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("place");

    QTest::newRow("query button, in the window")
        << u"cmdRetreivePrinterStatus"_s << u"Form1Client"_s << QRect(136, 96, 113, 41);
    QTest::newRow("polling switch beside it, the same size")
        << u"chkEnableStatusPolling"_s << u"Form1Client"_s << QRect(256, 96, 113, 41);
    QTest::newRow("printer box, in its frame")
        << u"ComboPrintersList"_s << u"FrameParallelPortSettings"_s << QRect(8, 24, 321, 21);
    QTest::newRow("bit 8 tops the right column")
        << u"chkStatus_8"_s << u"Frame1"_s << QRect(168, 16, 105, 13);
    QTest::newRow("bit 7 ends the left column")
        << u"chkStatus_7"_s << u"Frame1"_s << QRect(16, 128, 105, 13);
    QTest::newRow("log, in its frame") << u"ListStatus"_s << u"Frame2"_s << QRect(8, 16, 553, 69);
}

void TestForm1::geometry()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, place);

    WindowRig rig;
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const QWidget *widget = rig.control(name);
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(widget->geometry(), place);
}

void TestForm1::opensCentredAtFixedSize()
{
    WindowRig rig;
    rig.window.Form_Load();
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));

    QCOMPARE(rig.window.centralWidget()->size(), QSize(584, 472));
    QCOMPARE(rig.window.centralWidget()->y(), rig.window.menuBar()->height());
    QCOMPARE(rig.window.minimumSize(), rig.window.size());
    QCOMPARE(rig.window.maximumSize(), rig.window.size());
    // Placed before the window system adds its frame: centred within the frame's thickness.
    const QRect outer = rig.window.frameGeometry();
    const QPoint offset = outer.center() - rig.window.screen()->availableGeometry().center();
    QVERIFY2(std::abs(offset.x()) <= outer.width() - rig.window.width() &&
                 std::abs(offset.y()) <= outer.height() - rig.window.height(),
             qPrintable(u"off centre by %1, %2"_s.arg(offset.x()).arg(offset.y())));
}

void TestForm1::programEnds_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("mention");

    const QString library = QString::fromUtf8(STATUS_DOUBLE_PATH);
    QTest::newRow("Exit button") << QStringList{u"exit-button"_s, library} << 0 << QString();
    QTest::newRow("File menu Exit") << QStringList{u"exit-menu"_s, library} << 0 << QString();
    QTest::newRow("window closed") << QStringList{u"close"_s, library} << 0 << QString();
    QTest::newRow("query with the status library missing")
        << QStringList{u"query"_s, u"/nonexistent/ravelin/libQVLMSTAT.so"_s} << 1
        << u"libQVLMSTAT.so"_s;
    QTest::newRow("query with GetLMStatus missing from the library")
        << QStringList{u"query"_s, QString::fromUtf8(STATUS_DOUBLE_WITHOUT_LM_PATH)} << 1
        << u"GetLMStatus"_s;
}

void TestForm1::programEnds()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, mention);

    QString output;
    if (!runProbe(FORM1_PROBE_PATH, arguments, exitCode, output))
        return;
    if (mention.isEmpty()) {
        QVERIFY2(output.endsWith(u"event loop returned 0\n"_s), qPrintable(output));
        QVERIFY2(!output.contains(u"box caption="_s), qPrintable(output));
    } else {
        // A failure ends the program right after its message, without going back to the loop.
        QCOMPARE(output.count(u"box caption=Ravelin icon=critical\n"_s), 1);
        QVERIFY2(output.contains(mention), qPrintable(output));
    }
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
