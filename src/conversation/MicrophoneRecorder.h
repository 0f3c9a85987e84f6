#pragma once

#include <QString>

namespace nimbel {

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
};

} // namespace nimbel
