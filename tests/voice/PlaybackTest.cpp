#include "PulseAudioTestServer.h"
#include "conversation/TaskRunner.h"

#include "core/SystemClock.h"
#include "voice/VoiceLeadIn.h"
#include "voice/VoiceOutputService.h"
#include "voice/linux/PulseAudioPlayback.h"
#include "voice/linux/PulseAudioServer.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace nimbel;
using namespace nimbel::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int monitorRate = 48000;

// What the speakers played, as read back from their monitor.
class SpeakerRecording
{
public:
    SpeakerRecording(const PulseAudioTestServer &server, QString path)
        : m_path(std::move(path))
        , m_process(server.recordSpeakers(m_path, monitorRate))
    {
        // Recording has begun once the first samples arrive.
        waitUntil([this] { return QFileInfo(m_path).size() > 0; }, 10000);
    }

    std::vector<float> finish()
    {
        waitUntil([] { return false; }, 300);
        m_process->terminate();
        m_process->waitForFinished(5000);
        const QByteArray bytes = readFile(m_path);
        std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
        std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
        return samples;
    }

private:
    QString m_path;
    std::unique_ptr<QProcess> m_process;
};

std::optional<std::size_t> firstAbove(const std::vector<float> &samples, float level)
{
    const auto at = std::find_if(samples.begin(), samples.end(), [level](float s) { return std::fabs(s) > level; });
    return at == samples.end() ? std::nullopt : std::optional<std::size_t>(at - samples.begin());
}

// Seconds from the first loud sample to the last.
double loudSeconds(const std::vector<float> &samples)
{
    const auto loud = [](float s) { return std::fabs(s) > 0.1f; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    return first == samples.end() ? 0.0 : double(last - 1 - first) / monitorRate;
}

Result<Done, PlaybackFailure> finished(QCoro::Task<Result<Done, PlaybackFailure>> task)
{
    const auto out = started(std::move(task));
    waitUntil([&] { return out->has_value(); }, 30000);
    return out->value_or(PlaybackFailure{VoiceOutputError::playbackFailed});
}

class PlaybackTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.isRunning()); }

    // 0.5 s of a murmur too quiet to count as sound (but audible on the monitor), then `loud` s of a tone.
    QString clip(const QString &name, double loud, bool mp3)
    {
        const QString dir = server.folder() + QLatin1Char('/');
        const QString wav = dir + name + u".wav"_s, out = dir + name + u".mp3"_s;
        const QStringList format{u"-r"_s, u"48000"_s, u"-c"_s, u"1"_s, u"-b"_s, u"16"_s};
        const auto synth = [&](const QString &file, double seconds, int hz, double volume) {
            const QStringList tone{u"synth"_s, QString::number(seconds), u"sine"_s, QString::number(hz), u"vol"_s};
            return runTool(u"sox"_s, QStringList{u"-n"_s} << format << file << tone << QString::number(volume));
        };
        if (!synth(dir + u"quiet.wav"_s, 0.5, 500, 0.007) || !synth(dir + u"tone.wav"_s, loud, 1000, 0.5)
            || !runTool(u"sox"_s, {dir + u"quiet.wav"_s, dir + u"tone.wav"_s, wav}))
            return {};
        if (!mp3)
            return wav;
        return runTool(u"lame"_s, {u"--quiet"_s, u"-b"_s, u"128"_s, wav, out}) ? out : QString();
    }

    PulseAudioTestServer server;
    PulseAudioServer pulse{u"nimbel-tests"_s};
    PulseAudioPlayback output{pulse};
    VoiceOutputService voice{output, SystemClock::instance()};
};

