// GLib first: its headers use the word Qt defines as a keyword.
#include <gio/gio.h>

#include "app/HighlightWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdlib>

namespace nimbel {

namespace {

// Ring geometry, in surface units: the gap between target and ring, the ring's
// width and the number's disc, which sits on the ring's top-left corner.
constexpr int gap = 4;
constexpr int band = 5;
constexpr int discRadius = 11;
constexpr int startSpread = 18;
constexpr int margin = gap + band + discRadius + startSpread;

const QColor ringColor(0xff, 0x8a, 0x00);
const QColor edgeColor(Qt::white);

} // namespace

HighlightWindow::HighlightWindow()
{
    setTitle(QStringLiteral("Nimbel highlight"));
    setFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint
             | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
    m_closeIn.setStartValue(startSpread);
    m_closeIn.setEndValue(0);
    m_closeIn.setDuration(260);
    m_closeIn.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_closeIn, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_spread = value.toInt();
        place();
    });
}

bool HighlightWindow::desktopPrefersReducedMotion()
{
    GSettingsSchemaSource *schemas = g_settings_schema_source_get_default();
    if (!schemas)
        return false;
    GSettingsSchema *schema = g_settings_schema_source_lookup(schemas, "org.gnome.desktop.interface", TRUE);
    if (!schema)
        return false;
    bool reduced = false;
    if (g_settings_schema_has_key(schema, "enable-animations")) {
        GSettings *settings = g_settings_new_full(schema, nullptr, nullptr);
        reduced = !g_settings_get_boolean(settings, "enable-animations");
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return reduced;
}

double HighlightWindow::scale() const
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

void HighlightWindow::show(const QRect &target, int number)
{
    if (isVisible() && target == m_target && number == m_number) {
        // A window raised since (the target's own, say) would hide it.
        raise();
        return;
    }
    const bool appearing = !isVisible();
    m_target = target;
    m_number = number;
    if (appearing) {
        m_closeIn.stop();
        m_spread = 0;
        if (!desktopPrefersReducedMotion()) {
            m_spread = startSpread;
            m_closeIn.start();
        }
    }
    place();
    if (appearing)
        QRasterWindow::show();
    raise();
    update();
}

void HighlightWindow::hide()
{
    m_closeIn.stop();
    if (!isVisible())
        return;
    QRasterWindow::hide();
    // A capture taken next, over another connection, must find it gone: the
    // unmap is flushed and the server has handled it before this returns.
    if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_connection_t *c = x11->connection();
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
}

QRect HighlightWindow::ringRect() const
{
    const int out = gap + m_spread;
    return QRect(QPoint(margin, margin), m_target.size()).adjusted(-out - band, -out - band, out + band, out + band);
}

void HighlightWindow::place()
{
    setGeometry(m_target.adjusted(-margin, -margin, margin, margin));
    const QRect ring = ringRect();
    QRegion shape = QRegion(ring) - QRegion(ring.adjusted(band, band, -band, -band));
    const QPoint centre = ring.topLeft() + QPoint(band / 2, band / 2);
    shape += QRegion(QRect(centre - QPoint(discRadius, discRadius), QSize(2 * discRadius, 2 * discRadius)),
                     QRegion::Ellipse);
    setMask(shape);
    update();
}

void HighlightWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect ring = ringRect();
    painter.fillRect(ring, edgeColor);
    painter.fillRect(ring.adjusted(1, 1, -1, -1), ringColor);
    painter.fillRect(ring.adjusted(band - 1, band - 1, -band + 1, -band + 1), edgeColor);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillRect(ring.adjusted(band, band, -band, -band), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const QPointF centre = QPointF(ring.topLeft()) + QPointF(band / 2.0, band / 2.0);
    painter.setPen(QPen(edgeColor, 1.5));
    painter.setBrush(ringColor);
    painter.drawEllipse(centre, discRadius - 1, discRadius - 1);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(centre - QPointF(discRadius, discRadius), QSizeF(2 * discRadius, 2 * discRadius)),
                     Qt::AlignCenter, QString::number(m_number));
}

} // namespace nimbel
