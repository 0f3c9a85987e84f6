#pragma once

#include "core/Clock.h"
#include "screen/FrontmostAppTracker.h"
#include "screen/ScreenCapturePermission.h"
#include "screen/ScreenCaptureService.h"
#include "screen/linux/DesktopEntryIndex.h"

#include <QThreadPool>

#include <memory>

namespace nimbel {

// Screen capture on X11. The permission handshake and the reading of the
// tracked application run on the main thread; the window server is read on a
// worker thread of the service's own (one capture at a time, each on a fresh
// connection) and the result is handed back to the awaiting main thread.
class X11ScreenCaptureService final : public ScreenCaptureService
{
public:
    X11ScreenCaptureService(const FrontmostAppTracker &appTracker, ScreenCaptureAccess &access, Clock &clock,
                            AssistantIdentity self = AssistantIdentity::current(),
                            std::shared_ptr<DesktopEntryIndex> entries = std::make_shared<DesktopEntryIndex>());
    ~X11ScreenCaptureService() override;

    QCoro::Task<CaptureResult> captureCurrentContext() override;
    std::optional<ScreenCaptureError> requestPermissionForOnboarding() override;

    bool didRequestPermissionThisLaunch() const { return m_permission.didRequestPermissionThisLaunch(); }

    // The capture itself on the calling thread, after the permission check:
    // the application's frontmost qualifying window, else the display under
    // the pointer. `capturedAt` is left for the caller to stamp.
    static CaptureResult captureNow(const std::optional<RunningApplication> &application,
                                    const AssistantIdentity &self, DesktopEntryIndex &entries);

private:
    const FrontmostAppTracker &m_appTracker;
    ScreenCapturePermission m_permission;
    Clock &m_clock;
    const AssistantIdentity m_self;
    std::shared_ptr<DesktopEntryIndex> m_entries;
    QThreadPool m_worker;
};

} // namespace nimbel
