#include "screen/linux/X11Scene.h"

#include "screen/linux/X11WindowDetails.h"

#include <xcb/randr.h>

#include <QSet>

#include <cstdlib>
#include <memory>
#include <tuple>

namespace nimbel {

namespace {
struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Requests whose errors only mean "that window is gone" drop the error.
template<typename T>
Reply<T> take(T *reply, xcb_generic_error_t *error)
{
    std::free(error);
    return Reply<T>(reply);
}

QList<DisplayScreen> readScreens(const X11Connection &connection, const QRect &rootRect)
{
    QList<DisplayScreen> screens;
    xcb_connection_t *c = connection.raw();
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (randr && randr->present) {
        xcb_generic_error_t *error = nullptr;
        auto version = take(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), &error), error);
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            auto monitors = take(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1),
                                                              &error),
                                 error);
            if (monitors) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                     xcb_randr_monitor_info_next(&it)) {
                    const DisplayScreen screen{QRectF(it.data->x, it.data->y, it.data->width, it.data->height), 1.0};
                    if (it.data->primary)
                        screens.prepend(screen);
                    else
                        screens.append(screen);
                }
            }
        }
    }
    if (screens.isEmpty())
        screens.append(DisplayScreen{QRectF(rootRect), 1.0});
    return screens;
}

// The child of the root that holds each client (its frame under a
// reparenting window manager, else the client itself).
QHash<quint32, xcb_window_t> topLevelsOf(const X11Connection &connection, const QList<xcb_window_t> &clients)
{
    xcb_connection_t *c = connection.raw();
    QHash<quint32, xcb_window_t> result;
    QHash<quint32, xcb_window_t> pending; // client → window whose parent is asked next
    for (const xcb_window_t client : clients)
        pending.insert(client, client);
    // Frames nest only a few levels deep; the bound guards against loops.
    for (int depth = 0; depth < 8 && !pending.isEmpty(); ++depth) {
        QList<std::pair<quint32, xcb_query_tree_cookie_t>> cookies;
        for (auto it = pending.cbegin(); it != pending.cend(); ++it)
            cookies.append({it.key(), xcb_query_tree(c, it.value())});
        QHash<quint32, xcb_window_t> next;
        for (const auto &[client, cookie] : cookies) {
            xcb_generic_error_t *error = nullptr;
            auto tree = take(xcb_query_tree_reply(c, cookie, &error), error);
            if (!tree)
                continue;
            if (tree->parent == connection.root() || tree->parent == XCB_NONE)
                result.insert(client, pending.value(client));
            else
                next.insert(client, tree->parent);
        }
        pending = std::move(next);
    }
    return result;
}
} // namespace

const X11TopLevel *X11Scene::topLevelOf(quint32 client) const
{
    const auto it = topLevelOfClient.constFind(client);
    return it == topLevelOfClient.cend() ? nullptr : &stacking[*it];
}

