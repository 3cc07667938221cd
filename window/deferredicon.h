// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>
#include <QIconEngine>

#include <functional>

namespace ravelin {

// An icon that is read the first time it is drawn, measured or asked about, and is from then on
// the icon read. Reading some icons costs far more than holding them: a standard icon of the
// style is read through an image reader that first loads every image format plugin installed,
// to ask each whether it reads the file. Widgets take such icons as they are made, for buttons
// that may never be shown.
class DeferredIconEngine final : public QIconEngine
{
public:
    using Reader = std::function<QIcon()>;

    explicit DeferredIconEngine(Reader read);

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QString iconName() override;
    bool isNull() override;
    void addPixmap(const QPixmap &pixmap, QIcon::Mode mode, QIcon::State state) override;
    void addFile(const QString &fileName, const QSize &size, QIcon::Mode mode,
                 QIcon::State state) override;
    QString key() const override;
    QIconEngine *clone() const override;

private:
    QIcon &icon();

    Reader m_read;
    QIcon m_icon;
};

} // namespace ravelin
