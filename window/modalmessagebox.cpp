// SPDX-License-Identifier: MIT
#include "modalmessagebox.h"

#include <QMessageBox>

namespace ravelin {

ModalMessageBox::ModalMessageBox(QWidget *owner)
    : m_owner(owner)
{}

void ModalMessageBox::setOwner(QWidget *owner)
{
    m_owner = owner;
}

std::unique_ptr<QMessageBox> ModalMessageBox::create(const QString &text, Icon icon,
                                                     const QString &caption) const
{
    auto box = std::make_unique<QMessageBox>(icon == Icon::Critical ? QMessageBox::Critical
                                                                    : QMessageBox::NoIcon,
                                             caption, text, QMessageBox::Ok, m_owner.data());
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void ModalMessageBox::show(const QString &text, Icon icon, const QString &caption)
{
    create(text, icon, caption)->exec();
}

} // namespace ravelin
