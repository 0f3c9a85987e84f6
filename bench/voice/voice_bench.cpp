// Voice speed and memory.
//
//   build/bench/voice/voice_bench
//
// Tap: one 1024-frame 48 kHz stereo buffer through the recording's tap (level,
// detector, pre-roll before speech; level, conversion to 16 kHz and the write
// once recording). Turn end: against a private PulseAudio server, the work
// after the settle delay has run out (stopping the input, closing, reading and
// deleting the recording) until the WAV is delivered. Lead-in: a 10-second MP3.
// Transcription: a 5-second spoken turn through PocketSphinx. Memory: resident
// size while a 15-second monologue is recorded. Medians of repeated runs.
#include "PulseAudioTestServer.h"
#include "support/VirtualClock.h"

#include "core/SystemClock.h"
#include "voice/SpeechRecognitionService.h"
#include "voice/SpeechTap.h"
#include "voice/VoiceLeadIn.h"
#include "voice/WavFile.h"
#include "voice/linux/PocketSphinxRecognizer.h"
#include "voice/linux/PulseAudioCapture.h"
#include "voice/linux/PulseAudioServer.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <unistd.h>

using namespace nimbel;
using namespace nimbel::test;

namespace {

constexpr int repetitions = 15;

std::vector<float> stereoBuffer(float amplitude)
{
    std::vector<float> buffer(2 * 1024);
    for (std::size_t f = 0; f < 1024; ++f)
        buffer[2 * f] = buffer[2 * f + 1] = amplitude * float(std::sin(2.0 * M_PI * 220.0 * double(f) / 48000.0));
    return buffer;
}

void BM_TapBeforeSpeech(benchmark::State &state)
{
    QTemporaryDir dir;
    SpeechActivityMonitor monitor;
    SpeechAudioPreRollBuffer preRoll(48000.0);
    SpeechTap tap(monitor, preRoll, std::move(SpeechAudioDownsampler::create(48000.0, 2)).value(), 2,
                  dir.filePath(QStringLiteral("take.wav")));
    const std::vector<float> quiet = stereoBuffer(0.001f);
    double time = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tap.process(quiet.data(), 1024, time));
        time += 1024.0 / 48000.0;
    }
}

void BM_TapRecording(benchmark::State &state)
{
    QTemporaryDir dir;
    SpeechActivityMonitor monitor;
    SpeechAudioPreRollBuffer preRoll(48000.0);
    SpeechTap tap(monitor, preRoll, std::move(SpeechAudioDownsampler::create(48000.0, 2)).value(), 2,
                  dir.filePath(QStringLiteral("take.wav")));
    const std::vector<float> loud = stereoBuffer(0.3f);
    double time = 0.0;
    for (int i = 0; i < 3; ++i, time += 0.02)
        tap.process(loud.data(), 1024, time);
    if (!tap.hasFile())
        state.SkipWithError("speech did not start");
    for (auto _ : state) {
        const SpeechTap::Outcome outcome = tap.process(loud.data(), 1024, time);
        if (outcome.failed)
            state.SkipWithError("write failed");
        time += 1024.0 / 48000.0;
    }
    tap.close();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void BM_LeadInOfTenSecondMp3(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("answer.wav"));
    const QString mp3 = dir.filePath(QStringLiteral("answer.mp3"));
    if (!runTool(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("24000"), wav,
                                         QStringLiteral("synth"), QStringLiteral("10"), QStringLiteral("sine"),
                                         QStringLiteral("300"), QStringLiteral("pad"), QStringLiteral("0.4")})
        || !runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, mp3})) {
        state.SkipWithError("sox or lame failed");
        return;
    }
    const QByteArray data = readAll(mp3);
    for (auto _ : state)
        benchmark::DoNotOptimize(VoiceLeadIn::offset(data));
}

