// SPDX-License-Identifier: MIT
#pragma once

#include "fakes.h"
#include "form1.h"
#include "statuslibrary.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>

using namespace Qt::StringLiterals;

inline const QDateTime When(QDate(2026, 3, 5), QTime(14, 7, 9));
inline const QLocale UsEnglish(QLocale::English, QLocale::UnitedStates);
// The report line's time, as that clock and locale give it.
inline const QString Time = u"3/5/26 2:07:09 PM"_s;

// The window as the program opens it, over a fixed printer list, a status library double, a
// message box that records, a clock and a fixed locale. The window's tests and the benchmarks
// share it. The clock stands at When, unless the system's is asked for: the benchmarks take it,
// so that each report line costs what the program's does.
struct WindowRig
{
    enum class Timing { Fixed, System };

    explicit WindowRig(QStringList installed = {},
                       QStringList libraryCandidates = {QString::fromUtf8(STATUS_DOUBLE_PATH)},
                       Timing timing = Timing::Fixed)
        : printers(std::move(installed))
        , library(std::move(libraryCandidates))
        , window(printers, library, messages,
                 timing == Timing::System ? static_cast<const ravelin::Clock &>(systemClock)
                                          : clock,
                 locale)
    {}

    template <typename T = QWidget> T *control(const QString &name) const
    {
        auto *found = window.findChild<T *>(name);
        if (!found)
            qFatal("No control %s", qPrintable(name));
        return found;
    }
    QCheckBox *indicator(int bit) const { return control<QCheckBox>(u"chkStatus_%1"_s.arg(bit)); }
    QList<int> checkedIndicators() const
    {
        QList<int> checked;
        for (int bit = 0; bit < ravelin::StatusBitCount; ++bit) {
            if (indicator(bit)->isChecked())
                checked.append(bit);
        }
        return checked;
    }
    QStringList logLines() const
    {
        const auto *list = control<QListWidget>(u"ListStatus"_s);
        QStringList lines;
        for (int row = 0; row < list->count(); ++row)
            lines.append(list->item(row)->text());
        return lines;
    }
    QStringList items(const QString &comboBox) const
    {
        const auto *box = control<QComboBox>(comboBox);
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts.append(box->itemText(i));
        return texts;
    }
    void query() const { control<QPushButton>(u"cmdRetreivePrinterStatus"_s)->click(); }

    FixedPrinters printers;
    ravelin::StatusLibrary library;
    RecordingMessageBox messages;
    FixedClock clock{When};
    const ravelin::SystemClock systemClock;
    const QLocale locale = UsEnglish;
    ravelin::Form1 window;
};

// The ways a person changes a check box: a click, the space bar, or the Toggle action that a
// screen reader, voice control or switch access performs through the accessibility interface.
// (That interface offers a check box, even one drawn as a push button, Toggle and no Press.)
enum class StateChange { Mouse, Keyboard, AccessibleToggle };
Q_DECLARE_METATYPE(StateChange)

inline void addStateChangeRows()
{
    QTest::addColumn<StateChange>("way");
    QTest::newRow("mouse click") << StateChange::Mouse;
    QTest::newRow("space bar") << StateChange::Keyboard;
    QTest::newRow("accessible Toggle action") << StateChange::AccessibleToggle;
}

// Changes the button's state the given way, in a shown window, and checks that it changed.
inline void changeState(QAbstractButton *button, StateChange way)
{
    const bool before = button->isChecked();
    switch (way) {
    case StateChange::Mouse: {
        // On the box of a check box; a check box's caption is clickable too, but its empty
        // rest is not.
        QPoint point = button->rect().center();
        if (auto *box = qobject_cast<QCheckBox *>(button)) {
            QStyleOptionButton option;
            option.initFrom(box);
            point =
                box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
        }
        QTest::mouseClick(button, Qt::LeftButton, {}, point);
        break;
    }
    case StateChange::Keyboard:
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        break;
    case StateChange::AccessibleToggle: {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
        QVERIFY(accessible);
        QAccessibleActionInterface *actions = accessible->actionInterface();
        QVERIFY(actions);
        const QString toggle = QAccessibleActionInterface::toggleAction();
        QVERIFY2(actions->actionNames().contains(toggle),
                 qPrintable(actions->actionNames().join(u", "_s)));
        actions->doAction(toggle);
        break;
    }
    }
    QCOMPARE(button->isChecked(), !before);
}
