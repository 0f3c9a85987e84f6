#include "screen/linux/X11ScreenGrabber.h"

#include <QPainter>
#include <QtEndian>

#include <xcb/composite.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace nimbel {

namespace {
struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};

const xcb_format_t *formatForDepth(const xcb_setup_t *setup, quint8 depth)
{
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data;
    }
    return nullptr;
}

const xcb_visualtype_t *visualType(const xcb_setup_t *setup, xcb_visualid_t id)
{
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem; xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem; xcb_depth_next(&depths)) {
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
                if (visuals.data->visual_id == id)
                    return visuals.data;
            }
        }
    }
    return nullptr;
}

QString xError(const char *what, const xcb_generic_error_t *error)
{
    return QStringLiteral("The X server could not %1 (error %2).")
        .arg(QLatin1String(what))
        .arg(error ? error->error_code : 0);
}

void blacken(QImage &image, const QRegion &region)
{
    if (region.isEmpty())
        return;
    QPainter painter(&image);
    for (const QRect &r : region)
        painter.fillRect(r, Qt::black);
}
} // namespace

class X11ScreenGrabber::NamedPixmap
{
public:
    NamedPixmap(xcb_connection_t *connection, xcb_pixmap_t pixmap)
        : m_connection(connection)
        , m_pixmap(pixmap)
    {
    }
    NamedPixmap(NamedPixmap &&other) noexcept
        : m_connection(other.m_connection)
        , m_pixmap(std::exchange(other.m_pixmap, XCB_NONE))
    {
    }
    NamedPixmap(const NamedPixmap &) = delete;
    NamedPixmap &operator=(const NamedPixmap &) = delete;
    NamedPixmap &operator=(NamedPixmap &&) = delete;
    ~NamedPixmap()
    {
        if (m_pixmap != XCB_NONE)
            xcb_free_pixmap(m_connection, m_pixmap);
    }
    xcb_pixmap_t id() const { return m_pixmap; }

private:
    xcb_connection_t *m_connection;
    xcb_pixmap_t m_pixmap;
};

X11ScreenGrabber::X11ScreenGrabber(const X11Connection &connection, const X11Scene &scene)
    : m_connection(connection)
    , m_scene(scene)
{
    xcb_connection_t *c = connection.raw();
    const xcb_query_extension_reply_t *composite = xcb_get_extension_data(c, &xcb_composite_id);
    if (composite && composite->present) {
        xcb_generic_error_t *error = nullptr;
        std::unique_ptr<xcb_composite_query_version_reply_t, FreeDeleter> version(
            xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), &error));
        std::free(error);
        // Naming window pixmaps arrived with version 0.2.
        m_composite = version && (version->major_version > 0 || version->minor_version >= 2);
    }
}

