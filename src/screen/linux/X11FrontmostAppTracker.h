#pragma once

#include "screen/FrontmostAppTracker.h"
#include "screen/linux/DesktopEntryIndex.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace nimbel {

class X11Connection;

// Follows the window manager's active window (_NET_ACTIVE_WINDOW on the root
// window) on a connection of its own, read on the main thread. Windows of the
// assistant itself and docks/desktops never replace the remembered application.
class X11FrontmostAppTracker final : public QObject, public FrontmostAppTracker
{
    Q_OBJECT
public:
    explicit X11FrontmostAppTracker(AssistantIdentity self = AssistantIdentity::current(),
                                    std::shared_ptr<DesktopEntryIndex> entries = std::make_shared<DesktopEntryIndex>(),
                                    QObject *parent = nullptr);
    ~X11FrontmostAppTracker() override;

    std::optional<RunningApplication> lastExternalApplication() const override { return m_last; }
    // False without an X display (the tracker then remembers nothing).
    bool isTracking() const { return m_notifier != nullptr; }

    // Remembers `app` if it is external (see FrontmostAppTracker::isExternal).
    void rememberIfExternal(const std::optional<RunningApplication> &app);

signals:
    void lastExternalApplicationChanged();

private:
    void readEvents();
    void offerActiveWindow();

    AssistantIdentity m_self;
    std::shared_ptr<DesktopEntryIndex> m_entries;
    std::unique_ptr<X11Connection> m_connection;
    QSocketNotifier *m_notifier = nullptr;
    std::optional<RunningApplication> m_last;
};

} // namespace nimbel
