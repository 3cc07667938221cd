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
// The status indicators, which must take none of these, are clicked on their caption too.
enum class StateChange { Mouse, Keyboard, AccessibleToggle, MouseOnCaption };
Q_DECLARE_METATYPE(StateChange)

inline void addStateChangeRows()
{
    QTest::addColumn<StateChange>("way");
    QTest::newRow("mouse click") << StateChange::Mouse;
    QTest::newRow("space bar") << StateChange::Keyboard;
    QTest::newRow("accessible Toggle action") << StateChange::AccessibleToggle;
}

// Does what a person does to change the button's state the given way, in a shown window, and
// leaves the outcome to the caller. An accessible action is asked for even when the button does
// not offer it, as a tool that assumes it would.
inline void tryStateChange(QAbstractButton *button, StateChange way)
{
    // On the box of a check box, or on its caption, which is clickable too; its empty rest is
    // not. A push button anywhere.
    const auto pointOf = [button](QStyle::SubElement element) {
        auto *box = qobject_cast<QCheckBox *>(button);
        if (!box)
            return button->rect().center();
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        return box->style()->subElementRect(element, &option, box).center();
    };
    switch (way) {
    case StateChange::Mouse:
        QTest::mouseClick(button, Qt::LeftButton, {}, pointOf(QStyle::SE_CheckBoxIndicator));
        break;
    case StateChange::MouseOnCaption:
        QTest::mouseClick(button, Qt::LeftButton, {}, pointOf(QStyle::SE_CheckBoxContents));
        break;
    case StateChange::Keyboard:
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        break;
    case StateChange::AccessibleToggle: {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
        QVERIFY(accessible);
        if (QAccessibleActionInterface *actions = accessible->actionInterface())
            actions->doAction(QAccessibleActionInterface::toggleAction());
        break;
    }
    }
}

// The accessible actions the button offers.
inline QStringList accessibleActions(QAbstractButton *button)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
    QAccessibleActionInterface *actions = accessible ? accessible->actionInterface() : nullptr;
    return actions ? actions->actionNames() : QStringList();
}

// Changes the button's state the given way, in a shown window, and checks that it changed.
inline void changeState(QAbstractButton *button, StateChange way)
{
    const bool before = button->isChecked();
    if (way == StateChange::AccessibleToggle) {
        const QStringList actions = accessibleActions(button);
        QVERIFY2(actions.contains(QAccessibleActionInterface::toggleAction()),
                 qPrintable(actions.join(u", "_s)));
    }
    tryStateChange(button, way);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(button->isChecked(), !before);
}
