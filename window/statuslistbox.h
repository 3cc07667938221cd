// SPDX-License-Identifier: MIT
#pragma once

#include <QListWidget>

namespace ravelin {

// The status log's list box: a QListWidget that measures each line once, when it is added.
//
// Left to itself, the list asks its delegate for the size of every line whenever it lays itself
// out, and it does so after every addition and every removal: with 99 lines of text that is two
// hundred text layouts per query, nearly all of the query's cost. A line never changes once it
// is in the log, so its size is measured as the list itself would measure it, when it arrives,
// and kept on the item; the layout then reads the kept sizes. A change of font or style, which
// changes the sizes, measures every line again.
class StatusListBox final : public QListWidget
{
    Q_OBJECT

public:
    explicit StatusListBox(QWidget *parent = nullptr);

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void changeEvent(QEvent *event) override;

private:
    void measureRows(int first, int last);
};

} // namespace ravelin
