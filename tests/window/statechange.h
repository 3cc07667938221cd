// SPDX-License-Identifier: MIT
#pragma once

// How the window's tests change a check box as a person does.

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

using namespace Qt::StringLiterals;

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
