#include "app/ScreenSpace.h"

#include <QGuiApplication>
#include <QScreen>

namespace nimbel {

ScreenSpace::ScreenSpace(const QRectF &primaryGeometry)
    : m_originX(primaryGeometry.left())
    , m_flipLine(primaryGeometry.top() + primaryGeometry.height())
{
}

panel::Rect ScreenSpace::fromQt(const QRectF &rect) const
{
    return {rect.left() - m_originX, m_flipLine - (rect.top() + rect.height()), rect.width(), rect.height()};
}

QRectF ScreenSpace::toQt(const panel::Rect &rect) const
{
    return {rect.x + m_originX, m_flipLine - (rect.y + rect.height), rect.width, rect.height};
}

panel::Point ScreenSpace::fromQt(const QPointF &point) const
{
    return {point.x() - m_originX, m_flipLine - point.y()};
}

QPointF ScreenSpace::toQt(const panel::Point &point) const
{
    return {point.x + m_originX, m_flipLine - point.y};
}

panel::ScreenLayout ScreenSpace::layout(const QList<QScreen *> &screens, const QScreen *primary) const
{
    panel::ScreenLayout result;
    for (const QScreen *screen : screens) {
        if (screen == primary)
            result.mainIndex = result.screens.size();
        result.screens.append({fromQt(QRectF(screen->geometry())), fromQt(QRectF(screen->availableGeometry()))});
    }
    return result;
}

ScreenSpace ScreenSpace::current()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    return ScreenSpace(primary ? QRectF(primary->geometry()) : QRectF());
}

} // namespace nimbel
