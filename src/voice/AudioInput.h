#pragma once

#include "voice/SpeechTypes.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <functional>
#include <optional>
#include <vector>

namespace nimbel {

// The audio server's microphone side.
class AudioInput
{
public:
    struct Format
    {
        double sampleRate = 0.0;
        std::size_t channels = 0;
    };
    // An input source the owner can choose.
    struct Source
    {
        QString name;
        QString description;
        bool operator==(const Source &) const = default;
    };
    // Interleaved float frames (about 1024 of them) and their time in seconds
    // on the stream's own clock; called on the input's thread.
    using BufferHandler = std::function<void(const float *samples, std::size_t frames, double time)>;

    virtual ~AudioInput() = default;

    // Asks the audio server (connecting when needed) whether the microphone can be used.
    virtual PermissionState authorization() = 0;
    virtual std::vector<Source> sources() = 0;
    // The source the system records from when nothing is chosen; empty when unknown.
    virtual QString defaultSource() = 0;
    // The format `source` (empty: the system default) would deliver; nothing
    // when it does not exist or the server does not answer.
    virtual std::optional<Format> open(const QString &source) = 0;
    // Starts recording from the source of the last open(). `onFailure` runs once,
    // on any thread, when recording breaks (the server went away, the source was
    // unplugged). False when recording could not start.
    virtual bool start(BufferHandler handler, std::function<void()> onFailure) = 0;
    // No handler call runs after this returns; harmless when not recording.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // Called (on any thread) whenever sources appear or go, or the default changes.
    virtual void setSourcesChangedHandler(std::function<void()> handler) = 0;
};

// Partial recognition of a recording while it is spoken.
class LiveDraftSession
{
public:
    virtual ~LiveDraftSession() = default;
    // 16 kHz mono samples of the recording, on the input's thread; never blocks.
    virtual void append(const std::int16_t *samples, std::size_t count) = 0;
};

class LiveDraftRecognizer
{
public:
    virtual ~LiveDraftRecognizer() = default;
    // A draft for one recording in `locale` ("en-US", "ru-RU"), or nothing when
    // no model exists for it. `onText` receives the running text on any thread.
    virtual std::unique_ptr<LiveDraftSession> begin(const QString &locale, std::function<void(QString)> onText) = 0;
};

} // namespace nimbel
