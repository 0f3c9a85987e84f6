#include "screen/ScreenCapturePermission.h"

namespace nimbel {

std::optional<ScreenCaptureError> ScreenCapturePermission::check()
{
    if (m_access.preflight())
        return std::nullopt;
    ScreenCaptureError error = ScreenCaptureError::permissionRequiresRestart;
    if (!m_didRequestPermissionThisLaunch) {
        m_didRequestPermissionThisLaunch = true;
        if (!m_access.request())
            error = ScreenCaptureError::permissionDenied;
        else if (m_access.preflight())
            return std::nullopt;
    }
    return error;
}

} // namespace nimbel
