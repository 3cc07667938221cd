// SPDX-License-Identifier: MIT
#include "statuslistbox.h"

#include <QAbstractItemDelegate>
#include <QEvent>
#include <QSignalBlocker>
#include <QStyleOptionViewItem>

namespace ravelin {

StatusListBox::StatusListBox(QWidget *parent)
    : QListWidget(parent)
{
    // Runs after the view's own handling of the removal, which leaves the layout to a later pass.
    connect(model(), &QAbstractItemModel::rowsRemoved, this,
            &StatusListBox::executeDelayedItemsLayout);
}

void StatusListBox::rowsInserted(const QModelIndex &parent, int start, int end)
{
    {
        // The new lines are measured before the view lays them out, so the sizes need no notice
        // of a change of the lines' data: that would only schedule the same layout again and tell
        // assistive technology that the new lines changed.
        const QSignalBlocker quiet(model());
        measureRows(start, end);
    }
    QListWidget::rowsInserted(parent, start, end);
    executeDelayedItemsLayout();
}

void StatusListBox::changeEvent(QEvent *event)
{
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        measureRows(0, count() - 1);
}

void StatusListBox::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    if (hasFocus()) {
        QListWidget::currentChanged(current, previous);
    } else {
        // What the list view adds to this is only the focus notice for assistive technology.
        QAbstractItemView::currentChanged(current, previous);
    }
}

// The size the list's own layout would ask the delegate for, with the options it would use. The
// lines do not wrap, so the layout's bounds do not enter into it.
void StatusListBox::measureRows(int first, int last)
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (int row = first; row <= last; ++row) {
        QListWidgetItem *line = item(row);
        if (!line)
            continue;
        // Forget a size kept before, so that the delegate measures the line afresh.
        if (line->data(Qt::SizeHintRole).isValid())
            line->setData(Qt::SizeHintRole, QVariant());
        const QModelIndex index = indexFromItem(line);
        if (const QAbstractItemDelegate *delegate = itemDelegateForIndex(index))
            line->setSizeHint(delegate->sizeHint(option, index));
    }
}

} // namespace ravelin
