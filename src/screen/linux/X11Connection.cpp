#include "screen/linux/X11Connection.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace nimbel {

QList<quint32> X11Property::values() const
{
    QList<quint32> items;
    if (format != 32)
        return items;
    const qsizetype count = data.size() / 4;
    if (count == 0)
        return items; // an empty list has no storage to copy into
    items.resize(count);
    std::memcpy(items.data(), data.constData(), static_cast<size_t>(count) * 4);
    return items;
}

Result<std::unique_ptr<X11Connection>, QString> X11Connection::open()
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return QStringLiteral("Could not connect to the X display \"%1\".")
            .arg(QString::fromLocal8Bit(qgetenv("DISPLAY")));
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection);
        return QStringLiteral("The X display has no screen %1.").arg(screenNumber);
    }
    return std::unique_ptr<X11Connection>(new X11Connection(connection, it.data, screenNumber));
}

X11Connection::X11Connection(xcb_connection_t *connection, xcb_screen_t *screen, int screenNumber)
    : m_connection(connection)
    , m_screen(screen)
    , m_screenNumber(screenNumber)
{
    const QByteArray cmSelection = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
    const std::pair<xcb_atom_t *, QByteArray> names[] = {
        {&m_atoms.netActiveWindow, "_NET_ACTIVE_WINDOW"},
        {&m_atoms.netClientList, "_NET_CLIENT_LIST"},
        {&m_atoms.netClientListStacking, "_NET_CLIENT_LIST_STACKING"},
        {&m_atoms.netCurrentDesktop, "_NET_CURRENT_DESKTOP"},
        {&m_atoms.netWmPid, "_NET_WM_PID"},
        {&m_atoms.netWmName, "_NET_WM_NAME"},
        {&m_atoms.netWmDesktop, "_NET_WM_DESKTOP"},
        {&m_atoms.netWmState, "_NET_WM_STATE"},
        {&m_atoms.netWmStateHidden, "_NET_WM_STATE_HIDDEN"},
        {&m_atoms.netWmWindowType, "_NET_WM_WINDOW_TYPE"},
        {&m_atoms.netWmWindowTypeNormal, "_NET_WM_WINDOW_TYPE_NORMAL"},
        {&m_atoms.netWmWindowTypeDialog, "_NET_WM_WINDOW_TYPE_DIALOG"},
        {&m_atoms.netWmWindowTypeDock, "_NET_WM_WINDOW_TYPE_DOCK"},
        {&m_atoms.netWmWindowTypeDesktop, "_NET_WM_WINDOW_TYPE_DESKTOP"},
        {&m_atoms.netWmCmSelection, cmSelection},
        {&m_atoms.gtkApplicationId, "_GTK_APPLICATION_ID"},
        {&m_atoms.utf8String, "UTF8_STRING"},
    };
    QList<xcb_intern_atom_cookie_t> cookies;
    for (const auto &[slot, name] : names)
        cookies.append(xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(name.size()), name.constData()));
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        xcb_generic_error_t *error = nullptr;
        auto *reply = xcb_intern_atom_reply(m_connection, cookies[i], &error);
        std::free(error);
        if (reply) {
            *names[i].first = reply->atom;
            std::free(reply);
        }
    }
}

X11Connection::~X11Connection()
{
    xcb_disconnect(m_connection);
}

xcb_get_property_cookie_t X11Connection::requestProperty(xcb_window_t window, xcb_atom_t property,
                                                         quint32 maximumLength) const
{
    // The length is counted in 32-bit units.
    return xcb_get_property(m_connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                            (maximumLength + 3) / 4);
}

std::optional<X11Property> X11Connection::propertyReply(xcb_get_property_cookie_t cookie) const
{
    xcb_generic_error_t *error = nullptr;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection, cookie, &error);
    std::free(error); // a window that is gone simply has no properties
    if (!reply)
        return std::nullopt;
    std::optional<X11Property> result;
    if (reply->type != XCB_NONE) {
        const int length = xcb_get_property_value_length(reply);
        result = X11Property{reply->type, reply->format,
                             QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), length)};
    }
    std::free(reply);
    return result;
}

} // namespace nimbel
