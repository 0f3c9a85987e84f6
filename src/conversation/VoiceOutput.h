#pragma once

namespace nimbel {

// Speaks the assistant's answers. The conversation only needs to silence it.
class VoiceOutput
{
public:
    virtual ~VoiceOutput() = default;
    // Stops what is playing and drops what is queued.
    virtual void stop() = 0;
};

} // namespace nimbel
