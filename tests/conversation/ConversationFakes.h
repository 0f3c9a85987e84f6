#pragma once

#include "conversation/AccessibilityTrust.h"
#include "conversation/LoginItem.h"
#include "conversation/MicrophoneRecorder.h"
#include "conversation/ScreenCapturePermission.h"
#include "conversation/UpdateStatus.h"
#include "conversation/VoiceOutput.h"
#include "settings/TokenStore.h"

#include <QString>

#include <optional>

namespace nimbel::test {

class FakeTokenStore final : public TokenStore
{
public:
    QString read() const override
    {
        ++reads;
        return key;
    }
    std::optional<KeychainError> write(const QString &value) override
    {
        key = value;
        return std::nullopt;
    }

    QString key;
    mutable int reads = 0;
};

class FakeVoiceOutput final : public VoiceOutput
{
public:
    void stop() override { ++stops; }
    int stops = 0;
};

class FakeMicrophone final : public MicrophoneRecorder
{
public:
    void finishWithoutDelivering() override { ++finishes; }
    int finishes = 0;
};

class FakeAccessibilityTrust final : public AccessibilityTrust
{
public:
    bool isTrusted() const override { return trusted; }
    bool trusted = false;
};

class FakeScreenCapturePermission final : public ScreenCapturePermission
{
public:
    bool preflight() const override { return granted; }
    bool granted = false;
};

class FakeLoginItem final : public LoginItem
{
public:
    bool isEnabled() const override { return enabled; }
    bool enabled = false;
};

class FakeUpdateStatus final : public UpdateStatus
{
public:
    bool canCheckForUpdates() const override { return canCheck; }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    std::optional<QString> lastError() const override { return error; }
    bool canCheck = false;
    bool automatic = false;
    std::optional<QString> error;
};

} // namespace nimbel::test
