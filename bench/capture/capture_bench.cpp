// Capture and encoding speed.
//
//   scripts/with-session build/bench/capture/capture_bench
//
// Capture: another application shows a 1920 × 1080 window (seeded noise) at the
// top-left of the screen and is activated; each iteration is one whole
// captureCurrentContext() (window-server snapshot, pixel read on the worker
// thread, hand-back to the main thread), and the display capture likewise.
// Two more split the window capture into the snapshot and the pixel read.
// Encoding: a 2048 × 1365 screen-like picture (text lines on panels) and a
// 2048 × 1365 noise picture (the ladder's worst case) under each policy.
// Each benchmark runs repeatedly and reports the median.
#include "screen/ScreenImageEncoder.h"
#include "screen/linux/X11FrontmostAppTracker.h"
#include "screen/linux/X11ScreenCaptureAccess.h"
#include "screen/linux/X11Scene.h"
#include "screen/linux/X11ScreenCaptureService.h"
#include "screen/linux/X11ScreenGrabber.h"

#include "core/SystemClock.h"
#include "support/TaskResult.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <QCoro/QCoroTask>

#include <future>
#include <memory>
#include <optional>

using namespace nimbel;
using nimbel::test::finish;

namespace {
constexpr int repetitions = 15;

// The other application's window and the services that capture it.
struct CaptureScene
{
    QProcess window;
    std::unique_ptr<X11FrontmostAppTracker> tracker;
    X11ScreenCaptureAccess access;
    std::unique_ptr<X11ScreenCaptureService> service;
    QString failure;

    CaptureScene()
    {
        if (QGuiApplication::platformName() != u"xcb") {
            failure = QStringLiteral("needs an X display (run it under scripts/with-session)");
            return;
        }
        window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        window.start(QStringLiteral(NIMBEL_SAMPLE_WINDOW),
                     {"--instance", "benchwindow", "--class", "BenchWindow", "--title", "Bench", "--size",
                      "1920x1080", "--position", "0,0", "--frameless", "--noise"});
        QByteArray line;
        QElapsedTimer timer;
        timer.start();
        while (!line.contains('\n') && timer.elapsed() < 30000) {
            window.waitForReadyRead(100);
            line += window.readAllStandardOutput();
        }
        if (!line.startsWith("ready ")) {
            failure = QStringLiteral("the sample window did not start");
            return;
        }
        tracker = std::make_unique<X11FrontmostAppTracker>();
        QProcess::execute(QStringLiteral("xdotool"), {"windowactivate", "--sync", QString::fromLatin1(line.mid(6).trimmed())});
        timer.restart();
        while (!tracker->lastExternalApplication() && timer.elapsed() < 15000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        if (!tracker->lastExternalApplication()) {
            failure = QStringLiteral("the sample window was never activated");
            return;
        }
        service = std::make_unique<X11ScreenCaptureService>(*tracker, access, SystemClock::instance());
    }
    ~CaptureScene()
    {
        service.reset();
        window.kill();
        window.waitForFinished(3000);
    }
};

CaptureScene &captureScene()
{
    static CaptureScene scene;
    return scene;
}

void BM_CaptureWindow1920x1080(benchmark::State &state)
{
    CaptureScene &scene = captureScene();
    if (!scene.failure.isEmpty()) {
        state.SkipWithError(scene.failure.toUtf8().constData());
        return;
    }
    for (auto _ : state) {
        const CaptureResult result = finish(scene.service->captureCurrentContext());
        if (!result || result->metadata.kind != CaptureKind::window || result->image.size() != QSize(1920, 1080)) {
            state.SkipWithError("the capture did not yield the 1920 × 1080 window");
            return;
        }
        benchmark::DoNotOptimize(result->image.constBits());
    }
}

// No application tracked: the capture falls back to the display under the pointer.
class NoApplication final : public FrontmostAppTracker
{
public:
    std::optional<RunningApplication> lastExternalApplication() const override { return std::nullopt; }
};

void BM_CaptureDisplay1920x1080(benchmark::State &state)
{
    CaptureScene &scene = captureScene();
    if (!scene.failure.isEmpty()) {
        state.SkipWithError(scene.failure.toUtf8().constData());
        return;
    }
    NoApplication nothing;
    X11ScreenCaptureService service(nothing, scene.access, SystemClock::instance());
    for (auto _ : state) {
        const CaptureResult result = finish(service.captureCurrentContext());
        if (!result || result->metadata.kind != CaptureKind::display) {
            state.SkipWithError("the display capture failed");
            return;
        }
        benchmark::DoNotOptimize(result->image.constBits());
    }
}

// Runs `work` on a worker thread and waits, as the service does: large
// buffers behave differently on the main thread's heap (every 8 MB buffer is
// returned to the system and faulted in again), which production never sees.
// (A QFuture waited on here would run its task on the waiting thread.)
template<typename Work>
auto onWorker(Work work)
{
    return std::async(std::launch::async, std::move(work)).get();
}

// Where the window capture's time goes: the window-server snapshot alone,
// and the pixels alone (a snapshot taken once).
void BM_ReadScene(benchmark::State &state)
{
    CaptureScene &scene = captureScene();
    if (!scene.failure.isEmpty()) {
        state.SkipWithError(scene.failure.toUtf8().constData());
        return;
    }
    auto connection = X11Connection::open();
    DesktopEntryIndex entries;
    for (auto _ : state) {
        const qsizetype windows = onWorker([&] {
            return readScene(*connection.value(), entries, AssistantIdentity::current()).windows.size();
        });
        benchmark::DoNotOptimize(windows);
    }
}

void BM_ReadWindowPixels1920x1080(benchmark::State &state)
{
    CaptureScene &scene = captureScene();
    if (!scene.failure.isEmpty()) {
        state.SkipWithError(scene.failure.toUtf8().constData());
        return;
    }
    auto connection = X11Connection::open();
    DesktopEntryIndex entries;
    const X11Scene snapshot = readScene(*connection.value(), entries, AssistantIdentity::current());
    const auto target = chooseWindowTarget(scene.tracker->lastExternalApplication(), snapshot.windows,
                                           snapshot.frontToBack, snapshot.screens);
    if (!target) {
        state.SkipWithError("no window target");
        return;
    }
    for (auto _ : state) {
        const bool read = onWorker([&] {
            X11ScreenGrabber grabber(*connection.value(), snapshot);
            auto image = grabber.window(target->window);
            return image && image.value() && image.value()->size() == QSize(1920, 1080);
        });
        if (!read) {
            state.SkipWithError("the window could not be read");
            return;
        }
    }
}

// Panels and lines of text, like an application window.
QImage screenLike()
{
    QImage image(2048, 1365, QImage::Format_RGB32);
    image.fill(QColor(246, 247, 249));
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, 2048, 64), QColor(36, 41, 47));
    painter.fillRect(QRect(0, 64, 360, 1301), QColor(232, 235, 240));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(17);
    painter.setFont(font);
    QRandomGenerator random(5);
    const QStringList words{"Settings", "account", "Сохранить", "изменения", "network", "profile", "Продолжить",
                            "notifications", "privacy", "storage", "update", "данные", "language", "display"};
    for (int y = 100; y < 1340; y += 30) {
        QString line;
        for (int w = 0; w < 10; ++w)
            line += words[random.bounded(words.size())] + u' ';
        painter.setPen(QColor(30, 30, 30));
        painter.drawText(400, y, line);
        if (y % 150 == 10) {
            painter.fillRect(QRect(1600, y - 20, 180, 30), QColor(37, 99, 235));
            painter.setPen(Qt::white);
            painter.drawText(1620, y, QStringLiteral("Save changes"));
        }
    }
    for (int y = 90; y < 1340; y += 40) {
        painter.setPen(QColor(60, 60, 60));
        painter.drawText(20, y, words[random.bounded(words.size())]);
    }
    return image;
}

