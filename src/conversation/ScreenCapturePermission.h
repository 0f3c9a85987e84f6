#pragma once

namespace nimbel {

// Whether screen capture is allowed, checked without capturing.
class ScreenCapturePermission
{
public:
    virtual ~ScreenCapturePermission() = default;
    virtual bool preflight() const = 0;
};

} // namespace nimbel
