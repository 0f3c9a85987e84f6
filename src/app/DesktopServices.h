#pragma once

#include "conversation/AccessibilityTrust.h"
#include "conversation/DesktopActions.h"
#include "conversation/LinkOpener.h"
#include "conversation/LoginItem.h"
#include "conversation/UpdateStatus.h"
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

// Launch at login as an XDG autostart entry of the application's desktop file.
class LaunchAtLoginService final : public LoginItem
{
public:
    // `autostartFolder` defaults to $XDG_CONFIG_HOME/autostart.
    explicit LaunchAtLoginService(QString autostartFolder = {});
    bool isEnabled() const override;
    QString entryPath() const;

private:
    QString m_folder;
};

// This build ships no update checker: nothing can be checked, and nothing failed.
class UnavailableUpdates final : public UpdateStatus
{
public:
    bool canCheckForUpdates() const override { return false; }
    bool automaticallyChecksForUpdates() const override { return false; }
    std::optional<QString> lastError() const override { return std::nullopt; }
};

// Spoken answers are not synthesised yet: nothing is ever spoken, so there is
// never anything to stop.
class NoVoiceOutput final : public VoiceOutput
{
public:
    void stop() override {}
    void enqueue(const QString &) override {}
    bool isActive() const override { return false; }
    bool hasCachedAudio(const QString &, const QString &, const QString &) const override { return false; }
};

} // namespace nimbel
