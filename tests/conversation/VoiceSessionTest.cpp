#include "ViewModelHarness.h"
#include "conversation/FallbackBargeInGuard.h"
#include "conversation/VoiceGreetingPolicy.h"
#include "conversation/VoiceSentencePipeline.h"
#include "voice/AudioOutput.h"
#include "voice/OnDeviceTranscriber.h"
#include "voice/SpeechRecognizer.h"
#include "voice/VoiceOutputService.h"
#include "voice/WavFile.h"

#include <functional>
#include <vector>

namespace nimbel::test {
namespace {

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

TEST(FallbackBargeInGuardTest, InterruptsOnlyForTheOwnersOwnWords)
{
    struct Case { const char16_t *heard, *reference; bool interrupts; };
    const Case cases[] = {
        {u"Stop!", u"stop talking now please", true},
        {u"Субтитры сделал кто-то", u"", false},
        {u"what about tomorrow", u"", true},
        {u"the weather is sunny", u"Today the weather is sunny and warm.", false},
        {u"sunny warm today weather cold", u"today the weather is sunny and warm", false}, // 4 of 5
        {u"sunny warm today rain cold", u"today the weather is sunny and warm", true},    // 3 of 5
    };
    for (const Case &c : cases)
        EXPECT_EQ(FallbackBargeInGuard::shouldInterrupt(QStringView(c.heard), QStringView(c.reference)),
                  c.interrupts)
            << QString::fromUtf16(c.heard).toStdString();
}

TEST(VoiceGreetingPolicyTest, PrefixesGreetingsThatDoNotGreet)
{
    struct Case { const char16_t *configured, *language, *spoken; };
    const Case cases[] = {
        {u"Hi, Orion here.", u"en", u"Hi, Orion here."},
        {u" How can I help? ", u"en", u"Hello, I’m here. How can I help?"},
        {u"", u"en", u"Hello, I’m here. How can I help?"},
        {u"", u"ru", u"Привет, я здесь. Чем могу помочь?"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(VoiceGreetingPolicy::connectionGreeting(QString::fromUtf16(c.configured),
                                                          QString::fromUtf16(c.language)),
                  QString::fromUtf16(c.spoken));
}

class EnglishOnlyRecognizer final : public SpeechRecognizer
{
public:
    bool supports(const QString &locale) const override { return locale == u"en-US"; }
    std::optional<QString> recognize(const QString &, const std::vector<std::int16_t> &) override
    {
        return u"what time is it"_s;
    }
};

QByteArray silentRecording()
{
    const std::vector<std::int16_t> samples(1600, 0);
    return wav::encodeRecording(samples.data(), samples.size());
}

class VoiceSessionTest : public ViewModelHarness
{
protected:
    std::unique_ptr<OverlayViewModel> makeSession(OnDeviceTranscriber *transcriber = nullptr)
    {
        onDevice = transcriber;
        auto model = makeConnected();
        model->toggleListening();
        clock.advance(VoiceSession::greetingDelay);
        clock.settle();
        return model;
    }
    // The greeting's run plays out and the session listens again.
    void finishSpeech()
    {
        voice.queued.clear();
        voice.events.runEnded(false);
        clock.advance(VoiceSession::resumeAfterSpeech);
        clock.settle();
    }
};

TEST_F(VoiceSessionTest, StartGreetsThenListensAndEndingCancelsAPendingTranscription)
{
    auto model = makeSession();
    EXPECT_TRUE(model->isVoiceSessionActive());
    ASSERT_EQ(voice.spoken, QStringList{u"Hello there."_s});
    EXPECT_TRUE(model->isSpeaking());
    EXPECT_EQ(microphone.starts, 1); // the owner may talk over the greeting
    finishSpeech();
    EXPECT_EQ(microphone.starts, 2);

    model->voiceSession().handleAudioReady(silentRecording());
    ASSERT_EQ(gateway.transcriptions.size(), 1);
    EXPECT_EQ(gateway.transcriptions[0]->language, u"en"_s);
    model->toggleListening();
    EXPECT_TRUE(gateway.transcriptions[0]->isStopped());
    reply(gateway.transcriptions[0], u"late question"_s);
    EXPECT_FALSE(model->isVoiceSessionActive());
    EXPECT_TRUE(gateway.chats.isEmpty());
}

TEST_F(VoiceSessionTest, EachResumeWaitsItsOwnDelay)
{
    struct Case
    {
        const char *name;
        Milliseconds delay;
        std::function<void(OverlayViewModel &)> trigger;
    };
    const Case cases[] = {
        {"unmute", VoiceSession::resumeAfterUnmute,
         [](OverlayViewModel &m) {
             m.muteMicrophone(true);
             m.muteMicrophone(false);
         }},
        {"rejected barge-in", VoiceSession::resumeAfterRejectedBargeIn,
         [](OverlayViewModel &m) { m.voiceSession().applyVoiceTranscript(u"thank you"_s, true, {}); }},
        {"failed transcription", VoiceSession::resumeAfterFailedTranscription,
         [this](OverlayViewModel &m) {
             m.voiceSession().handleAudioReady(silentRecording());
             reply(gateway.transcriptions.last(), GatewayFailure(VisionGatewayError::server(500, {})));
         }},
    };
    auto model = makeSession();
    finishSpeech();
    for (const Case &c : cases) {
        const int before = microphone.starts;
        c.trigger(*model);
        clock.advance(c.delay - 1ms);
        EXPECT_EQ(microphone.starts, before) << c.name;
        clock.advance(1ms);
        clock.settle();
        EXPECT_EQ(microphone.starts, before + 1) << c.name;
    }
}

TEST_F(VoiceSessionTest, ResumesAreDeclinedWhileSpeakingOrMutedAndWhenOneIsQueued)
{
    auto model = makeSession();
    const int starts = microphone.starts;
    model->resumeVoiceSessionIfNeeded(10ms); // the greeting still plays
    clock.advance(1s);
    EXPECT_EQ(microphone.starts, starts);
    finishSpeech();
    model->voiceSession().handleMicrophoneState(MicrophoneState::idle);
    model->voiceSession().handleMicrophoneState(MicrophoneState::idle);
    clock.advance(VoiceSession::resumeAfterIdle - 1ms);
    EXPECT_EQ(microphone.starts, starts + 1); // the resume after speech
    clock.advance(1s);
    EXPECT_EQ(microphone.starts, starts + 2); // then one of the two

    // A question asked meanwhile cancels a pending resume, and its running request keeps the session waiting.
    model->resumeVoiceSessionIfNeeded(350ms);
    ask(*model, u"Tell me a story"_s, false);
    voice.queued.clear(); // its opening line has played: only the turn holds the session
    model->resumeVoiceSessionIfNeeded(350ms);
    clock.advance(1s);
    EXPECT_EQ(microphone.starts, starts + 2);
    reply(gateway.chats.last(), u"The end."_s);
    voice.queued.clear();
    model->resumeVoiceSessionIfNeeded(350ms);
    clock.advance(350ms);
    EXPECT_EQ(microphone.starts, starts + 3);

    // Muting twice is muting once, and a muted session does not listen again.
    model->muteMicrophone(true);
    const int finishes = microphone.finishes;
    model->muteMicrophone(true);
    EXPECT_EQ(microphone.finishes, finishes);
    model->resumeVoiceSessionIfNeeded(10ms);
    clock.advance(1s);
    EXPECT_EQ(microphone.starts, starts + 3);
}

TEST_F(VoiceSessionTest, BargeInStopsTheAnswerOnlyForTheOwnersWords)
{
    auto model = makeSession();
    // Speech over the greeting holds it at once; a filler lets it play on.
    const int starts = microphone.starts;
    model->voiceSession().handleSpeechStarted();
    EXPECT_TRUE(voice.held);
    model->voiceSession().handleFinalTranscript(u"thank you"_s);
    EXPECT_FALSE(voice.held);
    model->voiceSession().handleMicrophoneState(MicrophoneState::idle);
    clock.advance(VoiceSession::bargeInRestartDelay);
    clock.settle();
    EXPECT_EQ(microphone.starts, starts + 1);
    EXPECT_TRUE(model->isSpeaking());
    EXPECT_TRUE(gateway.chats.isEmpty());
    // That run's hold is spent: echo is getting through, so more speech waits for its transcript.
    model->voiceSession().handleSpeechStarted();
    EXPECT_FALSE(voice.held);

    // Later runs play on after speech with nothing to transcribe, a mute, or a filler.
    const auto speakingAnAnswer = [&] {
        finishSpeech();
        model->voiceSession().enqueueVoiceSentence(u"It is sunny."_s);
        model->voiceSession().handleSpeechStarted();
        EXPECT_TRUE(voice.held);
    };
    speakingAnAnswer();
    model->voiceSession().handleMicrophoneState(MicrophoneState::idle);
    EXPECT_FALSE(voice.held);
    speakingAnAnswer();
    model->muteMicrophone(true);
    EXPECT_FALSE(voice.held);
    model->muteMicrophone(false);
    for (const QString &transcript : {u"thank you"_s, u"stop"_s}) {
        speakingAnAnswer();
        model->voiceSession().handleAudioReady(silentRecording());
        model->voiceSession().handleMicrophoneState(MicrophoneState::idle);
        EXPECT_TRUE(voice.held); // while the turn is transcribed
        reply(gateway.transcriptions.last(), transcript);
        EXPECT_FALSE(voice.held);
    }
    EXPECT_FALSE(model->isSpeaking());
    EXPECT_TRUE(voice.queued.isEmpty());
    EXPECT_EQ(model->speechStatusMessage(), u"Stopped"_s);
    EXPECT_TRUE(model->isVoiceSessionActive());
}

TEST_F(VoiceSessionTest, FailedPlatformTranscriptionFallsBackOnDeviceInEnglishAndExplainsInRussian)
{
    EnglishOnlyRecognizer recognizer;
    OnDeviceTranscriber transcriber(recognizer);
    for (const AppLanguage language : {AppLanguage::en, AppLanguage::ru}) {
        preferences.setString(keys::zelmAppLanguage, language == AppLanguage::ru ? u"ru"_s : u"en"_s);
        auto model = makeSession(&transcriber);
        finishSpeech();
        model->voiceSession().handleAudioReady(silentRecording());
        gateway.transcriptions.last()->answer(GatewayFailure::transport(QNetworkReply::ConnectionRefusedError, {}));
        ASSERT_TRUE(settleUntil([&] { return !model->voiceSession().isTranscribing(); }));
        if (language == AppLanguage::en) {
            ASSERT_FALSE(gateway.chats.isEmpty());
            EXPECT_EQ(model->messages()[model->messages().size() - 1].text, u"what time is it"_s);
        } else {
            EXPECT_EQ(model->speechStatusMessage(),
                      QuestionTurnController::transcriptionFailureMessage(
                          GatewayFailure::transport(QNetworkReply::ConnectionRefusedError, {})));
            EXPECT_TRUE(model->question().isEmpty());
        }
        gateway.chats.clear();
    }
}

// ---- The sentence pipeline, over the real player and a silent output ----

class SilentOutput final : public AudioOutput
{
    class Player final : public AudioPlayer
    {
    public:
        void stop() override {}
        void setHeld(bool) override {}
    };

public:
    std::unique_ptr<AudioPlayer> play(std::shared_ptr<const DecodedAudio>, std::size_t, float, bool) override
    {
        ++plays;
        return std::make_unique<Player>();
    }
    int plays = 0;
};

TEST(VoiceAudioCacheTest, KeepsAtMostTwentyFourEntriesAndEightMebibytes)
{
    VoiceAudioCache cache;
    for (int i = 0; i < 30; ++i)
        cache.insert(QString::number(i), QByteArray(10, 'a'));
    EXPECT_EQ(cache.count(), VoiceAudioCache::countLimit);
    EXPECT_FALSE(cache.find(u"5"_s));
    EXPECT_TRUE(cache.find(u"6"_s)); // now the most recent: survives the next evictions
    cache.insert(u"big"_s, QByteArray(VoiceAudioCache::costLimit - 25, 'b'));
    EXPECT_TRUE(cache.find(u"6"_s));
    EXPECT_TRUE(cache.find(u"big"_s));
    EXPECT_LE(cache.cost(), VoiceAudioCache::costLimit);
    cache.insert(u"huge"_s, QByteArray(VoiceAudioCache::costLimit + 1, 'c'));
    EXPECT_FALSE(cache.find(u"huge"_s));
}

TEST(VoiceSentencePipelineTest, SpeaksInOrderSharesSynthesesAndEndsARunOnFailure)
{
    VirtualClock clock;
    FakeVisionGateway gateway(clock);
    SilentOutput output;
    VoiceOutputService player(output, clock);
    VoiceSentencePipeline pipeline(gateway, player, clock, AppLanguage::en);
    QList<bool> ends;
    pipeline.setEvents({.target = [] { return SpeechTarget{u"u"_s, u"k"_s, u"a"_s}; },
                        .linePlayed = {},
                        .runEnded = [&](bool failed) { ends.append(failed); }});
    const std::vector<std::int16_t> tone(8000, 3000); // half a second
    const QByteArray clip = wav::encodeRecording(tone.data(), tone.size());

    pipeline.prewarm({u"One moment."_s}, {u"u"_s, u"k"_s, u"a"_s});
    pipeline.enqueue(u"One moment."_s);
    pipeline.enqueue(u"Second."_s);
    clock.settle();
    ASSERT_EQ(gateway.syntheses.size(), 1); // the prewarm and the run share one request
    EXPECT_EQ(gateway.syntheses[0]->pace, 0.85);
    gateway.syntheses[0]->answer(clip);
    clock.settle();
    EXPECT_TRUE(pipeline.hasCachedAudio(u"u"_s, u"a"_s, u"One moment."_s));
    clock.advance(500ms);
    clock.settle();
    ASSERT_EQ(gateway.syntheses.size(), 2);
    EXPECT_EQ(gateway.syntheses[1]->text, u"Second."_s);
    gateway.syntheses[1]->answer(GatewayFailure(VisionGatewayError::server(500, {})));
    clock.settle();
    EXPECT_EQ(ends, QList<bool>{true});
    EXPECT_FALSE(pipeline.isActive());

    // A stopped run reports nothing; the cached line plays without a request.
    pipeline.enqueue(u"One moment."_s);
    clock.settle();
    EXPECT_EQ(output.plays, 2);
    pipeline.stop();
    clock.advance(1s);
    clock.settle();
    EXPECT_EQ(ends, QList<bool>{true});
    EXPECT_EQ(gateway.syntheses.size(), 2);
}

} // namespace
} // namespace nimbel::test
