#pragma once

#include "voice/AudioBuffer.h"

#include <cstddef>
#include <memory>

namespace nimbel {

// One sound being played. Destroying it stops it.
class AudioPlayer
{
public:
    virtual ~AudioPlayer() = default;
    // Silences it at once: what is queued is dropped, not played out.
    virtual void stop() = 0;
    // Pauses it at once, keeping its place; false resumes from there.
    virtual void setHeld(bool held) = 0;
};

// The audio server's output side.
class AudioOutput
{
public:
    virtual ~AudioOutput() = default;
    // Starts playing `audio` from frame `startFrame` at `volume` (0…1) on the
    // default output, or holds it there until released when `held`; nothing
    // when it could not start.
    virtual std::unique_ptr<AudioPlayer> play(std::shared_ptr<const DecodedAudio> audio, std::size_t startFrame,
                                              float volume, bool held) = 0;
};

} // namespace nimbel
