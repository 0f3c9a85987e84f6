#pragma once

#include "screen/CaptureTargeting.h"
#include "screen/RunningApplication.h"
#include "screen/linux/DesktopEntryIndex.h"
#include "screen/linux/X11Connection.h"

#include <QHash>
#include <QList>
#include <QPoint>
#include <QRect>

namespace nimbel {

// A child of the root window: a window manager frame, an unmanaged window
// (menus, tooltips, panels) or, without a window manager, a client itself.
struct X11TopLevel
{
    xcb_window_t window = XCB_NONE;
    QRect rect;        // root coordinates, border included
    bool shown = false; // mapped and drawn (viewable, input-output)
    bool own = false;  // belongs to the assistant
    quint8 depth = 0;
};

// What the window server shows at one moment: the stacking of top-level
// windows, the managed client windows as the capture rules see them, the
// monitors and the pointer. X pixels are the logical points (scale 1).
struct X11Scene
{
    QRect rootRect;
    QList<X11TopLevel> stacking;        // bottom to top
    QList<ShareableWindow> windows;     // _NET_CLIENT_LIST order
    QList<WindowListEntry> frontToBack; // _NET_CLIENT_LIST_STACKING, front first
    QHash<quint32, qsizetype> topLevelOfClient; // client window → index in `stacking`
    QList<DisplayScreen> screens;       // primary monitor first
    QPoint pointer;
    bool compositing = false; // a compositing manager redirects the top-level windows

    const X11TopLevel *topLevelOf(quint32 client) const;
};

X11Scene readScene(const X11Connection &connection, DesktopEntryIndex &entries, const AssistantIdentity &self);

} // namespace nimbel
