// SPDX-License-Identifier: MIT
#include "form1design.h"

#include "pollingtimer.h"
#include "statusindicator.h"
#include "statuslistbox.h"
#include "wrappingpushbutton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ravelin {

namespace {

QString text(const char *designText)
{
    return designText ? QString::fromUtf8(designText) : QString();
}

QRect pixelRect(const ControlDesign &control)
{
    return QRect(pixelsFromTwips(control.left), pixelsFromTwips(control.top),
                 pixelsFromTwips(control.width), pixelsFromTwips(control.height));
}

QComboBox *createComboBox(QWidget *parent, const QString &startText)
{
    auto *box = new QComboBox(parent);
    box->setEditable(true);
    // What the user types stays what the box says: no inline completion from the list, and
    // Enter does not add the text to the list.
    box->setCompleter(nullptr);
    box->setInsertPolicy(QComboBox::NoInsert);
    // Only a pick from the list selects an entry and emits activated(). Left to itself, the box
    // also selects the entry that matches a typed text when Enter is pressed or the text loses
    // the focus, and opening the list takes the focus from the text, so that merely opening it
    // could "pick" the entry that matches the text shown.
    QObject::disconnect(box->lineEdit(), &QLineEdit::returnPressed, box, nullptr);
    QObject::disconnect(box->lineEdit(), &QLineEdit::editingFinished, box, nullptr);
    box->setEditText(startText);
    return box;
}

QWidget *createWidget(const ControlDesign &control, QWidget *parent)
{
    const QString caption = text(control.caption);
    switch (control.kind) {
    case ControlKind::Frame:
        return new QGroupBox(caption, parent);
    case ControlKind::Label: {
        auto *label = new QLabel(caption, parent);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        return label;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(caption, parent);
    case ControlKind::Indicator:
        return new StatusIndicator(caption, parent);
    case ControlKind::PushButton:
        return new WrappingPushButton(caption, parent);
    case ControlKind::ToggleButton: {
        auto *button = new WrappingPushButton(caption, parent);
        button->setCheckable(true);
        return button;
    }
    case ControlKind::ComboBox:
        return createComboBox(parent, caption);
    case ControlKind::ListBox: {
        auto *list = new StatusListBox(parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled(false);
        return list;
    }
    case ControlKind::Timer:
        break;
    }
    return nullptr;
}

template <typename T> T *find(const QHash<QString, QObject *> &created, const QString &name)
{
    auto *object = qobject_cast<T *>(created.value(name));
    if (!object)
        qFatal("The window's design has no control %s of the expected kind", qPrintable(name));
    return object;
}

} // namespace

Form1Controls createForm1Controls(QMainWindow &window)
{
    window.setWindowTitle(QString::fromUtf16(Form1Caption));

    QMenu *menu = window.menuBar()->addMenu(text(MenuFile.caption));
    menu->setObjectName(text(MenuFile.name));
    QHash<QString, QObject *> created;
    for (const MenuEntryDesign &entry : MenuFileEntries) {
        QAction *action = menu->addAction(text(entry.caption));
        action->setObjectName(text(entry.name));
        created.insert(action->objectName(), action);
    }

    auto *client = new QWidget(&window);
    client->setObjectName(u"Form1Client"_s);
    client->setFixedSize(pixelsFromTwips(Form1ClientWidth), pixelsFromTwips(Form1ClientHeight));
    window.setCentralWidget(client);
    // The window takes the size of its menu bar and client area, and keeps it.
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);

    for (const ControlDesign &control : Form1Design) {
        const QString name = text(control.name);
        if (control.kind == ControlKind::Timer) {
            auto *timer = new PollingTimer(&window);
            timer->setObjectName(name);
            created.insert(name, timer);
            continue;
        }
        QWidget *container =
            control.container ? find<QWidget>(created, text(control.container)) : client;
        QWidget *widget = createWidget(control, container);
        widget->setObjectName(name);
        widget->setGeometry(pixelRect(control));
        widget->setEnabled(control.enabled);
        widget->setAccessibleName(text(control.caption));
        created.insert(name, widget);
    }
    // A control without a caption of its own is named after its frame or label.
    for (const ControlDesign &control : Form1Design) {
        if (!control.labelledBy)
            continue;
        auto *widget = find<QWidget>(created, text(control.name));
        auto *label = find<QWidget>(created, text(control.labelledBy));
        widget->setAccessibleName(label->accessibleName());
        if (auto *textLabel = qobject_cast<QLabel *>(label))
            textLabel->setBuddy(widget);
    }

    // The focus order of the design. Controls that cannot take the focus (frames, the label)
    // hold places in it but are left out of the chain; disabled ones are passed over by Qt.
    std::array<const ControlDesign *, Form1Design.size()> byTabIndex{};
    std::transform(Form1Design.begin(), Form1Design.end(), byTabIndex.begin(),
                   [](const ControlDesign &control) { return &control; });
    std::stable_sort(
        byTabIndex.begin(), byTabIndex.end(),
        [](const ControlDesign *a, const ControlDesign *b) { return a->tabIndex < b->tabIndex; });
    QWidget *previous = nullptr;
    QWidget *first = nullptr;
    for (const ControlDesign *control : byTabIndex) {
        if (control->tabIndex == NoFocus)
            continue;
        auto *widget = find<QWidget>(created, text(control->name));
        if (widget->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, widget);
        else
            first = widget;
        previous = widget;
    }
    // The first control in the focus order has the focus when the window opens.
    if (first)
        first->setFocus(Qt::OtherFocusReason);

    Form1Controls controls;
    for (std::size_t i = 0; i < controls.chkStatus.size(); ++i)
        controls.chkStatus[i] = find<QCheckBox>(created, u"chkStatus_%1"_s.arg(i));
    controls.chkUsePrinterSelected = find<QCheckBox>(created, u"chkUsePrinterSelected"_s);
    controls.ComboPrintersList = find<QComboBox>(created, u"ComboPrintersList"_s);
    controls.comboParallelInterval = find<QComboBox>(created, u"comboParallelInterval"_s);
    controls.ListStatus = find<QListWidget>(created, u"ListStatus"_s);
    controls.cmdRetreivePrinterStatus = find<QPushButton>(created, u"cmdRetreivePrinterStatus"_s);
    controls.chkEnableStatusPolling = find<QPushButton>(created, u"chkEnableStatusPolling"_s);
    controls.cmdExit = find<QPushButton>(created, u"cmdExit"_s);
    controls.tmrPrinterStatusPoll = find<PollingTimer>(created, u"tmrPrinterStatusPoll"_s);
    controls.mnuFileAbout = find<QAction>(created, u"mnuFileAbout"_s);
    controls.mnuFileExit = find<QAction>(created, u"mnuFileExit"_s);
    return controls;
}

} // namespace ravelin
