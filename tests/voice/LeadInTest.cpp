#include "voice/VoiceLeadIn.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace nimbel;

namespace {

// `silence` seconds of near-silence (amplitude `floor`) then `sound` seconds of a loud tone.
DecodedAudio clip(double rate, double silence, double sound, float floor = 0.0f, std::size_t channels = 1)
{
    DecodedAudio audio;
    audio.sampleRate = rate;
    audio.audio.channels = channels;
    const auto quiet = std::size_t(silence * rate);
    const auto total = quiet + std::size_t(sound * rate);
    for (std::size_t i = 0; i < total; ++i) {
        const float amplitude = i < quiet ? floor : 0.5f;
        const float v = amplitude * float(std::sin(2.0 * M_PI * 440.0 * double(i) / rate));
        for (std::size_t c = 0; c < channels; ++c)
            audio.audio.samples.push_back(c == 0 ? v : 0.0f);
    }
    return audio;
}

struct LeadInCase { const char *name; DecodedAudio audio; double expected; };

class LeadInTable : public testing::TestWithParam<LeadInCase> {};

TEST_P(LeadInTable, SkipsLeadingSilenceLessAMargin)
{
    EXPECT_NEAR(VoiceLeadIn::offset(GetParam().audio), GetParam().expected, 0.011) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeadInTable,
    testing::Values(LeadInCase{"sound_at_half_a_second", clip(44100, 0.5, 1.0), 0.47},
                    LeadInCase{"murmur_below_the_level_is_silence", clip(44100, 0.5, 1.0, 0.012f), 0.47},
                    LeadInCase{"sound_after_1_3_seconds_is_not_trimmed", clip(44100, 1.3, 0.5), 0.0},
                    LeadInCase{"sound_within_the_margin", clip(44100, 0.02, 1.0), 0.0},
                    LeadInCase{"no_sound_at_all", clip(44100, 2.0, 0.0), 0.0},
                    LeadInCase{"only_the_first_channel_counts", clip(24000, 0.5, 0.5, 0.0f, 2), 0.47},
                    LeadInCase{"shorter_than_a_window", clip(44100, 0.0, 0.01), 0.0},
                    LeadInCase{"no_rate", clip(0, 0.5, 1.0), 0.0}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
