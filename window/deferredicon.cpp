// SPDX-License-Identifier: MIT
#include "deferredicon.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace ravelin {

DeferredIconEngine::DeferredIconEngine(Reader read)
    : m_read(std::move(read))
{}

QIcon &DeferredIconEngine::icon()
{
    if (m_read)
        m_icon = std::exchange(m_read, nullptr)();
    return m_icon;
}

// The icon read draws itself in the rectangle it was given, which its own QIcon has already
// fitted to its actual size.
void DeferredIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
                               QIcon::State state)
{
    icon().paint(painter, rect, Qt::AlignCenter, mode, state);
}

// Asked of an engine, sizes are in device pixels, while QIcon's actualSize() takes and gives them
// at the screen's ratio. The icon's pixmap at a ratio of 1 has the size its engine would give.
QSize DeferredIconEngine::actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    return pixmap(size, mode, state).size();
}

QPixmap DeferredIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    return icon().pixmap(size, 1.0, mode, state);
}

// QIcon asks for a size in device pixels at a ratio above 1; its pixmap() takes it in
// device-independent ones.
QPixmap DeferredIconEngine::scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                                         qreal scale)
{
    return icon().pixmap(size / scale, scale, mode, state);
}

QList<QSize> DeferredIconEngine::availableSizes(QIcon::Mode mode, QIcon::State state)
{
    return icon().availableSizes(mode, state);
}

QString DeferredIconEngine::iconName()
{
    return icon().name();
}

bool DeferredIconEngine::isNull()
{
    return icon().isNull();
}

void DeferredIconEngine::addPixmap(const QPixmap &pixmap, QIcon::Mode mode, QIcon::State state)
{
    icon().addPixmap(pixmap, mode, state);
}

void DeferredIconEngine::addFile(const QString &fileName, const QSize &size, QIcon::Mode mode,
                                 QIcon::State state)
{
    icon().addFile(fileName, size, mode, state);
}

QString DeferredIconEngine::key() const
{
    return u"ravelin.DeferredIconEngine"_s;
}

// A copy not yet read reads on its own when it is first used; one already read shares the icon.
QIconEngine *DeferredIconEngine::clone() const
{
    return new DeferredIconEngine(*this);
}

} // namespace ravelin
