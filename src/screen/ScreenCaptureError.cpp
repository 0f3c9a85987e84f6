#include "screen/ScreenCaptureError.h"

#include "settings/Localized.h"

namespace nimbel {

namespace {
// Catalogue keys of the four failures, in case order.
constexpr const char *keys[] = {"error.screen.denied", "error.screen.restart", "error.screen.noTarget",
                                "error.screen.empty"};
} // namespace

const char *ScreenCaptureError::localizationKey() const
{
    return keys[m_case];
}

QString ScreenCaptureError::message() const
{
    return L::text(keys[m_case]);
}

ZelmRecovery ScreenCaptureError::recovery() const
{
    switch (m_case) {
    case permissionDenied:
        return ZelmRecovery::screenRecordingSettings;
    case permissionRequiresRestart:
        return ZelmRecovery::restart;
    case noShareableContent:
    case emptyImage:
        break;
    }
    return ZelmRecovery::none;
}

bool ScreenCaptureError::isPermissionProblem() const
{
    return m_case == permissionDenied || m_case == permissionRequiresRestart;
}

ErrorDescription ScreenCaptureError::toDescription() const
{
    return {message(), recovery(), isPermissionProblem()};
}

ErrorDescription toDescription(const CaptureError &error)
{
    return std::visit([](const auto &e) { return e.toDescription(); }, error);
}

} // namespace nimbel
