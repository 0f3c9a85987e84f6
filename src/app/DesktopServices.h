#pragma once

#include "conversation/AccessibilityTrust.h"
#include "conversation/DesktopActions.h"
#include "conversation/LinkOpener.h"
#include "conversation/VoiceOutput.h"

#include <QString>

#include <functional>
#include <memory>

namespace nimbel {

class AccessibilityBusStatus;

// The desktop's handler for the link's scheme.
class DesktopLinkOpener final : public LinkOpener
{
public:
    bool open(const QUrl &url) override;
};

// Relaunches the running executable and opens the desktop's own settings
// tools (GNOME's or KDE's, else the sound mixer for the microphone).
class LinuxDesktopActions final : public DesktopActions
{
public:
    // `releaseInstance` lets go of the single-instance claim before the new
    // instance starts (it would otherwise hand itself over to this one);
    // `reclaimInstance` takes it back when the start failed.
    LinuxDesktopActions(std::function<void()> releaseInstance, std::function<void()> reclaimInstance);
    bool relaunch() override;
    bool openSettings(SettingsPage page) override;

private:
    std::function<void()> m_releaseInstance;
    std::function<void()> m_reclaimInstance;
};

// Toolkit accessibility through the AT-SPI bus: trusted when the bus answers
// and toolkit accessibility is switched on.
class BusAccessibilityTrust final : public AccessibilityTrust
{
public:
    BusAccessibilityTrust();
    ~BusAccessibilityTrust() override;
    bool isTrusted() const override;

private:
    std::unique_ptr<AccessibilityBusStatus> m_status;
};

} // namespace nimbel
