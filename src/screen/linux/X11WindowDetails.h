#pragma once

#include "screen/RunningApplication.h"
#include "screen/linux/DesktopEntryIndex.h"
#include "screen/linux/X11Connection.h"

#include <QList>

#include <optional>

namespace nimbel {

// The properties of a client window that tell its application, kind and state.
struct X11WindowDetails
{
    xcb_window_t window = XCB_NONE;
    WindowClassHints classHints;
    std::optional<qint64> processIdentifier;
    QList<xcb_atom_t> windowTypes;
    QList<xcb_atom_t> states;
    std::optional<quint32> desktop;
    std::optional<QString> title;

    // 0 for ordinary application windows (normal, dialog or untyped); docks,
    // desktops, menus, tooltips and the like sit on other layers.
    int layer(const X11Atoms &atoms) const;
    bool isHidden(const X11Atoms &atoms) const;
    // Windows the owner never works in: docks and desktops.
    bool neverActivated(const X11Atoms &atoms) const;
    RunningApplication application(const X11Atoms &atoms, DesktopEntryIndex &entries) const;
};

// Reads the details of many windows at once (the requests are pipelined).
// A window that no longer exists comes back with empty details.
QList<X11WindowDetails> readWindowDetails(const X11Connection &connection,
                                          const QList<xcb_window_t> &windows);

} // namespace nimbel
