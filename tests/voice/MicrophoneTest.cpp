#include "PulseAudioTestServer.h"

#include "core/SystemClock.h"
#include "voice/SpeechRecognitionService.h"
#include "voice/WavFile.h"
#include "voice/linux/PulseAudioCapture.h"
#include "voice/linux/PulseAudioServer.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <unistd.h>

using namespace nimbel;
using namespace nimbel::test;
using namespace Qt::StringLiterals;
using State = SpeechRecognitionService::State;

namespace {

// Seconds of quiet at the head of a recording.
double leadingQuiet(const DecodedAudio &audio)
{
    const auto &s = audio.audio.samples;
    const auto sound = std::find_if(s.begin(), s.end(), [](float v) { return std::fabs(v) > 0.02f; });
    return sound == s.end() ? audio.duration() : double(sound - s.begin()) / audio.sampleRate;
}

class MicrophoneTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning());
        ASSERT_TRUE(recordings.isValid());
    }

    SpeechRecognitionService &makeService(Clock &clock)
    {
        service = std::make_unique<SpeechRecognitionService>(capture, clock, recordings.path());
        service->onStateChange = [this](State state) { states.push_back(state); };
        service->onAudioReady = [this](const QByteArray &bytes) { delivered.push_back(bytes); };
        service->onError = [this](const SpeechError &error) { errors.push_back(error); };
        service->onPermissionsChange = [this](const PermissionSnapshot &s) { permissions.push_back(s); };
        return *service;
    }

    QStringList recordingsOnDisk() const
    {
        return QDir(recordings.path()).entryList({u"zelm-voice-*"_s}, QDir::Files);
    }

    QString speech(const QString &voice, const QString &text, double before = 2.0, double after = 2.5)
    {
        return spokenFile(server.folder(), u"turn"_s, voice, text, before, after);
    }

    PulseAudioTestServer server;
    QTemporaryDir recordings;
    PulseAudioServer pulse{u"nimbel-tests"_s};
    PulseAudioCapture capture{pulse};
    std::unique_ptr<SpeechRecognitionService> service;
    std::vector<State> states;
    std::vector<QByteArray> delivered;
    std::vector<SpeechError> errors;
    std::vector<PermissionSnapshot> permissions;
};

TEST_F(MicrophoneTest, ASpokenTurnBecomesAnOwnerOnlyWavWithItsPreRollAndSilenceOrACancelledTurnNothing)
{
    SpeechRecognitionService &mic = makeService(SystemClock::instance());
    mic.startListening();
    mic.startListening(); // ignored while starting
    ASSERT_TRUE(waitUntil([&] { return mic.state() == State::listening; }));
    ASSERT_EQ(permissions.size(), 1u);
    EXPECT_EQ(permissions[0], (PermissionSnapshot{PermissionState::authorized, PermissionState::authorized}));
    // Silence is never recorded, and finishing then delivers nothing.
    waitUntil([] { return false; }, 1500);
    EXPECT_TRUE(recordingsOnDisk().isEmpty());
    mic.finishRecording(true);
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(states, (std::vector<State>{State::requestingPermission, State::listening, State::idle}));

    const QString feed = speech(u"en-us"_s, u"Where do I click to change the desktop wallpaper?"_s);
    ASSERT_FALSE(feed.isEmpty());
    const auto spoken = wav::decode(readFile(server.folder() + u"/turn-speech.wav"_s));
    ASSERT_TRUE(spoken);
    mic.startListening();
    ASSERT_TRUE(waitUntil([&] { return mic.state() == State::listening; }));
    auto player = server.playIntoMicrophone(feed);
    // While the owner speaks, the recording exists (written owner-only, as WavWriter's test shows).
    ASSERT_TRUE(waitUntil([&] { return !recordingsOnDisk().isEmpty() || !delivered.empty(); }));
    EXPECT_GT(mic.inputLevel(), 0.0f);

    ASSERT_TRUE(waitUntil([&] { return !delivered.empty(); }, 30000));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(mic.state(), State::idle);
    EXPECT_TRUE(recordingsOnDisk().isEmpty());
    const QByteArray &bytes = delivered[0];
    ASSERT_GT(bytes.size(), 44);
    EXPECT_EQ(bytes.left(44), wav::recordingHeader(std::uint32_t(bytes.size() - 44)));
    const auto recorded = wav::decode(bytes);
    ASSERT_TRUE(recorded);
    // The speech, up to 0.75 s before it, and up to 1.0 s of quiet plus the 0.25 s
    // settle after it (and a little delivery slack); never the 2 s of silence before it.
    const double length = recorded->duration();
    EXPECT_GT(length, spoken->duration() - 0.3);
    EXPECT_LT(length, spoken->duration() + 0.75 + 1.0 + 0.25 + 0.5);
    const double quiet = leadingQuiet(*recorded);
    EXPECT_GT(quiet, 0.4);
    EXPECT_LT(quiet, 0.8);
    EXPECT_EQ(mic.inputLevel(), 0.0f);

    // A turn finished without delivering while the owner speaks leaves nothing, then or later.
    mic.startListening();
    ASSERT_TRUE(waitUntil([&] { return mic.state() == State::listening; }));
    auto again = server.playIntoMicrophone(feed);
    ASSERT_TRUE(waitUntil([&] { return !recordingsOnDisk().isEmpty(); }));
    mic.finishWithoutDelivering();
    EXPECT_EQ(mic.state(), State::idle);
    EXPECT_TRUE(recordingsOnDisk().isEmpty());
    waitUntil([] { return false; }, 1500);
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(recordingsOnDisk().isEmpty());
}

