// SPDX-License-Identifier: MIT
#pragma once

#include "messagebox.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QMessageBox;

namespace ravelin {

// The program's message box: modal, an OK button only, the critical-stop icon or none, centred
// over the window it belongs to. The text is shown as plain text, exactly as given.
class ModalMessageBox final : public MessageBox
{
public:
    explicit ModalMessageBox(QWidget *owner = nullptr);
    // The window the boxes belong to; it may be set once that window exists.
    void setOwner(QWidget *owner);

    void show(const QString &text, Icon icon, const QString &caption) override;

    // The box that show() runs, not yet shown.
    std::unique_ptr<QMessageBox> create(const QString &text, Icon icon,
                                        const QString &caption) const;

private:
    QPointer<QWidget> m_owner;
};

} // namespace ravelin
