#include "PulseAudioTestServer.h"
#include "voice/AudioClipDecoder.h"
#include "voice/VoiceLeadIn.h"
#include "voice/WavFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>

using namespace nimbel;
using namespace Qt::StringLiterals;

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

class EncodedClip : public testing::Test
{
protected:
    void SetUp() override
    {
        wavPath = dir.filePath(u"clip.wav"_s);
        mp3Path = dir.filePath(u"clip.mp3"_s);
        const std::vector<std::int16_t> samples = [] {
            const DecodedAudio audio = clip(44100, 0.5, 1.5);
            std::vector<std::int16_t> out;
            for (float s : audio.audio.samples)
                out.push_back(std::int16_t(s * 32767.0f));
            return out;
        }();
        QFile wav(wavPath);
        ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
        // A 44.1 kHz header over the recording writer's layout.
        QByteArray bytes = wav::encodeRecording(samples.data(), samples.size());
        qToLittleEndian<quint32>(44100, bytes.data() + 24);
        qToLittleEndian<quint32>(88200, bytes.data() + 28);
        wav.write(bytes);
        wav.close();
        ASSERT_TRUE(test::runTool(u"lame"_s, {u"--quiet"_s, u"-b"_s, u"64"_s, wavPath, mp3Path}));
        mp3 = test::readFile(mp3Path);
        ASSERT_FALSE(mp3.isEmpty());
    }

    QTemporaryDir dir;
    QString wavPath;
    QString mp3Path;
    QByteArray mp3;
};

TEST_F(EncodedClip, LeadInOfAnMp3AndAWave)
{
    EXPECT_NEAR(VoiceLeadIn::offset(mp3), 0.47, 0.015);
    EXPECT_NEAR(VoiceLeadIn::offset(test::readFile(wavPath)), 0.47, 0.011);
    // Only the head of the clip is decoded.
    const auto head = VoiceLeadIn::decode(mp3);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->sampleRate, 44100.0);
    EXPECT_LE(head->audio.frames(), VoiceLeadIn::decodedFrames);
}

TEST_F(EncodedClip, DecodingRefusesWhatIsNotAWholeClip)
{
    const auto whole = audioClip::decode(mp3);
    ASSERT_TRUE(whole);
    EXPECT_NEAR(whole->duration(), 2.0, 0.03);
    EXPECT_FALSE(audioClip::decode(QByteArray()));
    EXPECT_FALSE(audioClip::decode(mp3.left(200)));
    EXPECT_FALSE(audioClip::decode(mp3.left(mp3.size() / 2)));
    EXPECT_FALSE(audioClip::decode(QByteArrayLiteral("<html><body>Service unavailable</body></html>")));
    EXPECT_FALSE(audioClip::decode(QByteArray(4096, '\0')));
    EXPECT_EQ(VoiceLeadIn::offset(QByteArrayLiteral("not audio")), 0.0);
}

} // namespace
