// SPDX-License-Identifier: MIT
#include "statusindicator.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>

namespace ravelin {

namespace {

// The indicator as assistive technology sees it: a check box, checked or not, that is read-only
// and offers no action but taking the focus. (The toolkit's own check box offers Toggle.)
class AccessibleStatusIndicator final : public QAccessibleWidget
{
public:
    explicit AccessibleStatusIndicator(StatusIndicator *indicator)
        : QAccessibleWidget(indicator, QAccessible::CheckBox)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return indicator()->text();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = indicator()->isChecked();
        state.readOnly = true;
        return state;
    }

private:
    const StatusIndicator *indicator() const { return static_cast<StatusIndicator *>(widget()); }
};

QAccessibleInterface *accessibleStatusIndicator(const QString &className, QObject *object)
{
    if (className != QLatin1StringView(StatusIndicator::staticMetaObject.className()))
        return nullptr;
    auto *indicator = qobject_cast<StatusIndicator *>(object);
    return indicator ? new AccessibleStatusIndicator(indicator) : nullptr;
}

} // namespace

StatusIndicator::StatusIndicator(const QString &caption, QWidget *parent)
    : QCheckBox(caption, parent)
{
    // The toolkit asks its factories for an object's interface when assistive technology first
    // asks about the object; this one answers for indicators, for the whole process.
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&accessibleStatusIndicator);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

bool StatusIndicator::hitButton(const QPoint &) const
{
    return false;
}

// The keys that would press a check box are passed on unused, like any other key it does not
// take; Tab and the rest work as for any check box.
void StatusIndicator::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) {
        event->ignore();
        return;
    }
    QCheckBox::keyPressEvent(event);
}

} // namespace ravelin
