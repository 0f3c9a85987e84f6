#include "PulseAudioTestServer.h"
#include "conversation/TaskRunner.h"
#include "voice/OnDeviceTranscriber.h"
#include "voice/WavFile.h"
#include "voice/linux/PocketSphinxRecognizer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

using namespace nimbel;
using namespace Qt::StringLiterals;
using Error = OnDeviceTranscriber::TranscriberError;

namespace {

// espeak-ng saying `text`, as a 16 kHz mono 16-bit recording.
QByteArray spoken(const QString &text)
{
    QTemporaryDir dir;
    const QString raw = dir.filePath(u"raw.wav"_s), out = dir.filePath(u"turn.wav"_s);
    test::runTool(u"espeak-ng"_s, {u"-v"_s, u"en-us+f2"_s, u"-s"_s, u"150"_s, u"-w"_s, raw, text});
    test::runTool(u"sox"_s, {raw, u"-r"_s, u"16000"_s, u"-c"_s, u"1"_s, u"-b"_s, u"16"_s, out});
    return test::readFile(out);
}

Result<QString, Error> transcribed(OnDeviceTranscriber &transcriber, const QByteArray &wav, const QString &language)
{
    const auto out = test::started(transcriber.transcribe(wav, language));
    EXPECT_TRUE(test::waitUntil([&] { return out->has_value(); }, 120000)) << "the transcription never ended";
    return out->value_or(Error(Error::emptyTranscript));
}

class Transcription : public testing::Test
{
protected:
    static PocketSphinxRecognizer &recognizer()
    {
        static PocketSphinxRecognizer shared;
        return shared;
    }
    OnDeviceTranscriber transcriber{recognizer()};
};

TEST_F(Transcription, AnEnglishTurnBecomesItsWordsAndItsLiveDraftGrowsAsItIsHeard)
{
    ASSERT_TRUE(recognizer().supports(u"en-US"_s));
    const QByteArray wav = spoken(u"tell me about the president of the united states"_s);
    const Result<QString, Error> text = transcribed(transcriber, wav, u"en"_s);
    ASSERT_TRUE(text.ok()) << text.error().message().toStdString();
    for (const char *word : {"president", "united", "states"})
        EXPECT_TRUE(text.value().contains(QLatin1String(word))) << text.value().toStdString();

    // The same words, fed in 20 ms pieces as the microphone hears them.
    const std::optional<DecodedAudio> audio = wav::decode(wav);
    ASSERT_TRUE(audio);
    std::mutex lock;
    QStringList drafts;
    const auto last = [&] {
        const std::lock_guard guard(lock);
        return drafts.isEmpty() ? QString() : drafts.last();
    };
    {
        auto draft = recognizer().begin(u"en-US"_s, [&](QString text) {
            const std::lock_guard guard(lock);
            drafts << text;
        });
        ASSERT_TRUE(draft);
        std::vector<std::int16_t> samples;
        for (float s : audio->audio.samples)
            samples.push_back(std::int16_t(s * 32767.0f));
        for (std::size_t at = 0; at < samples.size(); at += 320)
            draft->append(samples.data() + at, std::min<std::size_t>(320, samples.size() - at));
        test::waitUntil([&] { return last().contains(u"states"_s); }, 60000);
    }
    EXPECT_TRUE(last().contains(u"states"_s)) << drafts.join(u'|').toStdString();
}

TEST_F(Transcription, RussianSilenceAndNonsenseMakeNothing)
{
    // Russian codes in any spelling ask for the Russian model, which is not installed.
    const Result<QString, Error> russian = transcribed(transcriber, spoken(u"hello"_s), u"Ru_ru"_s);
    ASSERT_FALSE(russian.ok());
    EXPECT_EQ(russian.error(), Error::unavailableFor(u"ru-RU"_s));
    EXPECT_FALSE(recognizer().begin(u"ru-RU"_s, [](QString) {}));

    const std::vector<std::int16_t> silence(16000, 0);
    for (const QByteArray &wav :
         {wav::encodeRecording(silence.data(), silence.size()), QByteArrayLiteral("RIFF....WAVEjunk")}) {
        const Result<QString, Error> text = transcribed(transcriber, wav, u"en"_s);
        ASSERT_FALSE(text.ok());
        EXPECT_EQ(text.error(), Error(Error::emptyTranscript));
    }
}

} // namespace
