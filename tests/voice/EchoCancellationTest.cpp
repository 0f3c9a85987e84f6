#include "PulseAudioTestServer.h"

#include "core/SystemClock.h"
#include "voice/EchoCanceller.h"
#include "voice/SpeechRecognitionService.h"
#include "voice/WavFile.h"
#include "voice/linux/PulseAudioCapture.h"
#include "voice/linux/PulseAudioPlayback.h"
#include "voice/linux/PulseAudioServer.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

using namespace nimbel;
using namespace nimbel::test;
using namespace Qt::StringLiterals;
using State = SpeechRecognitionService::State;

namespace {

// The assistant answering in several sentences, played through the speakers,
// whose monitor is looped back into the microphone as loudspeakers in a room would.
class EchoTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning());
        ASSERT_TRUE(canceller);
        ASSERT_TRUE(server.pactl({u"load-module"_s, u"module-loopback"_s, u"source=speakers.monitor"_s,
                                  u"sink=mic_feed"_s, u"latency_msec=40"_s}));
        const QString file = spokenFile(
            server.folder(), u"answer"_s, u"en-us"_s,
            QStringLiteral("The wallpaper setting is in the appearance section. Open the system menu first. "
                           "Then choose the picture you like and press apply. It changes at once."),
            0.0, 0.5);
        std::optional<DecodedAudio> decoded = wav::decode(readFile(file));
        ASSERT_TRUE(decoded);
        answer = std::make_shared<DecodedAudio>(std::move(*decoded));
        playback.setEchoCanceller(canceller.get());
    }

    void listen(bool cancelling)
    {
        service = std::make_unique<SpeechRecognitionService>(capture, SystemClock::instance(), recordings.path());
        service->onAudioReady = [this](const QByteArray &bytes) { delivered.push_back(bytes); };
        if (cancelling)
            service->setEchoCanceller(canceller.get());
        service->startListening();
        ASSERT_TRUE(waitUntil([&] { return service->state() == State::listening; }));
    }

    // A turn has begun once its recording exists (or has already been delivered).
    bool heardATurn() const
    {
        return !delivered.empty()
               || !QDir(recordings.path()).entryList({u"zelm-voice-*"_s}, QDir::Files).isEmpty();
    }

    PulseAudioTestServer server;
    QTemporaryDir recordings;
    PulseAudioServer pulse{u"nimbel-tests"_s};
    PulseAudioCapture capture{pulse};
    PulseAudioPlayback playback{pulse};
    std::unique_ptr<EchoCanceller> canceller = EchoCanceller::create();
    std::shared_ptr<const DecodedAudio> answer;
    std::unique_ptr<SpeechRecognitionService> service;
    std::vector<QByteArray> delivered;
};

struct EchoCase { const char *name; bool cancelling; bool heard; };

class OwnVoice : public EchoTest, public testing::WithParamInterface<EchoCase> {};

TEST_P(OwnVoice, StartsATurnOnlyWithoutTheCanceller)
{
    listen(GetParam().cancelling);
    auto player = playback.play(answer, 0, 1.0f, false);
    ASSERT_TRUE(player);
    // Over the whole answer (its end included), or until the echo is taken for the owner.
    const bool heard = waitUntil([&] { return heardATurn(); }, int(answer->duration() * 1000) + 1500);
    EXPECT_EQ(heard, GetParam().heard);
}

INSTANTIATE_TEST_SUITE_P(Loudspeakers, OwnVoice,
                         testing::Values(EchoCase{"cancelled", true, false}, EchoCase{"control", false, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(EchoTest, TheOwnerSpeakingOverAnAnswerIsStillHeard)
{
    const QString owner = spokenFile(server.folder(), u"owner"_s, u"en-us"_s,
                                     u"Stop, show me the display settings instead."_s, 0.0, 0.0);
    ASSERT_FALSE(owner.isEmpty());
    listen(true);
    auto player = playback.play(answer, 0, 1.0f, false);
    ASSERT_TRUE(player);
    // Long enough into the answer for the canceller to have learnt the room.
    ASSERT_FALSE(waitUntil([&] { return heardATurn(); }, 3000));
    auto speaking = server.playIntoMicrophone(owner);
    EXPECT_TRUE(waitUntil([&] { return heardATurn(); }, 10000));
}

// How much of the echo the canceller removes, once it has learnt the room.
TEST_F(EchoTest, SuppressesTheEchoByAtLeastTwentyDecibels)
{
    const std::optional<AudioInput::Format> format = capture.open(QString());
    ASSERT_TRUE(format);
    ASSERT_TRUE(canceller->begin(format->sampleRate, format->channels));
    std::mutex lock;
    double start = -1.0;
    double rawEnergy = 0.0;
    double cleanedEnergy = 0.0;
    std::size_t rawCount = 0;
    std::size_t cleanedCount = 0;
    std::vector<float> cleaned;
    const std::size_t channels = format->channels;
    ASSERT_TRUE(capture.start(
        [&](const float *samples, std::size_t frames, double time) {
            cleaned.clear();
            canceller->process(samples, frames, cleaned);
            std::lock_guard guard(lock);
            if (start < 0.0)
                start = time;
            // The first five seconds are the canceller's to adapt in (and its damping while it does).
            if (time - start < 5.0)
                return;
            for (std::size_t i = 0; i < frames * channels; ++i)
                rawEnergy += double(samples[i]) * samples[i];
            rawCount += frames * channels;
            for (float s : cleaned)
                cleanedEnergy += double(s) * s;
            cleanedCount += cleaned.size();
        },
        [] {}));
    auto player = playback.play(answer, 0, 1.0f, false);
    ASSERT_TRUE(player);
    waitUntil([] { return false; }, int(answer->duration() * 1000));
    capture.stop();
    canceller->end();
    ASSERT_GT(rawCount, 0u);
    ASSERT_GT(cleanedCount, 0u);
    const double raw = rawEnergy / double(rawCount);
    const double rest = std::max(cleanedEnergy / double(cleanedCount), 1e-12);
    ASSERT_GT(raw, 1e-5) << "the echo did not reach the microphone";
    const double suppression = 10.0 * std::log10(raw / rest);
    std::cout << "echo suppression: " << suppression << " dB\n";
    RecordProperty("echo_suppression_db", std::to_string(suppression));
    EXPECT_GT(suppression, 20.0);
}

} // namespace