TEST_F(MicrophoneTest, AnUnpluggedSourceOrAServerThatGoesAwayFailsTheTurnAndTheNextWorksAgain)
{
    SpeechRecognitionService &mic = makeService(SystemClock::instance());
    QSignalSpy sourcesChanged(&mic, &SpeechRecognitionService::inputSourcesChanged);
    const auto module = server.pactl({u"load-module"_s, u"module-remap-source"_s,
                                      u"source_name=headset"_s, u"master=mic_feed.monitor"_s});
    ASSERT_TRUE(module);
    // The list follows the server by itself.
    ASSERT_TRUE(waitUntil([&] { return mic.inputSourceNames().contains(u"headset"_s); }));
    EXPECT_TRUE(mic.inputSourceNames().contains(u"virtual_mic"_s));
    EXPECT_FALSE(mic.inputSourceNames().contains(u"speakers.monitor"_s));
    EXPECT_GE(sourcesChanged.count(), 1);
    EXPECT_EQ(mic.defaultInputSource(), u"virtual_mic"_s);

    // The chosen source is unplugged while listening.
    mic.setPreferredSource(u"headset"_s);
    mic.startListening();
    ASSERT_TRUE(waitUntil([&] { return mic.state() == State::listening; }));
    ASSERT_TRUE(server.pactl({u"unload-module"_s, module->trimmed()}));
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0], SpeechError::recordingFailed);
    EXPECT_EQ(mic.state(), State::unavailable);

    // The next turn hears the owner through the default; then the server goes away.
    const QString feed = speech(u"en-us"_s, u"Tell me what is on my screen right now"_s, 0.5, 3.0);
    mic.startListening();
    ASSERT_TRUE(waitUntil([&] { return mic.state() == State::listening; }));
    auto player = server.playIntoMicrophone(feed);
    ASSERT_TRUE(waitUntil([&] { return !recordingsOnDisk().isEmpty(); }));
    server.kill();
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 2; }));
    EXPECT_EQ(errors[1], SpeechError::recordingFailed);
    EXPECT_EQ(mic.state(), State::unavailable);
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(recordingsOnDisk().isEmpty());

    // With no server the next start says the input could not start, not that access was refused.
    mic.startListening();
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 3; }));
    EXPECT_EQ(errors[2], SpeechError::invalidAudioFormat);
    EXPECT_EQ(permissions.back().microphone, PermissionState::unknown);
    EXPECT_EQ(mic.state(), State::unavailable);

    // The server comes back: the microphone works again without a restart of ours.
    ASSERT_TRUE(server.restart());
    mic.startListening();
    ASSERT_TRUE(waitUntil([&] { return mic.state() == State::listening; }));
    auto again = server.playIntoMicrophone(feed);
    ASSERT_TRUE(waitUntil([&] { return !delivered.empty(); }, 30000));
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_EQ(mic.preferredSource(), u"headset"_s);
}

TEST(MicrophonePermission, AServerThatRefusesUsIsADeniedMicrophone)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root, to run the server as another user";
    PulseAudioTestServer server(false);
    ASSERT_TRUE(server.isRunning());
    QTemporaryDir recordings;
    PulseAudioServer pulse(u"nimbel-tests"_s);
    PulseAudioCapture capture(pulse);
    SpeechRecognitionService mic(capture, SystemClock::instance(), recordings.path());
    std::vector<PermissionSnapshot> permissions;
    std::optional<SpeechError> error;
    mic.onPermissionsChange = [&](const PermissionSnapshot &s) { permissions.push_back(s); };
    mic.onError = [&](const SpeechError &e) { error = e; };
    mic.startListening();
    ASSERT_TRUE(waitUntil([&] { return error.has_value(); }));
    EXPECT_EQ(*error, SpeechError::microphoneDenied);
    EXPECT_EQ(error->recovery(), ZelmRecovery::voicePrivacySettings);
    ASSERT_EQ(permissions.size(), 1u);
    EXPECT_EQ(permissions[0], (PermissionSnapshot{PermissionState::denied, PermissionState::authorized}));
    EXPECT_EQ(mic.state(), State::unavailable);
}

} // namespace
