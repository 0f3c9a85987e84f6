#include "screen/ScreenCaptureError.h"

namespace nimbel {

namespace {
struct CatalogueEntry
{
    const char *key;
    const char *english;
};

// Keys and English texts of the four failures, in case order.
constexpr CatalogueEntry catalogue[] = {
    {"error.screen.denied",
     "Allow Nimbel to record the screen in System Settings → Privacy & Security."},
    {"error.screen.restart", "The screen recording permission changed. Restart Nimbel once."},
    {"error.screen.noTarget", "Could not find a window or a screen to capture."},
    {"error.screen.empty", "macOS returned an empty screenshot. Try another window."},
};
} // namespace

const char *ScreenCaptureError::localizationKey() const
{
    return catalogue[m_case].key;
}

QString ScreenCaptureError::message() const
{
    return QString::fromUtf8(catalogue[m_case].english);
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
