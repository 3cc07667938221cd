// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

namespace ravelin {

// A push button whose caption wraps at word boundaries over as many lines as the button needs,
// centred, as a classic push button draws it. text() stays the caption exactly as given: the
// line breaks are made only when drawing, so screen readers and tests read the caption itself.
class WrappingPushButton : public QPushButton
{
    Q_OBJECT

public:
    explicit WrappingPushButton(const QString &caption, QWidget *parent = nullptr);

    static constexpr int CaptionFlags = Qt::AlignCenter | Qt::TextWordWrap;
    // Where the caption is drawn, with CaptionFlags, in the button's current state.
    QRect captionRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace ravelin
