// Audio files come from the platform's speech endpoint and the disk. The WAV
// reader never reads past its input, yields whole frames of samples a player
// can take (finite, within full scale), and reads back what the recorder wrote.

#include "FuzzCheck.h"
#include "voice/WavFile.h"

#include <cmath>
#include <cstring>
#include <vector>

using namespace nimbel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto decoded = wav::decode(input)) {
        check(decoded->audio.channels > 0 && decoded->sampleRate > 0);
        check(decoded->audio.samples.size() % decoded->audio.channels == 0);
        check(decoded->audio.samples.size() <= size);
        for (const float sample : decoded->audio.samples)
            check(std::isfinite(sample) && sample >= -1.0f && sample <= 1.0f);
    }

    // The input as recorded samples survives a write and a read.
    std::vector<std::int16_t> samples(size / 2);
    if (!samples.empty())
        std::memcpy(samples.data(), data, samples.size() * 2);
    const auto back = wav::decode(wav::encodeRecording(samples.data(), samples.size()));
    check(back.has_value() && back->audio.channels == 1 && back->sampleRate == wav::recordingRate);
    check(back->audio.samples.size() == samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        check(back->audio.samples[i] == float(samples[i]) / 32768.0f);
    return 0;
}