// (A WAV clip: the held clip's test.)
TEST_F(PlaybackTest, PlaysFromItsLeadInToTheEndAndStoppingSilencesItAtOnce)
{
    const QByteArray data = readFile(clip(u"answer"_s, 1.0, true));
    ASSERT_FALSE(data.isEmpty());
    const double leadIn = VoiceLeadIn::offset(data);
    EXPECT_NEAR(leadIn, 0.47, 0.015);

    SpeakerRecording speakers(server, server.folder() + u"/speakers.raw"_s);
    const Result<Done, PlaybackFailure> played = finished(voice.playAndWait(data, leadIn));
    EXPECT_TRUE(played.ok());
    EXPECT_FALSE(voice.isPlaying());
    const std::vector<float> heard = speakers.finish();

    // The murmur before the tone is heard for the 30 ms margin only, not for half a second.
    const auto murmur = firstAbove(heard, 0.003f);
    const auto tone = firstAbove(heard, 0.1f);
    ASSERT_TRUE(murmur && tone);
    EXPECT_GT(*tone, *murmur);
    EXPECT_LT(double(*tone - *murmur) / monitorRate, 0.08);
    // The whole tone plays.
    EXPECT_NEAR(loudSeconds(heard), 1.0, 0.1);

    SpeakerRecording again(server, server.folder() + u"/stopped.raw"_s);
    std::stop_source stop;
    const auto outcome = started(voice.playAndWait(readFile(clip(u"long"_s, 4.0, true)), 0.5, stop.get_token()));
    waitUntil([] { return false; }, 500);
    stop.request_stop();
    ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }, 2000));
    ASSERT_FALSE((*outcome)->ok());
    EXPECT_TRUE((*outcome)->error().cancelled());
    EXPECT_FALSE(voice.isPlaying());
    // Half a second played, then nothing of the 3.5 s that remained.
    const double stopped = loudSeconds(again.finish());
    EXPECT_GT(stopped, 0.2);
    EXPECT_LT(stopped, 1.0);
}

TEST_F(PlaybackTest, AHeldClipFallsSilentAndPlaysOnToItsEndOnceReleased)
{
    const QByteArray data = readFile(clip(u"held"_s, 1.0, false));
    const double leadIn = VoiceLeadIn::offset(data);
    SpeakerRecording speakers(server, server.folder() + u"/speakers.raw"_s);
    // Held before it starts: nothing is heard until the release.
    voice.setHeld(true);
    const auto outcome = started(voice.playAndWait(data, leadIn));
    waitUntil([] { return false; }, 400);
    voice.setHeld(false);
    waitUntil([] { return false; }, 300);
    // Held in the middle: the wait lasts as much longer.
    voice.setHeld(true);
    waitUntil([] { return false; }, 800);
    voice.setHeld(false);
    ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }, 5000));
    EXPECT_TRUE((*outcome)->ok());
    const std::vector<float> heard = speakers.finish();

    const auto tone = firstAbove(heard, 0.1f);
    ASSERT_TRUE(tone);
    EXPECT_GT(double(*tone) / monitorRate, 0.3);
    std::size_t loud = 0, quiet = 0, longestQuiet = 0;
    for (std::size_t i = *tone; i < heard.size(); ++i) {
        if (std::fabs(heard[i]) > 0.1f) {
            ++loud;
            longestQuiet = std::max(longestQuiet, quiet);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    // The tone plays on past where a wait without holds would end (0.3 s; 87% of a sine at 0.5
    // is above 0.1), around the pause. A server that runs dry plays less of it, never more.
    EXPECT_GT(double(loud) / monitorRate, 0.6);
    EXPECT_LT(double(loud) / monitorRate, 0.95);
    EXPECT_GT(double(longestQuiet) / monitorRate, 0.6);
    EXPECT_GT(loudSeconds(heard), 1.5);
}

TEST_F(PlaybackTest, UnplayableAudioOrAGoneServerIsAClearFailure)
{
    const QByteArray mp3 = readFile(clip(u"cut"_s, 2.0, true));
    for (const QByteArray &bad : {mp3.left(200), QByteArray(4096, '\0'), QByteArrayLiteral("{\"error\":\"quota\"}")}) {
        const Result<Done, PlaybackFailure> played = finished(voice.playAndWait(bad, 0.0));
        ASSERT_FALSE(played.ok());
        EXPECT_EQ(played.error().error, VoiceOutputError::invalidAudio);
    }
    // A skip beyond the end leaves the last 50 ms.
    const Result<double, VoiceOutputError> remaining = voice.play(mp3, 60.0);
    ASSERT_TRUE(remaining.ok());
    EXPECT_NEAR(remaining.value(), 0.05, 1e-9);
    voice.stop();

    // With the server gone, playback fails without hanging.
    server.kill();
    const Result<double, VoiceOutputError> played = voice.play(mp3, 0.0);
    ASSERT_FALSE(played.ok());
    EXPECT_EQ(played.error(), VoiceOutputError::playbackFailed);
}

} // namespace
