#include "screen/linux/X11WindowDetails.h"

namespace nimbel {

namespace {
std::optional<quint32> firstValue(const std::optional<X11Property> &property)
{
    if (!property)
        return std::nullopt;
    const QList<quint32> values = property->values();
    if (values.isEmpty())
        return std::nullopt;
    return values.first();
}

QString text(const std::optional<X11Property> &property, const X11Atoms &atoms)
{
    if (!property || property->format != 8)
        return {};
    QByteArray data = property->data;
    while (data.endsWith('\0'))
        data.chop(1);
    if (property->type == atoms.utf8String)
        return QString::fromUtf8(data);
    return QString::fromLatin1(data); // STRING is Latin-1
}
} // namespace

int X11WindowDetails::layer(const X11Atoms &atoms) const
{
    if (windowTypes.isEmpty())
        return 0;
    // The first type the window lists is its preferred one.
    const xcb_atom_t type = windowTypes.first();
    if (type == atoms.netWmWindowTypeNormal || type == atoms.netWmWindowTypeDialog)
        return 0;
    if (type == atoms.netWmWindowTypeDesktop)
        return -1;
    return 1;
}

bool X11WindowDetails::isHidden(const X11Atoms &atoms) const
{
    return states.contains(atoms.netWmStateHidden);
}

bool X11WindowDetails::neverActivated(const X11Atoms &atoms) const
{
    return windowTypes.contains(atoms.netWmWindowTypeDock) || windowTypes.contains(atoms.netWmWindowTypeDesktop);
}

RunningApplication X11WindowDetails::application(const X11Atoms &atoms, DesktopEntryIndex &entries) const
{
    const ApplicationIdentity identity = entries.identify(classHints);
    return {identity.bundleIdentifier, identity.localizedName, processIdentifier, neverActivated(atoms)};
}

QList<X11WindowDetails> readWindowDetails(const X11Connection &connection, const QList<xcb_window_t> &windows)
{
    const X11Atoms &atoms = connection.atoms();
    struct Cookies
    {
        xcb_get_property_cookie_t wmClass, applicationId, pid, types, states, desktop, netName, wmName;
    };
    QList<Cookies> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows) {
        cookies.append({connection.requestProperty(window, XCB_ATOM_WM_CLASS, 4096),
                        connection.requestProperty(window, atoms.gtkApplicationId, 4096),
                        connection.requestProperty(window, atoms.netWmPid, 4),
                        connection.requestProperty(window, atoms.netWmWindowType, 4096),
                        connection.requestProperty(window, atoms.netWmState, 4096),
                        connection.requestProperty(window, atoms.netWmDesktop, 4),
                        connection.requestProperty(window, atoms.netWmName, 65536),
                        connection.requestProperty(window, XCB_ATOM_WM_NAME, 65536)});
    }
    QList<X11WindowDetails> details;
    details.reserve(windows.size());
    for (qsizetype i = 0; i < windows.size(); ++i) {
        const Cookies &c = cookies[i];
        X11WindowDetails d;
        d.window = windows[i];
        if (const auto wmClass = connection.propertyReply(c.wmClass); wmClass && wmClass->format == 8) {
            const QList<QByteArray> parts = wmClass->data.split('\0');
            d.classHints.instanceName = QString::fromLatin1(parts.value(0));
            d.classHints.className = QString::fromLatin1(parts.value(1));
        }
        d.classHints.applicationId = text(connection.propertyReply(c.applicationId), atoms);
        if (const auto pid = firstValue(connection.propertyReply(c.pid)); pid && *pid > 0)
            d.processIdentifier = *pid;
        if (const auto types = connection.propertyReply(c.types))
            d.windowTypes = types->values();
        if (const auto states = connection.propertyReply(c.states))
            d.states = states->values();
        d.desktop = firstValue(connection.propertyReply(c.desktop));
        QString title = text(connection.propertyReply(c.netName), atoms);
        const QString legacyTitle = text(connection.propertyReply(c.wmName), atoms);
        if (title.isEmpty())
            title = legacyTitle;
        if (!title.isEmpty())
            d.title = title;
        details.append(std::move(d));
    }
    return details;
}

} // namespace nimbel
