// End-to-end voice latency of the built assistant against the local platform.
//
//   scripts/with-session build-release/bench/voice/voice_latency_bench
//
// A private PulseAudio server carries espeak-ng questions into the virtual
// microphone; the speakers' monitor and the microphone's feed are both read
// live in this process, so one clock times the end of the owner's speech, the
// first sound the assistant makes (the cached first line), the first sound of
// the answer itself, and, when "stop" is said over an answer, the moment the
// speakers go quiet. The platform answers transcriptions after a fixed 300 ms
// and syntheses after a fixed 150 ms. Ten turns; median and worst of each.
#include "AppLaunch.h"
#include "PulseAudioTestServer.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <optional>
#include <sys/prctl.h>

using namespace nimbel::test;

namespace {

constexpr int turns = 10;
constexpr int rate = 16000;
constexpr int window = rate / 100; // 10 ms
constexpr int transcriptionDelayMs = 300;
constexpr int speechDelayMs = 150;

QElapsedTimer &timeline()
{
    static QElapsedTimer timer;
    return timer;
}

// Loudness of one PulseAudio device, window by window, on this process's timeline.
class Monitor
{
public:
    explicit Monitor(const QString &device)
    {
        m_process.start(QStringLiteral("parec"), {QStringLiteral("--device=") + device, QStringLiteral("--raw"),
                                                  QStringLiteral("--format=float32le"), QStringLiteral("--channels=1"),
                                                  QStringLiteral("--rate=") + QString::number(rate),
                                                  QStringLiteral("--latency-msec=5")});
        m_process.waitForStarted();
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { read(); });
    }
    ~Monitor()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }

    // Windows louder than 0.01 (their end on the timeline, in ms).
    const std::vector<double> &loud() const { return m_loud; }
    std::optional<double> firstLoudAfter(double ms) const
    {
        const auto it = std::upper_bound(m_loud.begin(), m_loud.end(), ms);
        return it == m_loud.end() ? std::nullopt : std::optional<double>(*it);
    }
    // The last loud window before the first quiet stretch of `quietMs` after `ms`.
    std::optional<double> lastLoudBeforeQuiet(double ms, double quietMs) const
    {
        std::optional<double> last;
        for (double t : m_loud) {
            if (t < ms)
                continue;
            if (last && t - *last > quietMs)
                return last;
            last = t;
        }
        if (last && now() - *last > quietMs)
            return last;
        return std::nullopt;
    }
    double now() const { return double(timeline().nsecsElapsed()) / 1e6; }

private:
    void read()
    {
        const double arrived = now();
        m_pending += m_process.readAllStandardOutput();
        const qsizetype samples = m_pending.size() / qsizetype(sizeof(float));
        const qsizetype windows = samples / window;
        const auto *data = reinterpret_cast<const float *>(m_pending.constData());
        for (qsizetype w = 0; w < windows; ++w) {
            double sum = 0;
            for (int i = 0; i < window; ++i)
                sum += double(data[w * window + i]) * data[w * window + i];
            const double end = arrived - double(samples - (w + 1) * window) * 1000.0 / rate;
            if (std::sqrt(sum / window) > 0.01)
                m_loud.push_back(end);
        }
        m_pending.remove(0, windows * window * qsizetype(sizeof(float)));
    }

    QProcess m_process;
    QByteArray m_pending;
    std::vector<double> m_loud;
};

