// Spoken answers arrive from the platform's speech endpoint as MP3 (or WAV).
// Whatever the bytes, the clip decoder returns nothing or whole frames of
// finite samples, no more of them than asked for, at a real rate.

#include "FuzzCheck.h"
#include "voice/AudioClipDecoder.h"

#include <cmath>

using namespace nimbel;

namespace {

void checkClip(const QByteArray &input, std::size_t maxFrames)
{
    const auto decoded = audioClip::decode(input, maxFrames);
    if (!decoded)
        return;
    check(decoded->audio.channels > 0 && decoded->sampleRate > 0);
    check(decoded->audio.samples.size() % decoded->audio.channels == 0);
    check(decoded->audio.frames() > 0 && decoded->audio.frames() <= maxFrames);
    for (const float sample : decoded->audio.samples)
        check(std::isfinite(sample));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    checkClip(input, audioClip::maximumFrames);
    // A lead-in takes only the first part of a clip.
    checkClip(input, 1 + (size > 0 ? data[0] : 0) * 37);
    return 0;
}
