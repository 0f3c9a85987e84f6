#include "screen/linux/X11FrontmostAppTracker.h"

#include "core/Log.h"
#include "screen/linux/X11WindowDetails.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdlib>

namespace nimbel {

X11FrontmostAppTracker::X11FrontmostAppTracker(AssistantIdentity self, std::shared_ptr<DesktopEntryIndex> entries,
                                               QObject *parent)
    : QObject(parent)
    , m_self(std::move(self))
    , m_entries(std::move(entries))
{
    auto connection = X11Connection::open();
    if (!connection) {
        log::error(log::general(), log::Record().add(u"frontmost_tracking", u"unavailable")
                                       .add(u"reason", connection.error()));
        return;
    }
    m_connection = std::move(connection).value();

    // Property changes of the root window carry every activation. The event
    // mask is this connection's own; other clients' selections are untouched.
    const quint32 mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection->raw(), m_connection->root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection->raw());

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection->raw()), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11FrontmostAppTracker::readEvents);

    offerActiveWindow();
    // Events read into the queue by the round trips above arrive without the
    // socket becoming readable again.
    QTimer::singleShot(0, this, &X11FrontmostAppTracker::readEvents);
}

X11FrontmostAppTracker::~X11FrontmostAppTracker() = default;

void X11FrontmostAppTracker::rememberIfExternal(const std::optional<RunningApplication> &app)
{
    if (!isExternal(app, m_self))
        return;
    const bool changed = m_last != app;
    m_last = app;
    if (changed)
        emit lastExternalApplicationChanged();
}

void X11FrontmostAppTracker::readEvents()
{
    if (!m_connection)
        return;
    bool activationChanged = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection->raw())) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto *notify = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            if (notify->window == m_connection->root() && notify->atom == m_connection->atoms().netActiveWindow)
                activationChanged = true;
        }
        std::free(event);
    }
    if (m_connection->hasError()) {
        // The display went away: stop watching a dead socket.
        log::error(log::general(), log::Record().add(u"frontmost_tracking", u"lost_display"));
        delete m_notifier;
        m_notifier = nullptr;
        m_connection.reset();
        return;
    }
    // Several activations read at once count as the last one.
    if (activationChanged) {
        offerActiveWindow();
        QTimer::singleShot(0, this, &X11FrontmostAppTracker::readEvents);
    }
}

void X11FrontmostAppTracker::offerActiveWindow()
{
    const auto active = m_connection->property(m_connection->root(), m_connection->atoms().netActiveWindow);
    const QList<quint32> values = active ? active->values() : QList<quint32>{};
    if (values.isEmpty() || values.first() == XCB_NONE)
        return;
    const QList<X11WindowDetails> details = readWindowDetails(*m_connection, {values.first()});
    const X11WindowDetails &window = details.first();
    // A window that vanished before it could be read tells nothing.
    if (window.classHints.className.isEmpty() && window.classHints.instanceName.isEmpty()
        && window.classHints.applicationId.isEmpty() && !window.processIdentifier)
        return;
    rememberIfExternal(window.application(m_connection->atoms(), *m_entries));
}

} // namespace nimbel
