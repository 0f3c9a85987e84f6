#include "voice/VoiceLeadIn.h"

#include "voice/AudioClipDecoder.h"

#include <algorithm>
#include <cmath>

namespace nimbel {

std::optional<DecodedAudio> VoiceLeadIn::decode(const QByteArray &data)
{
    return audioClip::decode(data, decodedFrames);
}

double VoiceLeadIn::offset(const DecodedAudio &audio)
{
    const double rate = audio.sampleRate;
    const std::size_t frames = audio.audio.frames();
    const std::size_t channels = audio.audio.channels;
    if (!(rate > 0.0) || channels == 0)
        return 0.0;
    const std::size_t window = std::size_t(rate * 0.02);
    const std::size_t hop = window / 2;
    if (window == 0 || hop == 0 || window >= frames)
        return 0.0;
    const float *samples = audio.audio.samples.data();
    for (std::size_t start = 0; start + window <= frames; start += hop) {
        double sum = 0.0;
        for (std::size_t i = start; i < start + window; ++i) {
            const double s = samples[i * channels];
            sum += s * s;
        }
        const float level = float(std::sqrt(sum / double(window)));
        if (level > 0.01f) {
            const double t = double(start) / rate;
            if (t > 1.2)
                return 0.0;
            return std::max(t - 0.03, 0.0);
        }
    }
    return 0.0;
}

double VoiceLeadIn::offset(const QByteArray &data)
{
    const std::optional<DecodedAudio> decoded = decode(data);
    return decoded ? offset(*decoded) : 0.0;
}

} // namespace nimbel