Result<QImage, QString> X11ScreenGrabber::read(xcb_drawable_t drawable, const QRect &rect) const
{
    xcb_connection_t *c = m_connection.raw();
    xcb_generic_error_t *error = nullptr;
    std::unique_ptr<xcb_get_image_reply_t, FreeDeleter> reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<int16_t>(rect.x()),
                      static_cast<int16_t>(rect.y()), static_cast<uint16_t>(rect.width()),
                      static_cast<uint16_t>(rect.height()), ~0u),
        &error));
    std::unique_ptr<xcb_generic_error_t, FreeDeleter> ownedError(error);
    if (!reply)
        return xError("read the pixels", error);

    const xcb_setup_t *setup = xcb_get_setup(c);
    const xcb_format_t *format = formatForDepth(setup, reply->depth);
    if (!format)
        return QStringLiteral("The X server sent pixels of an unknown depth %1.").arg(reply->depth);
    QImage::Format imageFormat = QImage::Format_Invalid;
    if ((reply->depth == 24 || reply->depth == 32) && format->bits_per_pixel == 32)
        imageFormat = reply->depth == 32 ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    else if (reply->depth == 16 && format->bits_per_pixel == 16)
        imageFormat = QImage::Format_RGB16;
    else if (reply->depth == 15 && format->bits_per_pixel == 16)
        imageFormat = QImage::Format_RGB555;
    if (imageFormat == QImage::Format_Invalid)
        return QStringLiteral("Pixels of depth %1 cannot be captured.").arg(reply->depth);

    const int pad = format->scanline_pad;
    const qsizetype rowBytes = ((qsizetype(rect.width()) * format->bits_per_pixel + pad - 1) / pad) * pad / 8;
    const qsizetype available = xcb_get_image_data_length(reply.get());
    if (available < rowBytes * rect.height())
        return QStringLiteral("The X server sent fewer pixels than asked for.");
    QImage image(rect.size(), imageFormat);
    if (image.isNull())
        return QStringLiteral("There is not enough memory for a %1 × %2 capture.").arg(rect.width()).arg(rect.height());
    const uchar *data = xcb_get_image_data(reply.get());
    const qsizetype copyBytes = qMin<qsizetype>(rowBytes, image.bytesPerLine());
    const bool sameByteOrder = (setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST) == (Q_BYTE_ORDER == Q_BIG_ENDIAN);
    if (imageFormat == QImage::Format_RGB32 && sameByteOrder) {
        // The padding byte of depth-24 pixels is undefined; Qt expects it
        // opaque. Set while copying, in one pass over the pixels.
        for (int y = 0; y < rect.height(); ++y) {
            const auto *from = reinterpret_cast<const quint32 *>(data + y * rowBytes);
            auto *to = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int x = 0; x < rect.width(); ++x)
                to[x] = from[x] | 0xff000000u;
        }
    } else {
        for (int y = 0; y < rect.height(); ++y)
            std::memcpy(image.scanLine(y), data + y * rowBytes, static_cast<size_t>(copyBytes));
    }

    if (!sameByteOrder) {
        for (int y = 0; y < image.height(); ++y) {
            if (format->bits_per_pixel == 32) {
                auto *px = reinterpret_cast<quint32 *>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    px[x] = qbswap(px[x]);
            } else {
                auto *px = reinterpret_cast<quint16 *>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    px[x] = qbswap(px[x]);
            }
        }
    }
    if (imageFormat == QImage::Format_RGB32 && !sameByteOrder) {
        for (int y = 0; y < image.height(); ++y) {
            auto *px = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                px[x] |= 0xff000000u;
        }
    }
    if (format->bits_per_pixel == 32) {
        // Visuals with red in the low byte store BGR.
        if (const xcb_visualtype_t *visual = visualType(setup, reply->visual); visual && visual->red_mask == 0xffu)
            image = std::move(image).rgbSwapped();
    }
    if (imageFormat != QImage::Format_RGB32)
        image = std::move(image).convertToFormat(QImage::Format_RGB32);
    return image;
}

std::optional<X11ScreenGrabber::NamedPixmap> X11ScreenGrabber::windowPixmap(xcb_window_t window) const
{
    if (!m_composite)
        return std::nullopt;
    xcb_connection_t *c = m_connection.raw();
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    // Fails with BadMatch unless the window is redirected.
    if (xcb_generic_error_t *error = xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, window, pixmap))) {
        std::free(error);
        return std::nullopt;
    }
    return NamedPixmap(c, pixmap);
}

bool X11ScreenGrabber::isRedirected(qsizetype topLevel)
{
    const auto known = m_redirected.constFind(topLevel);
    if (known != m_redirected.cend())
        return *known;
    const bool redirected = windowPixmap(m_scene.stacking[topLevel].window).has_value();
    m_redirected.insert(topLevel, redirected);
    return redirected;
}

bool X11ScreenGrabber::counts(qsizetype topLevel)
{
    return m_scene.stacking[topLevel].shown && (!m_scene.compositing || isRedirected(topLevel));
}