void endWithBench(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

struct Figures
{
    std::vector<double> firstSound, firstAnswerSound, bargeInSilence;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double worst(const std::vector<double> &values)
{
    return values.empty() ? NAN : *std::max_element(values.begin(), values.end());
}

class Conversation
{
public:
    QString failure;

    bool start()
    {
        QDir(home.path()).mkpath(QStringLiteral("platform"));
        env = privateProfile(home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        QJsonArray transcripts;
        for (int i = 0; i < turns; ++i)
            transcripts << QStringLiteral("What is the weather like") << QStringLiteral("stop");
        const QJsonObject reply{
            {QStringLiteral("match"), QStringLiteral("weather")},
            {QStringLiteral("sentences"),
             QJsonArray{QStringLiteral("It is sunny on the local platform today."),
                        QStringLiteral("Twenty degrees, with no wind at all and a clear blue sky."),
                        QStringLiteral("Later a few clouds will come in from the west, but it will stay dry."),
                        QStringLiteral("Tomorrow looks much the same, with a light breeze in the afternoon.")}}};
        QFile script(home.filePath(QStringLiteral("script.json")));
        script.open(QIODevice::WriteOnly);
        script.write(QJsonDocument(QJsonObject{
                                       {QStringLiteral("chat"), QJsonObject{{QStringLiteral("pause_ms"), 0},
                                                                            {QStringLiteral("replies"), QJsonArray{reply}}}},
                                       {QStringLiteral("transcription"), QJsonObject{{QStringLiteral("sequence"), transcripts}}}})
                         .toJson());
        script.close();
        endWithBench(platform);
        platform.start(QStringLiteral(NIMBEL_PLATFORM_BINARY),
                       {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--state-dir"),
                        home.filePath(QStringLiteral("platform")), QStringLiteral("--script"), script.fileName(),
                        QStringLiteral("--transcription-delay-ms"), QString::number(transcriptionDelayMs),
                        QStringLiteral("--speech-delay-ms"), QString::number(speechDelayMs)});
        if (!platform.waitForStarted(10000) || !platform.waitForReadyRead(30000))
            return fail(QStringLiteral("the platform did not start"));
        const auto match = QRegularExpression(QStringLiteral(R"((http://127\.0\.0\.1:\d+))")).match(QString::fromUtf8(platform.readLine()));
        if (!match.hasMatch())
            return fail(QStringLiteral("the platform named no address"));
        const QString base = match.captured(1);
        const QString link = QJsonDocument::fromJson(run(QStringLiteral("curl"), {QStringLiteral("-fsS"), QStringLiteral("-X"), QStringLiteral("POST"),
                                                                                   base + QStringLiteral("/desktop-agent/connect?format=json")})
                                                         .toUtf8())
                                 .object()
                                 .value(u"link")
                                 .toString();
        endWithBench(app);
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(NIMBEL_APP_BINARY), {link});
        if (!app.waitForStarted(10000) || !waitUntil([&] { return records().contains(u"handled=true"); }, 60000))
            return fail(QStringLiteral("pairing failed: ") + records());
        // Again past the introduction: an ordinary start shows only the launcher.
        QThread::sleep(2);
        app.terminate();
        app.waitForFinished(10000);
        QSettings(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat)
            .setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
        app.start(QStringLiteral(NIMBEL_APP_BINARY), {});
        if (!app.waitForStarted(10000) || !waitUntil([&] { return records().contains(u"event=startup"); }, 60000))
            return fail(QStringLiteral("the assistant did not start again: ") + records());
        // The opening lines are synthesised after the configuration arrives.
        QThread::sleep(4);
        return true;
    }

    ~Conversation()
    {
        for (QProcess *process : {&app, &platform}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
        }
    }

    QString records()
    {
        m_records += QString::fromUtf8(app.readAllStandardError());
        return m_records;
    }

    bool clickOrb() { return nimbel::test::clickOrb(app.processId()) || fail(QStringLiteral("no launcher window")); }

    bool fail(const QString &why)
    {
        failure = why;
        return false;
    }

private:
    QTemporaryDir home;
    QProcessEnvironment env;
    QProcess platform;
    QProcess app;
    QString m_records;
};

// Processes events for `ms` milliseconds.
void pump(int ms)
{
    waitUntil([] { return false; }, ms);
}

void BM_VoiceConversationLatency(benchmark::State &state)
{
    for (auto _ : state) {
        PulseAudioTestServer pulse;
        timeline().start();
        Conversation conversation;
        if (!pulse.isRunning() || !conversation.start()) {
            state.SkipWithError(conversation.failure.toUtf8().constData());
            return;
        }
        const QString question = spokenFile(pulse.folder(), QStringLiteral("question"), QStringLiteral("en"),
                                            QStringLiteral("What is the weather like"), 0.2, 0.2);
        const QString stop = spokenFile(pulse.folder(), QStringLiteral("stop"), QStringLiteral("en"), QStringLiteral("stop"),
                                        0.2, 0.2);
        Monitor speakers(QStringLiteral("speakers.monitor"));
        Monitor microphone(QStringLiteral("mic_feed.monitor"));
        if (!conversation.clickOrb()) {
            state.SkipWithError(conversation.failure.toUtf8().constData());
            return;
        }
        // The greeting plays, then the session listens.
        pump(6000);

        Figures figures;
        for (int turn = 0; turn < turns; ++turn) {
            const double before = microphone.now();
            auto feed = pulse.playIntoMicrophone(question);
            waitUntil([&] { return feed->state() == QProcess::NotRunning; }, 20000);
            pump(400);
            const auto ended = microphone.lastLoudBeforeQuiet(before, 300);
            // The first line, then the answer's first sentences.
            pump(3500);
            if (!ended)
                continue;
            const auto first = speakers.firstLoudAfter(*ended);
            if (!first)
                continue;
            figures.firstSound.push_back(*first - *ended);
            const QString log = conversation.records();
            const qsizetype lastFirstLine = log.lastIndexOf(u"first_line=");
            const bool lineSpoken = lastFirstLine >= 0 && !log.mid(lastFirstLine, 16).startsWith(u"first_line=none");
            // After a spoken first line, the answer is the first sound after the line's end.
            double answer = *first;
            if (lineSpoken) {
                if (const auto lineEnd = speakers.lastLoudBeforeQuiet(*first, 120))
                    if (const auto next = speakers.firstLoudAfter(*lineEnd))
                        answer = *next;
            }
            figures.firstAnswerSound.push_back(answer - *ended);

            // Talk over the answer: "stop" silences it.
            const double stopAt = microphone.now();
            auto over = pulse.playIntoMicrophone(stop);
            waitUntil([&] { return over->state() == QProcess::NotRunning; }, 20000);
            pump(1500);
            if (const auto spoken = microphone.firstLoudAfter(stopAt)) {
                if (const auto silent = speakers.lastLoudBeforeQuiet(*spoken, 400))
                    figures.bargeInSilence.push_back(std::max(0.0, *silent - *spoken));
            }
            // Stopped: the session listens again.
            pump(2500);
        }
        state.counters["turns"] = double(figures.firstSound.size());
        state.counters["first_sound_median_ms"] = median(figures.firstSound);
        state.counters["first_sound_worst_ms"] = worst(figures.firstSound);
        state.counters["first_answer_sound_median_ms"] = median(figures.firstAnswerSound);
        state.counters["first_answer_sound_worst_ms"] = worst(figures.firstAnswerSound);
        state.counters["barge_in_silence_median_ms"] = median(figures.bargeInSilence);
        state.counters["barge_in_silence_worst_ms"] = worst(figures.bargeInSilence);
        std::fprintf(stderr, "%s\n", qPrintable(conversation.records()));
    }
}
BENCHMARK(BM_VoiceConversationLatency)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
