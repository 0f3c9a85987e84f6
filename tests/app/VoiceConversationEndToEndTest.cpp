// A spoken conversation with the built assistant against the local platform,
// through a private PulseAudio server: the orb is clicked, a question spoken
// with espeak-ng goes into the virtual microphone, and what the assistant says
// is read back from the speakers' monitor. Talking over the answer stops it;
// the assistant's own voice coming back into the microphone does not.
#include "AssistantSession.h"
#include "PulseAudioTestServer.h"

#include <QFileInfo>
#include <QJsonArray>

#include <cmath>

using namespace nimbel::test;

namespace {

const QString firstQuestion = QStringLiteral("What is the weather like");
const QString secondQuestion = QStringLiteral("Tell me about the moon");
const QStringList longAnswer{
    QStringLiteral("It is sunny on the local platform."), QStringLiteral("Twenty degrees and no wind at all."),
    QStringLiteral("Later today a few clouds will come in from the west."),
    QStringLiteral("Tomorrow looks much the same, with a light breeze in the afternoon."),
    QStringLiteral("The weekend should stay dry and warm everywhere.")};

// Seconds of sound louder than `threshold` in raw float32 mono from `fromSecond` on.
double loudSeconds(const QString &rawFile, int rate, double fromSecond, float threshold = 0.01f)
{
    QFile file(rawFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    const auto *samples = reinterpret_cast<const float *>(bytes.constData());
    const qsizetype count = bytes.size() / qsizetype(sizeof(float));
    const qsizetype window = rate / 50;
    qsizetype loud = 0;
    for (qsizetype start = qsizetype(fromSecond * rate); start + window <= count; start += window) {
        double sum = 0;
        for (qsizetype i = start; i < start + window; ++i)
            sum += double(samples[i]) * samples[i];
        if (std::sqrt(sum / double(window)) > threshold)
            loud += window;
    }
    return double(loud) / rate;
}

class VoiceConversationEndToEnd : public AssistantSession
{
protected:
    // Declared first: the application started later finds it through PULSE_SERVER.
    PulseAudioTestServer pulse;
};

} // namespace

TEST_F(VoiceConversationEndToEnd, SpokenQuestionIsAnsweredAloudAndTalkingOverTheAnswerStopsIt)
{
    ASSERT_TRUE(pulse.isRunning());
    const QJsonObject weather{{QStringLiteral("match"), QStringLiteral("weather")},
                              {QStringLiteral("sentences"), QJsonArray::fromStringList(longAnswer)}};
    const QJsonObject moon{{QStringLiteral("match"), QStringLiteral("moon")},
                           {QStringLiteral("sentences"), QJsonArray{QStringLiteral("The moon is bright.")}}};
    ASSERT_NO_FATAL_FAILURE(startPlatform(
        {{QStringLiteral("chat"), QJsonObject{{QStringLiteral("pause_ms"), 100}, {QStringLiteral("replies"), QJsonArray{weather, moon}}}},
         {QStringLiteral("transcription"), QJsonObject{{QStringLiteral("sequence"), QJsonArray{firstQuestion, secondQuestion, firstQuestion, longAnswer[0]}}}}}));
    ASSERT_NO_FATAL_FAILURE(pair());
    // Past the introduction: an ordinary start shows only the launcher.
    QSettings(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat)
        .setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
    ASSERT_NO_FATAL_FAILURE(launch({}));
    QString launcher;
    ASSERT_TRUE(waitFor([&] { return !(launcher = panel(QSize(196, 188))).isEmpty(); })) << records().toStdString();

    constexpr int rate = 16000;
    const QString speakers = QDir(pulse.folder()).filePath(QStringLiteral("speakers.raw"));
    const auto recording = pulse.recordSpeakers(speakers, rate);
    const QString question = spokenFile(pulse.folder(), QStringLiteral("question"), QStringLiteral("en"), firstQuestion, 0.3, 1.2);
    const QString interruption =
        spokenFile(pulse.folder(), QStringLiteral("interruption"), QStringLiteral("en"), secondQuestion, 0.3, 1.2);
    ASSERT_FALSE(question.isEmpty());

    // The orb starts the session: the greeting is spoken, then the assistant listens.
    xdotool(QStringLiteral("mousemove --window %1 98 70 click 1").arg(launcher));
    ASSERT_TRUE(waitFor([&] { return records().contains(u"voice_line=Hello, I’m here. How can I help?"); }))
        << records().toStdString();
    EXPECT_GT(loudSeconds(speakers, rate, 0), 0.3);
    QThread::msleep(600);

    // The spoken question is transcribed, asked, and its answer heard sentence by sentence.
    const double asked = double(QFileInfo(speakers).size()) / sizeof(float) / rate;
    auto feed = pulse.playIntoMicrophone(question);
    ASSERT_TRUE(waitFor([&] { return count(journal(), QStringLiteral("/v1/desktop/chat")) == 1; })) << records().toStdString();
    ASSERT_TRUE(waitFor([&] { return records().contains(QStringLiteral("voice_line=") + longAnswer[0]); }))
        << records().toStdString();
    EXPECT_GT(loudSeconds(speakers, rate, asked), 0.5);

    // Talking over the answer silences it and asks the new question.
    auto overTalk = pulse.playIntoMicrophone(interruption);
    ASSERT_TRUE(waitFor([&] { return count(journal(), QStringLiteral("/v1/desktop/chat")) == 2; })) << records().toStdString();
    EXPECT_FALSE(records().contains(QStringLiteral("voice_line=") + longAnswer[4])) << records().toStdString();
    // The new question's answer is spoken.
    ASSERT_TRUE(waitFor([&] { return records().contains(u"voice_line=The moon is bright."); }))
        << records().toStdString();

    // Loudspeakers: all that plays comes back at full level, and what gets past the canceller
    // is transcribed as the answer's own words. The answer plays to its end, nothing is asked.
    ASSERT_TRUE(pulse.pactl({QStringLiteral("load-module"), QStringLiteral("module-loopback"),
                             QStringLiteral("source=speakers.monitor"), QStringLiteral("sink=mic_feed"),
                             QStringLiteral("latency_msec=20")}));
    const qsizetype mark = records().size();
    auto again = pulse.playIntoMicrophone(question);
    ASSERT_TRUE(waitFor([&] { return records().mid(mark).contains(QStringLiteral("voice_line=") + longAnswer[4]); }))
        << records().mid(mark).toStdString();
    const QString echoed = records().mid(mark);
    for (const QString &sentence : longAnswer)
        EXPECT_TRUE(echoed.contains(QStringLiteral("voice_line=") + sentence)) << sentence.toStdString();
    EXPECT_LE(echoed.count(u"speech_held"), 2) << echoed.toStdString();
    EXPECT_EQ(count(journal(), QStringLiteral("/v1/desktop/chat")), 3);

    // The platform fails a transcription and a synthesis once: the turn is transcribed
    // on the device and asked, no sentence is spoken twice, and the next turn is heard.
    ASSERT_TRUE(pulse.pactl({QStringLiteral("unload-module"), QStringLiteral("module-loopback")}));
    const auto once = [](int status) { return QJsonObject{{QStringLiteral("status"), status}, {QStringLiteral("times"), 1}}; };
    const QStringList rain{QStringLiteral("Rain is coming tonight."), QStringLiteral("Take an umbrella with you.")};
    const QJsonObject rainy{{QStringLiteral("match"), QStringLiteral("weather")}, {QStringLiteral("sentences"), QJsonArray::fromStringList(rain)}};
    ASSERT_NO_FATAL_FAILURE(writeScript(
        {{QStringLiteral("chat"), QJsonObject{{QStringLiteral("pause_ms"), 100}, {QStringLiteral("replies"), QJsonArray{rainy, moon}}}},
         {QStringLiteral("transcription"), QJsonObject{{QStringLiteral("sequence"), QJsonArray{secondQuestion}}}},
         {QStringLiteral("faults"), QJsonObject{{QStringLiteral("/v1/audio/transcriptions"), once(503)},
                                                {QStringLiteral("/v1/desktop/speech"), once(500)}}}}));
    // Spoken once the assistant listens again after its last line (and its capture has started).
    const auto listensAgain = [&] {
        return waitFor([&] { return records().lastIndexOf(u"platform_recording_started") > records().lastIndexOf(u"voice_line="); })
            && (QThread::msleep(600), true);
    };
    ASSERT_TRUE(listensAgain()) << records().toStdString();
    const qsizetype faultMark = records().size();
    auto fallback = pulse.playIntoMicrophone(question);
    ASSERT_TRUE(waitFor([&] { return !entry(journal(), QStringLiteral("/v1/desktop/speech"), 500).isEmpty(); }))
        << records().mid(faultMark).toStdString() << QJsonDocument(journal()).toJson().toStdString();
    EXPECT_FALSE(entry(journal(), QStringLiteral("/v1/audio/transcriptions"), 503).isEmpty());
    ASSERT_TRUE(waitFor([&] { return count(journal(), QStringLiteral("/v1/desktop/chat")) == 4; }));
    ASSERT_TRUE(listensAgain()) << records().mid(faultMark).toStdString();
    auto next = pulse.playIntoMicrophone(interruption);
    ASSERT_TRUE(waitFor([&] { return records().mid(faultMark).contains(u"voice_line=The moon is bright."); }))
        << records().mid(faultMark).toStdString() << QJsonDocument(journal()).toJson().toStdString();
    for (const QString &sentence : rain)
        EXPECT_LE(records().mid(faultMark).count(QStringLiteral("voice_line=") + sentence), 1) << sentence.toStdString();
    recording->terminate();
    recording->waitForFinished(5000);
}
