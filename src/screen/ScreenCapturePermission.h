#pragma once

#include "screen/ScreenCaptureError.h"

#include <optional>

namespace nimbel {

// The system's screen-recording permission (platform boundary).
class ScreenCaptureAccess
{
public:
    virtual ~ScreenCaptureAccess() = default;
    // Whether capture is allowed right now, without asking.
    virtual bool preflight() = 0;
    // Shows the system's prompt; answers whether access was granted.
    virtual bool request() = 0;
};

// The permission handshake both capture entry points go through. The system
// prompt is shown at most once per launch: the first refusal reads
// `permissionDenied`, every later one `permissionRequiresRestart`.
class ScreenCapturePermission
{
public:
    explicit ScreenCapturePermission(ScreenCaptureAccess &access)
        : m_access(access)
    {
    }

    // Nothing when capture may go ahead, else the error to report.
    std::optional<ScreenCaptureError> check();
    bool didRequestPermissionThisLaunch() const { return m_didRequestPermissionThisLaunch; }

private:
    ScreenCaptureAccess &m_access;
    bool m_didRequestPermissionThisLaunch = false;
};

} // namespace nimbel