void BM_TranscribeFiveSecondTurn(benchmark::State &state)
{
    static PocketSphinxRecognizer recognizer;
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("raw.wav"));
    const QString turn = dir.filePath(QStringLiteral("turn.wav"));
    if (!runTool(QStringLiteral("espeak-ng"),
                 {QStringLiteral("-v"), QStringLiteral("en-us+f2"), QStringLiteral("-s"), QStringLiteral("150"),
                  QStringLiteral("-w"), raw,
                  QStringLiteral("tell me about the president of the united states and show me the news about the "
                                 "economy")})
        || !runTool(QStringLiteral("sox"), {raw, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
                                            QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), turn,
                                            QStringLiteral("pad"), QStringLiteral("0"), QStringLiteral("5"),
                                            QStringLiteral("trim"), QStringLiteral("0"), QStringLiteral("5")})) {
        state.SkipWithError("espeak-ng or sox failed");
        return;
    }
    const std::optional<DecodedAudio> audio = wav::decode(readAll(turn));
    std::vector<std::int16_t> samples;
    for (float s : audio->audio.samples)
        samples.push_back(std::int16_t(s * 32767.0f));
    recognizer.recognize(QStringLiteral("en-US"), samples); // loads the model
    for (auto _ : state)
        benchmark::DoNotOptimize(recognizer.recognize(QStringLiteral("en-US"), samples));
}

// One real turn against a private server, driven by a virtual clock so that
// the settle delay can be stepped over and only the work after it is timed.
void BM_TurnEndAfterTheSettleDelay(benchmark::State &state)
{
    PulseAudioTestServer server;
    const QString speech = spokenFile(server.folder(), QStringLiteral("turn"), QStringLiteral("en-us"),
                                      QStringLiteral("open the settings"), 0.3, 2.0);
    PulseAudioServer pulse(QStringLiteral("nimbel-bench"));
    PulseAudioCapture capture(pulse);
    for (auto _ : state) {
        VirtualClock clock;
        QTemporaryDir dir;
        SpeechRecognitionService service(capture, clock, dir.path());
        bool delivered = false;
        service.onAudioReady = [&](const QByteArray &) { delivered = true; };
        service.startListening();
        waitUntil([&] {
            clock.settle();
            return service.state() == SpeechRecognitionService::State::listening;
        });
        auto player = server.playIntoMicrophone(speech);
        // The deadline and the settle timer are pending once the end of speech was handled.
        if (!waitUntil([&] {
                clock.settle();
                return clock.pendingTimers() == 2;
            })) {
            state.SkipWithError("speech did not end");
            return;
        }
        QElapsedTimer timer;
        timer.start();
        clock.advance(SpeechRecognitionService::settleDelay);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (!delivered) {
            state.SkipWithError("nothing delivered");
            return;
        }
        state.SetIterationTime(seconds);
    }
}

long residentKilobytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    statm.open(QIODevice::ReadOnly);
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

void BM_MemoryDuringFifteenSecondTurn(benchmark::State &state)
{
    PulseAudioTestServer server;
    const QString tone = server.folder() + QStringLiteral("/monologue.wav");
    runTool(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"), tone,
                                    QStringLiteral("synth"), QStringLiteral("17"), QStringLiteral("sine"),
                                    QStringLiteral("300"), QStringLiteral("vol"), QStringLiteral("0.2")});
    PulseAudioServer pulse(QStringLiteral("nimbel-bench"));
    PulseAudioCapture capture(pulse);
    for (auto _ : state) {
        QTemporaryDir dir;
        SpeechRecognitionService service(capture, SystemClock::instance(), dir.path());
        QByteArray recording;
        service.onAudioReady = [&](const QByteArray &bytes) { recording = bytes; };
        service.startListening();
        waitUntil([&] { return service.state() == SpeechRecognitionService::State::listening; });
        const long before = residentKilobytes();
        long peak = before;
        auto player = server.playIntoMicrophone(tone);
        waitUntil([&] {
            peak = std::max(peak, residentKilobytes());
            return !recording.isEmpty();
        }, 30000);
        state.counters["rss_growth_while_recording_kB"] = double(peak - before);
        state.counters["recording_kB"] = double(recording.size()) / 1024.0;
        state.counters["recording_s"] = double(recording.size() - 44) / 32000.0;
    }
}

} // namespace

BENCHMARK(BM_TapBeforeSpeech)->Unit(benchmark::kMicrosecond)->Repetitions(repetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_TapRecording)->Unit(benchmark::kMicrosecond)->Repetitions(repetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_LeadInOfTenSecondMp3)->Unit(benchmark::kMillisecond)->Repetitions(repetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_TranscribeFiveSecondTurn)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(BM_TurnEndAfterTheSettleDelay)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->UseManualTime();
BENCHMARK(BM_MemoryDuringFifteenSecondTurn)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