X11Scene readScene(const X11Connection &connection, DesktopEntryIndex &entries, const AssistantIdentity &self)
{
    xcb_connection_t *c = connection.raw();
    const X11Atoms &atoms = connection.atoms();
    const xcb_window_t root = connection.root();
    X11Scene scene;
    scene.rootRect = QRect(0, 0, connection.screen()->width_in_pixels, connection.screen()->height_in_pixels);

    // Send the independent requests first, then read the replies.
    const auto clientListCookie = connection.requestProperty(root, atoms.netClientList);
    const auto stackingCookie = connection.requestProperty(root, atoms.netClientListStacking);
    const auto desktopCookie = connection.requestProperty(root, atoms.netCurrentDesktop, 4);
    const auto treeCookie = xcb_query_tree(c, root);
    const auto pointerCookie = xcb_query_pointer(c, root);
    const auto cmOwnerCookie = xcb_get_selection_owner(c, atoms.netWmCmSelection);

    const auto clientList = connection.propertyReply(clientListCookie);
    const auto stackingList = connection.propertyReply(stackingCookie);
    const auto currentDesktop = connection.propertyReply(desktopCookie);
    xcb_generic_error_t *error = nullptr;
    auto tree = take(xcb_query_tree_reply(c, treeCookie, &error), error);
    auto pointer = take(xcb_query_pointer_reply(c, pointerCookie, &error), error);
    auto cmOwner = take(xcb_get_selection_owner_reply(c, cmOwnerCookie, &error), error);
    if (pointer)
        scene.pointer = QPoint(pointer->root_x, pointer->root_y);
    scene.compositing = cmOwner && cmOwner->owner != XCB_NONE;

    // Top-level windows, bottom to top, with their geometry and state.
    QList<xcb_window_t> children;
    if (tree) {
        const xcb_window_t *first = xcb_query_tree_children(tree.get());
        children = QList<xcb_window_t>(first, first + xcb_query_tree_children_length(tree.get()));
    }
    {
        QList<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> cookies;
        for (const xcb_window_t child : children)
            cookies.append({xcb_get_window_attributes(c, child), xcb_get_geometry(c, child)});
        for (qsizetype i = 0; i < children.size(); ++i) {
            auto attributes = take(xcb_get_window_attributes_reply(c, cookies[i].first, &error), error);
            auto geometry = take(xcb_get_geometry_reply(c, cookies[i].second, &error), error);
            if (!attributes || !geometry)
                continue;
            X11TopLevel top;
            top.window = children[i];
            const int border = geometry->border_width;
            top.rect = QRect(geometry->x, geometry->y, geometry->width + 2 * border, geometry->height + 2 * border);
            top.shown = attributes->map_state == XCB_MAP_STATE_VIEWABLE
                && attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
            top.depth = geometry->depth;
            scene.stacking.append(top);
        }
    }
    QHash<xcb_window_t, qsizetype> stackingIndex;
    for (qsizetype i = 0; i < scene.stacking.size(); ++i)
        stackingIndex.insert(scene.stacking[i].window, i);

    // Managed clients; without a window manager, the shown top-levels stand in.
    QList<xcb_window_t> clients;
    if (clientList) {
        for (const quint32 id : clientList->values())
            clients.append(id);
    } else {
        for (const X11TopLevel &top : std::as_const(scene.stacking)) {
            if (top.shown)
                clients.append(top.window);
        }
    }
    const QList<X11WindowDetails> details = readWindowDetails(connection, clients);
    const QHash<quint32, xcb_window_t> topLevels = topLevelsOf(connection, clients);
    const std::optional<quint32> desktop = currentDesktop && !currentDesktop->values().isEmpty()
        ? std::optional<quint32>(currentDesktop->values().first())
        : std::nullopt;

    QList<std::tuple<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t, xcb_translate_coordinates_cookie_t>>
        clientCookies;
    for (const xcb_window_t client : clients)
        clientCookies.append({xcb_get_window_attributes(c, client), xcb_get_geometry(c, client),
                              xcb_translate_coordinates(c, client, root, 0, 0)});
    QHash<quint32, std::optional<qint64>> processOf;
    QHash<quint32, int> layerOf;
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const auto &[attributesCookie, geometryCookie, originCookie] = clientCookies[i];
        auto attributes = take(xcb_get_window_attributes_reply(c, attributesCookie, &error), error);
        auto geometry = take(xcb_get_geometry_reply(c, geometryCookie, &error), error);
        auto origin = take(xcb_translate_coordinates_reply(c, originCookie, &error), error);
        if (!attributes || !geometry || !origin)
            continue; // gone meanwhile
        const X11WindowDetails &d = details[i];
        const RunningApplication application = d.application(atoms, entries);
        const bool onCurrentDesktop = !desktop || !d.desktop || *d.desktop == *desktop || *d.desktop == 0xFFFFFFFFu;

        ShareableWindow window;
        window.id = clients[i];
        window.frame = QRectF(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        window.title = d.title;
        window.onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE && !d.isHidden(atoms) && onCurrentDesktop;
        window.bundleIdentifier = application.bundleIdentifier;
        scene.windows.append(window);
        processOf.insert(clients[i], d.processIdentifier);
        layerOf.insert(clients[i], d.layer(atoms));

        if (const auto top = topLevels.constFind(clients[i]); top != topLevels.cend()) {
            if (const auto index = stackingIndex.constFind(*top); index != stackingIndex.cend()) {
                scene.topLevelOfClient.insert(clients[i], *index);
                if (self.isSelf(application))
                    scene.stacking[*index].own = true;
            }
        }
    }

    // Unmanaged top-levels (menus, tooltips, panels of our own) carry their
    // process identifier themselves.
    QList<xcb_window_t> unmanaged;
    QSet<xcb_window_t> managedTopLevels;
    for (const xcb_window_t top : topLevels)
        managedTopLevels.insert(top);
    for (const X11TopLevel &top : std::as_const(scene.stacking)) {
        if (top.shown && !managedTopLevels.contains(top.window))
            unmanaged.append(top.window);
    }
    for (const X11WindowDetails &d : readWindowDetails(connection, unmanaged)) {
        if (self.processIdentifier && d.processIdentifier == self.processIdentifier)
            scene.stacking[stackingIndex.value(d.window)].own = true;
    }

    if (stackingList) {
        const QList<quint32> bottomToTop = stackingList->values();
        for (auto it = bottomToTop.crbegin(); it != bottomToTop.crend(); ++it) {
            WindowListEntry entry{*it, std::nullopt, std::nullopt};
            if (const auto pid = processOf.constFind(*it); pid != processOf.cend())
                entry.processIdentifier = *pid;
            if (const auto layer = layerOf.constFind(*it); layer != layerOf.cend())
                entry.layer = *layer;
            scene.frontToBack.append(entry);
        }
    }

    scene.screens = readScreens(connection, scene.rootRect);
    return scene;
}

} // namespace nimbel
