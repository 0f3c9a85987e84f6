#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <xcb/xcb.h>

#include <memory>
#include <optional>

namespace nimbel {

// The atoms the tracker and the capture read, interned once per connection.
struct X11Atoms
{
    xcb_atom_t netActiveWindow = XCB_NONE;
    xcb_atom_t netClientList = XCB_NONE;
    xcb_atom_t netClientListStacking = XCB_NONE;
    xcb_atom_t netCurrentDesktop = XCB_NONE;
    xcb_atom_t netWmPid = XCB_NONE;
    xcb_atom_t netWmName = XCB_NONE;
    xcb_atom_t netWmDesktop = XCB_NONE;
    xcb_atom_t netWmState = XCB_NONE;
    xcb_atom_t netWmStateHidden = XCB_NONE;
    xcb_atom_t netWmWindowType = XCB_NONE;
    xcb_atom_t netWmWindowTypeNormal = XCB_NONE;
    xcb_atom_t netWmWindowTypeDialog = XCB_NONE;
    xcb_atom_t netWmWindowTypeDock = XCB_NONE;
    xcb_atom_t netWmWindowTypeDesktop = XCB_NONE;
    xcb_atom_t netWmCmSelection = XCB_NONE; // _NET_WM_CM_S<screen>
    xcb_atom_t gtkApplicationId = XCB_NONE;
    xcb_atom_t utf8String = XCB_NONE;
};

// The raw value of a window property.
struct X11Property
{
    xcb_atom_t type = XCB_NONE;
    int format = 0; // 8, 16 or 32
    QByteArray data;

    // 32-bit items (CARDINAL, WINDOW, ATOM lists).
    QList<quint32> values() const;
};

// One connection to the X server of $DISPLAY, with its default screen.
// Not shared between threads: each user opens its own.
class X11Connection
{
public:
    static Result<std::unique_ptr<X11Connection>, QString> open();
    ~X11Connection();
    X11Connection(const X11Connection &) = delete;
    X11Connection &operator=(const X11Connection &) = delete;

    xcb_connection_t *raw() const { return m_connection; }
    xcb_screen_t *screen() const { return m_screen; }
    xcb_window_t root() const { return m_screen->root; }
    int screenNumber() const { return m_screenNumber; }
    const X11Atoms &atoms() const { return m_atoms; }
    bool hasError() const { return xcb_connection_has_error(m_connection) != 0; }

    // Requests are pipelined by sending first and reading the reply later.
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property,
                                              quint32 maximumLength = 1u << 20) const;
    std::optional<X11Property> propertyReply(xcb_get_property_cookie_t cookie) const;
    std::optional<X11Property> property(xcb_window_t window, xcb_atom_t property) const
    {
        return propertyReply(requestProperty(window, property));
    }

private:
    X11Connection(xcb_connection_t *connection, xcb_screen_t *screen, int screenNumber);

    xcb_connection_t *m_connection;
    xcb_screen_t *m_screen;
    int m_screenNumber;
    X11Atoms m_atoms;
};

} // namespace nimbel