QImage noise()
{
    QImage image(2048, 1365, QImage::Format_RGB32);
    QRandomGenerator random(9);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}

void encode(benchmark::State &state, const QImage &image, const ScreenImageEncodingPolicy &policy)
{
    ScreenImageEncoder encoder;
    qint64 bytes = 0;
    for (auto _ : state) {
        // Through the encoder's own worker thread, as the application uses it.
        const auto jpeg = QCoro::waitFor(encoder.jpegData(image, policy));
        if (!jpeg) {
            state.SkipWithError("encoding failed");
            return;
        }
        bytes = jpeg->size();
    }
    state.counters["jpeg_bytes"] = double(bytes);
}

void BM_EncodeScreen_detailedVision(benchmark::State &state)
{
    static const QImage image = screenLike();
    encode(state, image, ScreenImageEncodingPolicy::detailedVision());
}
void BM_EncodeScreen_vision(benchmark::State &state)
{
    static const QImage image = screenLike();
    encode(state, image, ScreenImageEncodingPolicy::vision());
}
void BM_EncodeNoise_detailedVision(benchmark::State &state)
{
    static const QImage image = noise();
    encode(state, image, ScreenImageEncodingPolicy::detailedVision());
}
void BM_EncodeNoise_vision(benchmark::State &state)
{
    static const QImage image = noise();
    encode(state, image, ScreenImageEncodingPolicy::vision());
}
} // namespace

#define NIMBEL_MEDIAN_BENCHMARK(name)                                                                        \
    BENCHMARK(name)->Unit(benchmark::kMillisecond)->Repetitions(repetitions)->ReportAggregatesOnly(true)    \
        ->UseRealTime()

NIMBEL_MEDIAN_BENCHMARK(BM_CaptureWindow1920x1080);
NIMBEL_MEDIAN_BENCHMARK(BM_CaptureDisplay1920x1080);
NIMBEL_MEDIAN_BENCHMARK(BM_ReadScene);
NIMBEL_MEDIAN_BENCHMARK(BM_ReadWindowPixels1920x1080);
NIMBEL_MEDIAN_BENCHMARK(BM_EncodeScreen_detailedVision);
NIMBEL_MEDIAN_BENCHMARK(BM_EncodeScreen_vision);
NIMBEL_MEDIAN_BENCHMARK(BM_EncodeNoise_detailedVision);
NIMBEL_MEDIAN_BENCHMARK(BM_EncodeNoise_vision);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
