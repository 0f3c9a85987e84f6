#pragma once

#include "core/Result.h"
#include "screen/CaptureArtifact.h"
#include "screen/ScreenCaptureError.h"

#include <QCoro/QCoroTask>

#include <optional>

namespace nimbel {

using CaptureResult = Result<CaptureArtifact, CaptureError>;

// Takes one still picture of what the owner is looking at: the frontmost
// window of the application they last worked in, else the display under the
// pointer. Called and resumed on the main thread.
class ScreenCaptureService
{
public:
    virtual ~ScreenCaptureService() = default;

    virtual QCoro::Task<CaptureResult> captureCurrentContext() = 0;
    // Nothing when capture is allowed, else the error a capture would report.
    virtual std::optional<ScreenCaptureError> requestPermissionForOnboarding() = 0;
};

} // namespace nimbel
