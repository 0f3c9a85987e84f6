#pragma once

#include "core/ErrorDescription.h"

#include <QString>

#include <variant>

namespace nimbel {

// The capture's own failures, each with its catalogue message and recovery.
class ScreenCaptureError
{
public:
    enum Case { permissionDenied, permissionRequiresRestart, noShareableContent, emptyImage };

    ScreenCaptureError(Case value)
        : m_case(value)
    {
    }

    Case value() const { return m_case; }
    // The catalogue key ("error.screen.*").
    const char *localizationKey() const;
    // The message in the current interface language, resolved on every call.
    QString message() const;
    ZelmRecovery recovery() const;
    bool isPermissionProblem() const;
    ErrorDescription toDescription() const;

    bool operator==(const ScreenCaptureError &) const = default;

private:
    Case m_case;
};

// A failure of the window system itself (no display connection, a failed
// request), passed on as it came.
struct WindowSystemError
{
    QString message;

    ErrorDescription toDescription() const { return {message, ZelmRecovery::none, false}; }
    bool operator==(const WindowSystemError &) const = default;
};

using CaptureError = std::variant<ScreenCaptureError, WindowSystemError>;

ErrorDescription toDescription(const CaptureError &error);

} // namespace nimbel