Result<std::optional<QImage>, QString> X11ScreenGrabber::window(const ShareableWindow &target)
{
    const QRect frame = target.frame.toAlignedRect();
    const auto topIndex = m_scene.topLevelOfClient.constFind(target.id);
    if (topIndex == m_scene.topLevelOfClient.cend() || frame.isEmpty())
        return std::optional<QImage>(); // where it sits in the stacking is unknown
    const X11TopLevel &top = m_scene.stacking[*topIndex];

    // Redirected: the window's own pixmap holds all of it, covered or not.
    if (auto pixmap = windowPixmap(top.window)) {
        const QRect inPixmap = frame.translated(-top.rect.topLeft()) & QRect(QPoint(0, 0), top.rect.size());
        // A pixmap that cannot be read (the window went away meanwhile)
        // leaves the screen to tell what shows.
        auto image = inPixmap.size() == frame.size() ? read(pixmap->id(), inPixmap)
                                                     : Result<QImage, QString>(QString());
        if (image) {
            if (frame.contains(m_scene.pointer))
                drawCursor(image.value(), frame.topLeft());
            return std::optional<QImage>(std::move(image).value());
        }
    }

    // Otherwise only what shows on the screen is the window's.
    QRegion visible(frame & m_scene.rootRect);
    for (qsizetype i = *topIndex + 1; i < m_scene.stacking.size() && !visible.isEmpty(); ++i) {
        if (counts(i))
            visible -= m_scene.stacking[i].rect;
    }
    if (visible.isEmpty())
        return std::optional<QImage>();
    const QRect bounds = visible.boundingRect();
    auto part = read(m_connection.root(), bounds);
    if (!part)
        return part.error();
    QImage image(frame.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(bounds.topLeft() - frame.topLeft(), part.value());
    }
    blacken(image, (QRegion(frame) - visible).translated(-frame.topLeft()));
    if (visible.contains(m_scene.pointer))
        drawCursor(image, frame.topLeft());
    return std::optional<QImage>(std::move(image));
}

Result<QImage, QString> X11ScreenGrabber::display(const QRect &requested)
{
    const QRect rect = requested & m_scene.rootRect;
    if (rect.isEmpty())
        return QStringLiteral("The screen lies outside the X display.");
    auto grabbed = read(m_connection.root(), rect);
    if (!grabbed)
        return grabbed.error();
    QImage image = std::move(grabbed).value();

    // Walk the stacking from the top: the assistant's windows open a hole
    // where they show; the highest other window under a part of the hole
    // is what would be seen there.
    QRegion covered;
    QRegion hole;
    QList<std::pair<qsizetype, QRegion>> fills;
    for (qsizetype i = m_scene.stacking.size() - 1; i >= 0; --i) {
        const X11TopLevel &top = m_scene.stacking[i];
        if (top.own) {
            if (top.shown)
                hole += (QRegion(top.rect) - covered) & rect;
            continue;
        }
        if (!counts(i))
            continue;
        const QRegion part = hole & top.rect;
        if (!part.isEmpty()) {
            fills.append({i, part});
            hole -= part;
        }
        covered += top.rect;
    }

    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const auto &[index, part] : fills) {
        const X11TopLevel &top = m_scene.stacking[index];
        auto pixmap = m_scene.compositing ? windowPixmap(top.window) : std::nullopt;
        for (const QRect &r : part) {
            std::optional<QImage> pixels;
            if (pixmap) {
                if (auto beneath = read(pixmap->id(), r.translated(-top.rect.topLeft())))
                    pixels = std::move(beneath).value();
            }
            if (pixels)
                painter.drawImage(r.topLeft() - rect.topLeft(), *pixels);
            else
                painter.fillRect(r.translated(-rect.topLeft()), Qt::black);
        }
    }
    for (const QRect &r : hole)
        painter.fillRect(r.translated(-rect.topLeft()), Qt::black);
    painter.end();

    if (rect.contains(m_scene.pointer))
        drawCursor(image, rect.topLeft());
    return image;
}

void X11ScreenGrabber::drawCursor(QImage &image, QPoint origin) const
{
    xcb_connection_t *c = m_connection.raw();
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return;
    xcb_generic_error_t *error = nullptr;
    std::unique_ptr<xcb_xfixes_query_version_reply_t, FreeDeleter> version(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), &error));
    std::free(error);
    if (!version)
        return;
    std::unique_ptr<xcb_xfixes_get_cursor_image_reply_t, FreeDeleter> cursor(
        xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), &error));
    std::free(error);
    if (!cursor || cursor->width == 0 || cursor->height == 0)
        return;
    const qsizetype pixels = qsizetype(cursor->width) * cursor->height;
    if (xcb_xfixes_get_cursor_image_cursor_image_length(cursor.get()) < pixels)
        return;
    // Premultiplied ARGB words, as QImage stores them.
    const QImage sprite(reinterpret_cast<const uchar *>(xcb_xfixes_get_cursor_image_cursor_image(cursor.get())),
                        cursor->width, cursor->height, cursor->width * 4, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.drawImage(QPoint(cursor->x - cursor->xhot, cursor->y - cursor->yhot) - origin, sprite);
}

} // namespace nimbel
