#pragma once

#include <QString>

namespace nimbel {

// Speaks the assistant's sentences, one after another, and knows which fixed
// lines it has ready to play at once.
class VoiceOutput
{
public:
    virtual ~VoiceOutput() = default;
    // Stops what is playing and drops what is queued.
    virtual void stop() = 0;
    // Queues one sentence after those already waiting.
    virtual void enqueue(const QString &sentence) = 0;
    // Something is playing or waiting to be played.
    virtual bool isActive() const = 0;
    // The audio of `text`, as the agent `agentID` of the platform at `baseURL`
    // says it, is cached and can be played without waiting for synthesis.
    virtual bool hasCachedAudio(const QString &baseURL, const QString &agentID, const QString &text) const = 0;
};

} // namespace nimbel
