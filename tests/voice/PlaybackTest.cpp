#include "PulseAudioTestServer.h"

#include "core/SystemClock.h"
#include "voice/SessionCueService.h"
#include "voice/VoiceLeadIn.h"
#include "voice/VoiceOutputService.h"
#include "voice/linux/PulseAudioPlayback.h"
#include "voice/linux/PulseAudioServer.h"

#include <QCoro/QCoroTask>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>

using namespace nimbel;
using namespace nimbel::test;

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
        QFile file(m_path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
        std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
        return samples;
    }

private:
    QString m_path;
    std::unique_ptr<QProcess> m_process;
};

std::optional<std::size_t> firstAbove(const std::vector<float> &samples, float level, std::size_t from = 0)
{
    for (std::size_t i = from; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > level)
            return i;
    }
    return std::nullopt;
}

double loudSeconds(const std::vector<float> &samples)
{
    const auto first = firstAbove(samples, 0.1f);
    if (!first)
        return 0.0;
    std::size_t last = *first;
    for (std::size_t i = *first; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > 0.1f)
            last = i;
    }
    return double(last - *first) / monitorRate;
}

QCoro::Task<void> keep(QCoro::Task<Result<Done, PlaybackFailure>> task,
                       std::optional<Result<Done, PlaybackFailure>> *out)
{
    out->emplace(co_await std::move(task));
}

Result<Done, PlaybackFailure> finished(QCoro::Task<Result<Done, PlaybackFailure>> task)
{
    std::optional<Result<Done, PlaybackFailure>> out;
    keep(std::move(task), &out);
    waitUntil([&] { return out.has_value(); }, 30000);
    return out.value_or(PlaybackFailure{VoiceOutputError::playbackFailed});
}

class PlaybackTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.isRunning()); }

    // 0.5 s of a murmur too quiet to count as sound (but audible on the monitor), then `loud` s of a tone.
    QString clip(const QString &name, double loud, bool mp3)
    {
        const QString dir = server.folder() + QLatin1Char('/');
        const QString wav = dir + name + QStringLiteral(".wav"), out = dir + name + QStringLiteral(".mp3");
        const QStringList format{QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"),
                                 QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16")};
        const auto synth = [&](const QString &file, double seconds, int hz, double volume) {
            return runTool(QStringLiteral("sox"), QStringList{QStringLiteral("-n")} + format + QStringList{file,
                           QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"),
                           QString::number(hz), QStringLiteral("vol"), QString::number(volume)});
        };
        if (!synth(dir + QStringLiteral("quiet.wav"), 0.5, 500, 0.007) || !synth(dir + QStringLiteral("tone.wav"), loud, 1000, 0.5)
            || !runTool(QStringLiteral("sox"), {dir + QStringLiteral("quiet.wav"), dir + QStringLiteral("tone.wav"), wav}))
            return {};
        if (!mp3)
            return wav;
        return runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("128"), wav, out})
                   ? out : QString();
    }

    static QByteArray bytes(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    PulseAudioTestServer server;
    PulseAudioServer pulse{QStringLiteral("nimbel-tests")};
    PulseAudioPlayback output{pulse};
    VoiceOutputService voice{output, SystemClock::instance()};
};

class ClipFormats : public PlaybackTest, public testing::WithParamInterface<bool>
{
};

TEST_P(ClipFormats, PlaysFromItsLeadInToTheEnd)
{
    const QByteArray data = bytes(clip(QStringLiteral("answer"), 1.0, GetParam()));
    ASSERT_FALSE(data.isEmpty());
    const double leadIn = VoiceLeadIn::offset(data);
    EXPECT_NEAR(leadIn, 0.47, 0.015);

    SpeakerRecording speakers(server, server.folder() + QStringLiteral("/speakers.raw"));
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
}

INSTANTIATE_TEST_SUITE_P(Formats, ClipFormats, testing::Values(true, false),
                         [](const auto &info) { return std::string(info.param ? "mp3" : "wav"); });

TEST_F(PlaybackTest, StoppingSilencesTheClipAtOnce)
{
    const QByteArray data = bytes(clip(QStringLiteral("long"), 4.0, true));
    SpeakerRecording speakers(server, server.folder() + QStringLiteral("/speakers.raw"));
    std::stop_source stop;
    std::optional<Result<Done, PlaybackFailure>> outcome;
    keep(voice.playAndWait(data, 0.5, stop.get_token()), &outcome);
    waitUntil([] { return false; }, 500);
    stop.request_stop();
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }, 2000));
    ASSERT_FALSE(outcome->ok());
    EXPECT_TRUE(outcome->error().cancelled());
    EXPECT_FALSE(voice.isPlaying());
    const std::vector<float> heard = speakers.finish();
    // Half a second played, then nothing of the 3.5 s that remained.
    EXPECT_GT(loudSeconds(heard), 0.2);
    EXPECT_LT(loudSeconds(heard), 1.0);
}

TEST_F(PlaybackTest, UnplayableAudioOrAGoneServerIsAClearFailure)
{
    const QByteArray mp3 = bytes(clip(QStringLiteral("cut"), 2.0, true));
    for (const QByteArray &bad : {QByteArray(), mp3.left(mp3.size() / 2), QByteArrayLiteral("{\"error\":\"quota\"}")}) {
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

TEST_F(PlaybackTest, TheCuesSound)
{
    SessionCueService cues(output);
    for (const auto cue : {SessionCueService::Cue::connect, SessionCueService::Cue::disconnect}) {
        SpeakerRecording speakers(server, server.folder() + QStringLiteral("/cue.raw"));
        cues.play(cue);
        waitUntil([] { return false; }, 500);
        const std::vector<float> heard = speakers.finish();
        EXPECT_GT(loudSeconds(heard), 0.15) << SessionCueService::name(cue).toStdString();
        EXPECT_LT(loudSeconds(heard), 0.35);
    }
}

} // namespace
