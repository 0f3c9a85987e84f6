#include "voice/VoiceLeadIn.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace nimbel;

namespace {

// `silence` seconds of silence then `sound` seconds of a loud tone.
DecodedAudio clip(double rate, double silence, double sound, std::size_t channels = 1)
{
    DecodedAudio audio;
    audio.sampleRate = rate;
    audio.audio.channels = channels;
    const auto quiet = std::size_t(silence * rate);
    const auto total = quiet + std::size_t(sound * rate);
    for (std::size_t i = 0; i < total; ++i) {
        const float v = i < quiet ? 0.0f : 0.5f * float(std::sin(2.0 * M_PI * 440.0 * double(i) / rate));
        for (std::size_t c = 0; c < channels; ++c)
            audio.audio.samples.push_back(c == 0 ? v : 0.0f);
    }
    return audio;
}

TEST(VoiceLeadIn, SkipsLeadingSilenceLessAMargin)
{
    // (Real clips with a murmur before their sound: the playback test.)
    const std::tuple<const char *, DecodedAudio, double> cases[] = {
        {"sound after 1.3 s is not trimmed", clip(44100, 1.3, 0.5), 0.0},
        {"sound within the margin", clip(44100, 0.02, 1.0), 0.0},
        {"no sound at all", clip(44100, 2.0, 0.0), 0.0},
        {"only the first channel counts", clip(24000, 0.5, 0.5, 2), 0.47},
        {"no rate", clip(0, 0.5, 1.0), 0.0},
    };
    for (const auto &[name, audio, expected] : cases)
        EXPECT_NEAR(VoiceLeadIn::offset(audio), expected, 0.011) << name;
}

} // namespace
