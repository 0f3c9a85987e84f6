#pragma once

namespace nimbel {

// What the recoveries of a failure ask of the desktop: a fresh start of the
// application, or the desktop's own settings at the page that fixes it.
class DesktopActions
{
public:
    enum class SettingsPage { screenRecording, microphone };

    virtual ~DesktopActions() = default;
    // Starts a new instance and ends this one; false (and this one keeps
    // running) when no new instance could be started.
    virtual bool relaunch() = 0;
    // Opens the desktop's settings tool on `page`; false when this desktop has none for it.
    virtual bool openSettings(SettingsPage page) = 0;
};

} // namespace nimbel
