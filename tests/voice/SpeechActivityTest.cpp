#include "voice/SpeechActivity.h"
#include "voice/SpeechAudioPreRollBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

using namespace nimbel;

namespace {

using E = SpeechActivityEvent;

struct Step { float level; double time; E expected; };

struct DetectorCase { const char *name; std::vector<Step> steps; };

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

// Three buffers at or above 0.012 start speech at t = 0.2.
std::vector<Step> started()
{
    return {{0.012f, 0.0, E::none}, {0.02f, 0.1, E::none}, {0.012f, 0.2, E::speechStarted}};
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class DetectorTable : public testing::TestWithParam<DetectorCase> {};

TEST_P(DetectorTable, EventsFollowTheLevels)
{
    SpeechActivityDetector detector;
    int index = 0;
    for (const Step &step : GetParam().steps) {
        EXPECT_EQ(detector.observe(step.level, step.time), step.expected) << "step " << index;
        ++index;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectorTable,
    testing::Values(
        DetectorCase{"a_quieter_buffer_clears_the_count",
                     {{0.012f, 0.0, E::none}, {0.012f, 0.1, E::none}, {0.011f, 0.2, E::none}, {0.012f, 0.3, E::none},
                      {0.012f, 0.4, E::none}, {0.012f, 0.5, E::speechStarted}}},
        DetectorCase{"clean_quiet_ends_speech_at_exactly_055",
                     started() + std::vector<Step>{{0.001f, 0.5, E::none}, {0.0024f, 0.74, E::none},
                                                   {0.0f, 0.75, E::speechEnded}}},
        DetectorCase{"a_level_of_exactly_0006_is_voice",
                     started() + std::vector<Step>{{0.006f, 0.7, E::none}, {0.0f, 1.2, E::none},
                                                   {0.0f, 1.25, E::speechEnded}}},
        DetectorCase{"0_0059_is_not_voice_but_murmur_which_stretches_the_quiet_to_one_second",
                     started() + std::vector<Step>{{0.0059f, 0.7, E::none}, {0.0f, 1.19, E::none},
                                                   {0.0f, 1.2, E::speechEnded}}},
        DetectorCase{"the_fading_of_the_last_sound_is_not_murmur",
                     started() + std::vector<Step>{{0.0059f, 0.25, E::none}, {0.004f, 0.29, E::none},
                                                   {0.0f, 0.74, E::none}, {0.0f, 0.75, E::speechEnded}}},
        DetectorCase{"voice_after_murmur_restores_the_short_quiet",
                     started() + std::vector<Step>{{0.004f, 0.3, E::none}, {0.01f, 0.4, E::none},
                                                   {0.0f, 0.94, E::none}, {0.0f, 0.96, E::speechEnded}}},
        DetectorCase{"nan_infinite_and_negative_levels_are_silence",
                     std::vector<Step>{{nan, 0.0, E::none}, {0.02f, 0.1, E::none}, {0.02f, 0.2, E::none},
                                       {inf, 0.3, E::none}, {0.02f, 0.4, E::none}, {0.02f, 0.5, E::none},
                                       {-1.0f, 0.6, E::none}, {0.02f, 0.7, E::none}, {0.02f, 0.8, E::none},
                                       {0.02f, 0.9, E::speechStarted}, {nan, 1.0, E::none}, {-inf, 1.44, E::none},
                                       {-0.5f, 1.46, E::speechEnded}}},
        DetectorCase{"speech_starts_again_after_an_end",
                     started() + std::vector<Step>{{0.0f, 0.75, E::speechEnded}, {0.02f, 0.8, E::none},
                                                   {0.02f, 0.9, E::none}, {0.02f, 1.0, E::speechStarted}}}),
    [](const testing::TestParamInfo<DetectorCase> &info) { return std::string(info.param.name); });

TEST(SpeechActivityDetector, ResetForgetsSpeechSoQuietAfterItEndsNothing)
{
    SpeechActivityDetector detector;
    for (const Step &step : started())
        detector.observe(step.level, step.time);
    detector.reset();
    EXPECT_EQ(detector.observe(0.0f, 10.0), E::none);
}

TEST(SpeechLevel, RootMeanSquareOverEveryChannel)
{
    const std::vector<float> stereo{0.5f, -0.5f, 0.5f, -0.5f};
    EXPECT_FLOAT_EQ(*speechLevel(stereo.data(), 2, 2), 0.5f);
    const std::vector<float> mixed{3.0f, 0.0f, 4.0f, 0.0f};
    EXPECT_FLOAT_EQ(*speechLevel(mixed.data(), 4, 1), 2.5f);
    EXPECT_FALSE(speechLevel(stereo.data(), 0, 2));
    EXPECT_FALSE(speechLevel(nullptr, 2, 2));
}

TEST(SpeechActivityMonitor, EmptyBuffersLeaveTheDetectorAlone)
{
    SpeechActivityMonitor monitor;
    const std::vector<float> loud(1024, 0.5f);
    monitor.observe(loud.data(), 1024, 1, 0.0);
    monitor.observe(loud.data(), 0, 1, 0.1);
    EXPECT_EQ(monitor.snapshot().consecutiveVoiceFrames, 1);
    monitor.observe(loud.data(), 1024, 1, 0.2);
    EXPECT_EQ(monitor.observe(loud.data(), 1024, 1, 0.3), E::speechStarted);
}

TEST(SpeechAudioPreRollBuffer, KeepsTheNewestBuffersWithinTheLimitOldestFirst)
{
    struct Case { double rate; std::vector<std::size_t> appended, kept; };
    const Case cases[] = {
        // 48 kHz: at most 36 000 frames, i.e. 35 buffers of 1024 (35 840).
        {48000.0, std::vector<std::size_t>(40, 1024), std::vector<std::size_t>(35, 1024)},
        // A single buffer over the limit is kept alone.
        {1000.0, {500, 5000}, {5000}},
        {1000.0, {400, 350}, {400, 350}},
        // A tiny rate still keeps one frame's worth, never nothing.
        {0.5, {3, 3}, {3}},
    };
    for (const Case &c : cases) {
        SpeechAudioPreRollBuffer preRoll(c.rate);
        float marker = 1.0f;
        for (std::size_t frames : c.appended) {
            const std::vector<float> buffer(frames, marker++);
            preRoll.append(buffer.data(), frames, 1);
        }
        EXPECT_EQ(preRoll.frameCount(), std::accumulate(c.kept.begin(), c.kept.end(), std::size_t(0)));
        const std::vector<AudioBuffer> drained = preRoll.drain();
        ASSERT_EQ(drained.size(), c.kept.size());
        for (std::size_t i = 0; i < drained.size(); ++i) {
            EXPECT_EQ(drained[i].frames(), c.kept[i]);
            EXPECT_EQ(drained[i].samples.front(), float(c.appended.size() - drained.size() + i + 1));
        }
        EXPECT_TRUE(preRoll.drain().empty());
    }
}

} // namespace
