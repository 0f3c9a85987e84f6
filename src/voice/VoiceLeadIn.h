#pragma once

#include "voice/AudioBuffer.h"

#include <QByteArray>

#include <optional>

namespace nimbel {

// Finds the silence at the head of a synthesised clip, so that playback can
// begin just before the first sound.
class VoiceLeadIn
{
public:
    // Frames decoded from the head of a clip (five seconds at 44.1 kHz).
    static constexpr std::size_t decodedFrames = 220500;

    // The head of the clip, decoded in memory (nothing is written to disk).
    static std::optional<DecodedAudio> decode(const QByteArray &data);
    // Seconds of leading silence to skip; 0 when there is none to skip, it
    // lasts over 1.2 s, or the clip cannot be read.
    static double offset(const DecodedAudio &audio);
    static double offset(const QByteArray &data);
};

} // namespace nimbel
