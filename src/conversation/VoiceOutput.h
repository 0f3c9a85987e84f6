#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace nimbel {

// Where a line's audio comes from: the platform, its key and the agent whose voice it is.
struct SpeechTarget
{
    QString baseURL;
    QString apiKey;
    QString agentID;
};

// Speaks the assistant's sentences, one after another, and knows which fixed
// lines it has ready to play at once.
class VoiceOutput
{
public:
    // What the output asks of and tells its owner.
    struct Events
    {
        // The platform a new run speaks through; read once per run.
        std::function<SpeechTarget()> target;
        // A line has played to its end.
        std::function<void()> linePlayed;
        // A run ended by itself: its queue ran dry (`failed` false) or a line
        // could not be synthesised or played (`failed` true, the queue is
        // dropped). A run ended by `stop` reports nothing.
        std::function<void(bool failed)> runEnded;
    };

    virtual ~VoiceOutput() = default;
    virtual void setEvents(Events events) { (void)events; }
    // Stops what is playing and drops what is queued; a hold ends with it.
    virtual void stop() = 0;
    // Pauses the speech where it is (later lines wait behind it) until released.
    virtual void setHeld(bool held) = 0;
    // Queues one sentence after those already waiting.
    virtual void enqueue(const QString &sentence) = 0;
    // Something is playing or waiting to be played.
    virtual bool isActive() const = 0;
    // The audio of `text`, as the agent `agentID` of the platform at `baseURL`
    // says it, is cached and can be played without waiting for synthesis.
    virtual bool hasCachedAudio(const QString &baseURL, const QString &agentID, const QString &text) const = 0;
    // Fetches the audio of `lines`, in order, ahead of their first use.
    virtual void prewarm(const QStringList &lines, const SpeechTarget &target) { (void)lines, (void)target; }
};

} // namespace nimbel
