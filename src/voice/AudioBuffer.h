#pragma once

#include <cstddef>
#include <vector>

namespace nimbel {

// A stretch of interleaved 32-bit float audio.
struct AudioBuffer
{
    std::vector<float> samples;
    std::size_t channels = 1;

    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Decoded audio with its rate, as the player and the lead-in see it.
struct DecodedAudio
{
    AudioBuffer audio;
    double sampleRate = 0.0;

    double duration() const { return sampleRate > 0.0 ? double(audio.frames()) / sampleRate : 0.0; }
};

} // namespace nimbel
