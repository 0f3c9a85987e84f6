#pragma once

#include "Script.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace nimbel::localplatform {

// 16-bit PCM audio mixed down to one channel.
struct PcmAudio
{
    int sampleRate = 0;
    int channels = 0; // as stored in the file
    std::vector<std::int16_t> samples;
};

// Reads a RIFF WAVE file holding 16-bit PCM (plain or WAVE_FORMAT_EXTENSIBLE), mono or stereo.
// A "data" chunk that claims more bytes than the file holds (streaming writers leave the size
// at its maximum) is read to the end of the file; anything else malformed is refused.
Result<PcmAudio, Failure> parseWav(std::string_view bytes);

} // namespace nimbel::localplatform
