#pragma once

#include "conversation/AccessibilityTrust.h"
#include "conversation/MicrophoneRecorder.h"
#include "conversation/UpdateStatus.h"
#include "conversation/VoiceOutput.h"

#include <QString>

#include <memory>

namespace nimbel {

class AccessibilityBusStatus;

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

// This build has no voice subsystem: nothing is ever spoken or recorded, so
// there is never anything to stop.
class NoVoiceOutput final : public VoiceOutput
{
public:
    void stop() override {}
    void enqueue(const QString &) override {}
    bool isActive() const override { return false; }
    bool hasCachedAudio(const QString &, const QString &, const QString &) const override { return false; }
};

class NoMicrophone final : public MicrophoneRecorder
{
public:
    void finishWithoutDelivering() override {}
    void startListening() override {}
    QString liveDraft() const override { return {}; }
};

} // namespace nimbel
