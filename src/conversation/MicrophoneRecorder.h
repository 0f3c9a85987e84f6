#pragma once

namespace nimbel {

// Records the owner's spoken turns.
class MicrophoneRecorder
{
public:
    virtual ~MicrophoneRecorder() = default;
    // Ends any recording in progress without delivering its audio; harmless
    // when nothing is being recorded.
    virtual void finishWithoutDelivering() = 0;
};

} // namespace nimbel
