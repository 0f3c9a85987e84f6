#pragma once

#include "screen/ScreenCapturePermission.h"

namespace nimbel {

// X11 lets every client of the display read the screen: there is nothing to
// ask for, so the preflight always reports access.
class X11ScreenCaptureAccess final : public ScreenCaptureAccess
{
public:
    bool preflight() override { return true; }
    bool request() override { return true; }
};

} // namespace nimbel
