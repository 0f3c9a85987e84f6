#pragma once

#include "conversation/AccessibilityTrust.h"
#include "conversation/DesktopActions.h"
#include "conversation/LinkOpener.h"
#include "conversation/LoginItem.h"
#include "conversation/MicrophoneRecorder.h"
#include "screen/ScreenCapturePermission.h"
#include "conversation/UpdateStatus.h"
#include "conversation/VoiceOutput.h"
#include "settings/FakeTokenStore.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace nimbel::test {

// Records what would be spoken; `cached` holds the lines whose audio is ready.
class FakeVoiceOutput final : public VoiceOutput
{
public:
    void stop() override { ++stops; queued.clear(); held = false; }
    void setHeld(bool value) override { held = value; }
    void setEvents(Events given) override { events = std::move(given); }
    void enqueue(const QString &sentence) override { spoken.append(sentence); queued.append(sentence); }
    bool isActive() const override { return !queued.isEmpty(); }
    bool hasCachedAudio(const QString &, const QString &, const QString &text) const override
    {
        return cached.contains(text);
    }

    int stops = 0;
    // Everything ever queued, in order; `queued` is what a stop would drop.
    QStringList spoken;
    QStringList queued;
    bool held = false;
    QSet<QString> cached;
    Events events;
};

class FakeMicrophone final : public MicrophoneRecorder
{
public:
    void finishWithoutDelivering() override { ++finishes; }
    void startListening() override { ++starts; }
    QString liveDraft() const override { return draft; }
    MicrophoneState microphoneState() const override { return MicrophoneState::idle; }
    PermissionState authorization() override { return permission; }
    PermissionState permission = PermissionState::authorized;
    int finishes = 0;
    int starts = 0;
    QString draft;
};

class FakeAccessibilityTrust final : public AccessibilityTrust
{
public:
    bool isTrusted() const override { return trusted; }
    bool trusted = false;
};

// `grantOnRequest`, when set, is what a request answers while `granted` stays what the process sees.
class FakeScreenCaptureAccess final : public ScreenCaptureAccess
{
public:
    bool preflight() override { return granted; }
    bool request() override { ++requests; return grantOnRequest.value_or(granted); }
    bool granted = false;
    std::optional<bool> grantOnRequest;
    int requests = 0;
};

class FakeLoginItem final : public LoginItem
{
public:
    bool isEnabled() const override { return false; }
};

// No update feed: checks cannot run.
class FakeUpdateStatus final : public UpdateStatus
{
public:
    bool canCheckForUpdates() const override { return false; }
    bool automaticallyChecksForUpdates() const override { return false; }
    std::optional<QString> lastError() const override { return std::nullopt; }
};

class FakeLinkOpener final : public LinkOpener
{
public:
    bool open(const QUrl &url) override { opened.append(url); return true; }
    QList<QUrl> opened;
};

// Records relaunches and opened settings pages; `available` says whether the desktop can.
class FakeDesktopActions final : public DesktopActions
{
public:
    bool relaunch() override { ++relaunches; return available; }
    bool openSettings(SettingsPage page) override { opened.append(page); return available; }
    bool available = true;
    int relaunches = 0;
    QList<SettingsPage> opened;
};

} // namespace nimbel::test
