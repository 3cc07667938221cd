// SPDX-License-Identifier: MIT
#pragma once

#include <QListWidget>

namespace ravelin {

// The status log's list box: a QListWidget that measures each line once, when it is added, that
// is never left without a layout between two events, and that moves a screen reader's focus only
// while it has the keyboard focus itself.
//
// Measuring: left to itself, the list asks its delegate for the size of every line whenever it
// lays itself out, and it does so after every addition and every removal: with 99 lines of text
// that is two hundred text layouts per query, nearly all of the query's cost. A line never
// changes once it is in the log, so its size is measured as the list itself would measure it,
// when it arrives, and kept on the item; the layout then reads the kept sizes. A change of font
// or style, which changes the sizes, measures every line again.
//
// Layout: the toolkit's list throws its layout away when a line is added or removed and lays the
// lines out again only on a later pass of the event loop. Anything that draws the list before
// that pass, a repaint or a grab of the window, draws it empty: when polling at a period of a
// millisecond or two, most of what reached the screen was an empty log. Each addition and
// removal is laid out at once instead, so the list can be drawn at any moment.
//
// Focus: the log's current line follows every query. The toolkit's list announces each move of
// its current line to assistive technology as a move of the focus, even when the keyboard focus
// is elsewhere, so a screen reader jumped to the log and read its newest line at every poll.
// Such moves are announced only while the list has the keyboard focus, where the user is reading
// it; a new line is announced once, by the rows-inserted notice the list gives for every line.
class StatusListBox final : public QListWidget
{
    Q_OBJECT

public:
    explicit StatusListBox(QWidget *parent = nullptr);

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void changeEvent(QEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    void measureRows(int first, int last);
};

} // namespace ravelin
