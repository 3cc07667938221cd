// SPDX-License-Identifier: MIT
#include "statuslistbox.h"

#include <QAbstractItemDelegate>
#include <QEvent>
#include <QStyleOptionViewItem>

namespace ravelin {

StatusListBox::StatusListBox(QWidget *parent)
    : QListWidget(parent)
{}

void StatusListBox::rowsInserted(const QModelIndex &parent, int start, int end)
{
    measureRows(start, end);
    QListWidget::rowsInserted(parent, start, end);
}

void StatusListBox::changeEvent(QEvent *event)
{
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        measureRows(0, count() - 1);
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
