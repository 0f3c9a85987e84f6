#pragma once

#include "voice/SpeechTypes.h"

#include <QString>

#include <cstdint>

namespace nimbel {

enum class MicrophoneState : std::uint8_t { idle = 0, requestingPermission = 1, listening = 2, unavailable = 3 };

// Records the owner's spoken turns.
class MicrophoneRecorder
{
public:
    virtual ~MicrophoneRecorder() = default;
    // Ends any recording in progress without delivering its audio; harmless
    // when nothing is being recorded.
    virtual void finishWithoutDelivering() = 0;
    // Starts listening for the owner's next turn of the voice session.
    virtual void startListening() = 0;
    // What on-device recognition has made of the turn so far; empty when
    // nothing (or no recognition) is running.
    virtual QString liveDraft() const = 0;
    virtual MicrophoneState microphoneState() const = 0;
    // Whether the owner's microphone may be recorded, as the system says now.
    virtual PermissionState authorization() = 0;
    // Asking for access or listening: a turn may be on its way.
    bool isCapturing() const
    {
        const MicrophoneState state = microphoneState();
        return state == MicrophoneState::requestingPermission || state == MicrophoneState::listening;
    }
};

} // namespace nimbel
