#pragma once

#include "app/PanelGeometry.h"

#include <QList>
#include <QPointF>
#include <QRectF>

class QScreen;

namespace nimbel {

// The one boundary between Qt's screen coordinates (origin top-left of the
// virtual desktop, y downwards) and the desktop space of the panel maths
// (origin bottom-left of the primary screen, y upwards).
class ScreenSpace
{
public:
    // `primaryGeometry` is the primary screen's full geometry in Qt coordinates.
    explicit ScreenSpace(const QRectF &primaryGeometry);

    panel::Rect fromQt(const QRectF &rect) const;
    QRectF toQt(const panel::Rect &rect) const;
    panel::Point fromQt(const QPointF &point) const;
    QPointF toQt(const panel::Point &point) const;

    // The connected screens as the panel maths sees them; the primary screen is the main one.
    panel::ScreenLayout layout(const QList<QScreen *> &screens, const QScreen *primary) const;

    // The space of the running desktop (identity flip when there is no screen).
    static ScreenSpace current();

private:
    double m_originX;
    double m_flipLine; // Qt y of the primary screen's bottom edge
};

} // namespace nimbel
