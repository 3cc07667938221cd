// SPDX-License-Identifier: MIT
#pragma once

#include <QCheckBox>

namespace ravelin {

// One of the sixteen status indicators: a check box that shows its status bit as the last query
// set it, and takes no state from the user. It looks like an ordinary check box, sits where the
// window's design puts it and takes the keyboard focus in its place, so that its caption and
// state can be read by keyboard and screen reader alike. But a click, the space bar and the
// actions of assistive technology leave its state alone: a status display that a click can make
// lie is worse than none. To assistive technology it is a read-only check box without a Toggle
// action. Only setChecked() changes it, as each query does.
class StatusIndicator final : public QCheckBox
{
    Q_OBJECT

public:
    explicit StatusIndicator(const QString &caption, QWidget *parent = nullptr);

protected:
    // No point of it presses it: a click, a double click and hovering find no button to press
    // or to highlight. A click still gives it the keyboard focus, as it gives any check box.
    bool hitButton(const QPoint &position) const override;
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace ravelin
