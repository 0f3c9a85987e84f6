#pragma once

#include "voice/AudioBuffer.h"

#include <QByteArray>

#include <cstddef>
#include <optional>

namespace nimbel::audioClip {

// Longest clip decoded: ten minutes at 48 kHz, which bounds the memory an
// answer can take.
inline constexpr std::size_t maximumFrames = 48000 * 600;

// MP3 (MPEG audio, with or without ID3 tags) or RIFF WAVE bytes as float
// samples, at most `maxFrames` frames of them. Nothing for bytes that are not
// audio, hold no whole frame, or end well before their own header says.
std::optional<DecodedAudio> decode(const QByteArray &data, std::size_t maxFrames = maximumFrames);

} // namespace nimbel::audioClip
