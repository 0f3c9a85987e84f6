#include "voice/OnDeviceTranscriber.h"
#include "voice/WavFile.h"
#include "voice/linux/PocketSphinxRecognizer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

using namespace nimbel;
using Error = OnDeviceTranscriber::TranscriberError;

namespace {

// espeak-ng saying `text`, as a 16 kHz mono 16-bit recording.
QByteArray spoken(const QString &text)
{
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("raw.wav"));
    const QString out = dir.filePath(QStringLiteral("turn.wav"));
    QProcess espeak;
    espeak.start(QStringLiteral("espeak-ng"), {QStringLiteral("-v"), QStringLiteral("en-us+f2"), QStringLiteral("-s"),
                                               QStringLiteral("150"), QStringLiteral("-w"), raw, text});
    espeak.waitForFinished(30000);
    QProcess sox;
    sox.start(QStringLiteral("sox"), {raw, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
                                      QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), out});
    sox.waitForFinished(30000);
    QFile file(out);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QCoro::Task<void> keep(QCoro::Task<Result<QString, Error>> task, std::optional<Result<QString, Error>> *out)
{
    out->emplace(co_await std::move(task));
}

Result<QString, Error> transcribed(OnDeviceTranscriber &transcriber, const QByteArray &wav, const QString &language)
{
    std::optional<Result<QString, Error>> out;
    keep(transcriber.transcribe(wav, language), &out);
    QDeadlineTimer deadline(120000);
    while (!out && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return out.value_or(Error(Error::emptyTranscript));
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

TEST(OnDeviceTranscriberLocale, RussianOnlyForRussianCodes)
{
    for (const char *code : {"ru", "RU", "ru-RU", "Ru_ru"})
        EXPECT_EQ(OnDeviceTranscriber::locale(QString::fromLatin1(code)), QStringLiteral("ru-RU")) << code;
    for (const char *code : {"en", "de", "", "uk"})
        EXPECT_EQ(OnDeviceTranscriber::locale(QString::fromLatin1(code)), QStringLiteral("en-US")) << code;
}

TEST_F(Transcription, AnEnglishTurnBecomesItsWords)
{
    ASSERT_TRUE(recognizer().supports(QStringLiteral("en-US")));
    const QByteArray wav = spoken(QStringLiteral("tell me about the president of the united states"));
    ASSERT_GT(wav.size(), 44);
    const Result<QString, Error> text = transcribed(transcriber, wav, QStringLiteral("en"));
    ASSERT_TRUE(text.ok()) << text.error().message().toStdString();
    for (const char *word : {"president", "united", "states"})
        EXPECT_TRUE(text.value().contains(QLatin1String(word))) << text.value().toStdString();
}

TEST_F(Transcription, RussianSilenceAndNonsenseMakeNothing)
{
    const Result<QString, Error> russian = transcribed(transcriber, spoken(QStringLiteral("hello")), QStringLiteral("ru"));
    ASSERT_FALSE(russian.ok());
    EXPECT_EQ(russian.error(), Error::unavailableFor(QStringLiteral("ru-RU")));
    EXPECT_EQ(russian.error().recovery(), ZelmRecovery::none);
    EXPECT_FALSE(recognizer().begin(QStringLiteral("ru-RU"), [](QString) {}));

    const std::vector<std::int16_t> silence(16000, 0);
    for (const QByteArray &wav :
         {wav::encodeRecording(silence.data(), silence.size()), QByteArrayLiteral("RIFF....WAVEjunk"), QByteArray()}) {
        const Result<QString, Error> text = transcribed(transcriber, wav, QStringLiteral("en"));
        ASSERT_FALSE(text.ok());
        EXPECT_EQ(text.error(), Error(Error::emptyTranscript));
    }
}

TEST_F(Transcription, TheLiveDraftGrowsWhileTheOwnerSpeaks)
{
    const std::optional<DecodedAudio> audio = wav::decode(spoken(QStringLiteral("show me the news about the economy")));
    ASSERT_TRUE(audio);
    std::mutex lock;
    QStringList drafts;
    {
        auto draft = recognizer().begin(QStringLiteral("en-US"), [&](QString text) {
            const std::lock_guard guard(lock);
            drafts << text;
        });
        ASSERT_TRUE(draft);
        std::vector<std::int16_t> samples;
        for (float s : audio->audio.samples)
            samples.push_back(std::int16_t(s * 32767.0f));
        for (std::size_t at = 0; at < samples.size(); at += 320)
            draft->append(samples.data() + at, std::min<std::size_t>(320, samples.size() - at));
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired()) {
            {
                const std::lock_guard guard(lock);
                if (!drafts.isEmpty() && drafts.last().contains(QStringLiteral("economy")))
                    break;
            }
            QThread::msleep(20);
        }
    }
    const std::lock_guard guard(lock);
    ASSERT_FALSE(drafts.isEmpty());
    EXPECT_TRUE(drafts.last().contains(QStringLiteral("economy"))) << drafts.join(u'|').toStdString();
}

} // namespace
