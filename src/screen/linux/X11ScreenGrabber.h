#pragma once

#include "core/Result.h"
#include "screen/CaptureTargeting.h"
#include "screen/linux/X11Connection.h"
#include "screen/linux/X11Scene.h"

#include <QHash>
#include <QImage>
#include <QRegion>

#include <optional>

namespace nimbel {

// Reads pixels for one capture, never anybody else's in place of the target's.
//
// A window's own pixels exist apart from the screen only when a compositing
// manager redirects it (Composite extension): then its off-screen pixmap is
// read and nothing above it matters. Otherwise the screen is all there is:
// the part of the window that no other window covers is read from the root,
// and the rest, including whatever the assistant's own windows cover, is
// painted black. The display capture leaves the assistant's windows out the
// same way: under a compositor the windows beneath show through, otherwise
// their area is black. Nothing is raised, moved or unmapped.
class X11ScreenGrabber
{
public:
    X11ScreenGrabber(const X11Connection &connection, const X11Scene &scene);

    // The window's pixels at its X size, with the pointer drawn when it is
    // over the window. Absent when no part of the window can be seen.
    Result<std::optional<QImage>, QString> window(const ShareableWindow &target);
    // The screen area `rect` (root coordinates) without the assistant's windows.
    Result<QImage, QString> display(const QRect &rect);

private:
    class NamedPixmap;
    Result<QImage, QString> read(xcb_drawable_t drawable, const QRect &rect) const;
    std::optional<NamedPixmap> windowPixmap(xcb_window_t window) const;
    // Under a compositor, whether the top-level is redirected (windows that
    // are not, such as the overlay the compositor draws into, are skipped).
    bool isRedirected(qsizetype topLevel);
    bool counts(qsizetype topLevel);
    void drawCursor(QImage &image, QPoint origin) const;

    const X11Connection &m_connection;
    const X11Scene &m_scene;
    bool m_composite = false;
    QHash<qsizetype, bool> m_redirected;
};

} // namespace nimbel
