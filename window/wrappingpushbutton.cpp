// SPDX-License-Identifier: MIT
#include "wrappingpushbutton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace ravelin {

WrappingPushButton::WrappingPushButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
{}

QRect WrappingPushButton::captionRect() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    // The caption keeps clear of the button's edges, as a classic push button's does.
    constexpr int Margin = 4;
    QRect rect = style()
                     ->subElementRect(QStyle::SE_PushButtonContents, &option, this)
                     .adjusted(Margin, 0, -Margin, 0);
    // A pressed button shifts its caption the way the style shifts a one-line label.
    if (option.state & (QStyle::State_On | QStyle::State_Sunken)) {
        rect.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                       style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    }
    return rect;
}

void WrappingPushButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    // The style draws the button itself, its frame and its focus mark, without a label...
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    // ...and the caption goes in where the label would have been, wrapped.
    painter.drawItemText(captionRect(), CaptionFlags, option.palette, isEnabled(), caption,
                         QPalette::ButtonText);
}

} // namespace ravelin
