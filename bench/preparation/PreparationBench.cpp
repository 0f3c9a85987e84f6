// How soon a capture's two contexts (the accessibility summary and the
// prepared screen context) are ready, for a typical dialog and for a window
// of 200 buttons, through the view model over the real X11 capture, AT-SPI
// walk and on-device reading:
//   CaptureToContexts  from the capture's return to both contexts stored;
//   QuestionWait       how long a question asked the moment the capture
//                      returns waits for both (it joins the warm-ups);
//   ScreenContextAgain from the capture's return to its screen context, for a
//                      window read once before and unchanged since.
// Run inside a desktop session and report the medians:
//   scripts/with-session build/bench/preparation/preparation_bench
#include "AccessibilityTestSession.h"

#include "conversation/AccessibilityTrust.h"
#include "conversation/DesktopActions.h"
#include "conversation/LinkOpener.h"
#include "conversation/LoginItem.h"
#include "conversation/MicrophoneRecorder.h"
#include "conversation/OverlayViewModel.h"
#include "conversation/ScreenContextCoordinator.h"
#include "conversation/UpdateStatus.h"
#include "conversation/VoiceOutput.h"
#include "core/SystemClock.h"
#include "gateway/VisionGatewayClient.h"
#include "screen/ScreenImageEncoder.h"
#include "screen/LocalScreenContextPreparer.h"
#include "screen/linux/AtspiAccessibilityContextService.h"
#include "screen/linux/X11FrontmostAppTracker.h"
#include "screen/linux/X11ScreenCaptureAccess.h"
#include "screen/linux/X11ScreenCaptureService.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"
#include "support/TaskResult.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

using namespace nimbel;
using nimbel::test::finish;

namespace {

struct Trusted final : AccessibilityTrust
{
    bool isTrusted() const override { return true; }
};
struct Silent final : VoiceOutput
{
    void stop() override {}
    void setHeld(bool) override {}
    void enqueue(const QString &) override {}
    bool isActive() const override { return false; }
    bool hasCachedAudio(const QString &, const QString &, const QString &) const override { return false; }
};
struct NoMicrophone final : MicrophoneRecorder
{
    void finishWithoutDelivering() override {}
    void startListening() override {}
    QString liveDraft() const override { return {}; }
    MicrophoneState microphoneState() const override { return MicrophoneState::idle; }
    PermissionState authorization() override { return PermissionState::unknown; }
};
struct NoLogin final : LoginItem
{
    bool isEnabled() const override { return false; }
};
struct NoUpdates final : UpdateStatus
{
    bool canCheckForUpdates() const override { return false; }
    bool automaticallyChecksForUpdates() const override { return false; }
    std::optional<QString> lastError() const override { return std::nullopt; }
};
struct NoLinks final : LinkOpener
{
    bool open(const QUrl &) override { return false; }
};
struct NoDesktop final : DesktopActions
{
    bool relaunch() override { return false; }
    bool openSettings(SettingsPage) override { return false; }
};
struct Key final : TokenStore
{
    QString read() const override { return QStringLiteral("bench-key"); }
    std::optional<KeychainError> write(const QString &) override { return std::nullopt; }
};

// The assistant's screen side, as the application builds it, with a platform
// that is "connected" but never asked anything by the preparation.
struct Assistant
{
    Assistant()
        : settings(folder.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat)
        , preferences(&settings)
        , capture(tracker, access, SystemClock::instance())
    {
        // Nothing listens on the discard port: the start-up synchronisation fails at once.
        preferences.setString(keys::desktopPlatformBaseURL, QStringLiteral("http://127.0.0.1:9"));
        preferences.setString(keys::desktopConnectedAgentID, QStringLiteral("bench-agent"));
        OverlayViewModel::Services services{SystemClock::instance(), preferences, key,     voice,   microphone,
                                            trust,   access,      login,   updates, gateway, links,
                                            desktop, encoder};
        services.screenCapture = &capture;
        services.appTracker = &tracker;
        services.accessibilityContext = &walks;
        services.screenContextPreparer = &preparer;
        model = std::make_unique<OverlayViewModel>(services, OverlayViewModel::Launch{{}, {QStringLiteral("bench")}});
    }

    QTemporaryDir folder;
    QSettings settings;
    PreferencesStore preferences;
    Key key;
    Silent voice;
    NoMicrophone microphone;
    Trusted trust;
    X11ScreenCaptureAccess access;
    NoLogin login;
    NoUpdates updates;
    NoLinks links;
    NoDesktop desktop;
    VisionGatewayClient gateway{SystemClock::instance()};
    ScreenImageEncoder encoder;
    X11FrontmostAppTracker tracker;
    X11ScreenCaptureService capture;
    AtspiAccessibilityContextService walks;
    LocalScreenContextPreparer preparer;
    std::unique_ptr<OverlayViewModel> model;
};

bool waitUntil(const std::function<bool()> &done, int limitMs = 30'000)
{
    // Sleeps between events (a busy loop would take the reader's core); the
    // ticker bounds how late a change is noticed.
    QTimer ticker;
    ticker.start(2);
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool hasLabel(const AccessibilityContext &context, const QString &label)
{
    return std::any_of(context.elements.begin(), context.elements.end(),
                       [&](const auto &element) { return element.label == label; });
}

enum class Measure { captureToContexts, questionWait, screenContextAgain };

void run(benchmark::State &state, const QStringList &arguments, const QString &label, Measure measure)
{
    if (!test::ensureAccessibilityBus()) {
        state.SkipWithError("no accessibility bus (run inside scripts/with-session)");
        return;
    }
    Assistant assistant;
    test::TargetApplication application(test::testWindowProgram(), arguments);
    const auto ready = [&](const AccessibilityContext &c) { return hasLabel(c, label); };
    if (!application.started() || !test::collectWhen(assistant.walks, application.pid(), ready)) {
        state.SkipWithError("the application's tree never appeared");
        return;
    }
    const bool tracked = waitUntil([&] {
        const auto app = assistant.tracker.lastExternalApplication();
        return app && app->processIdentifier == application.pid();
    });
    if (!tracked) {
        state.SkipWithError("the window manager never activated the application");
        return;
    }

    ScreenContextCoordinator &model = assistant.model->screenContext();
    qsizetype elements = 0;
    bool prepared = true;
    if (measure == Measure::screenContextAgain) {
        const auto first = finish(model.captureFresh());
        if (!first.ok() || !finish(model.preparedVisionContext(first.value()))) {
            state.SkipWithError("the first reading failed");
            return;
        }
    }
    for (auto _ : state) {
        const auto captured = finish(model.captureFresh());
        if (!captured.ok()) {
            state.SkipWithError("the capture failed");
            return;
        }
        const CaptureArtifact capture = captured.value();
        QElapsedTimer timer;
        timer.start();
        if (measure == Measure::captureToContexts) {
            prepared = waitUntil([&] { return model.preparedScreenContext().has_value(); }) && prepared;
            elements = model.latestAccessibilityContext() ? model.latestAccessibilityContext()->elements.size() : 0;
        } else if (measure == Measure::screenContextAgain) {
            prepared = finish(model.preparedVisionContext(capture)).has_value() && prepared;
        } else {
            const auto accessibility = finish(model.preparedAccessibilityContext(capture));
            const auto vision = finish(model.preparedVisionContext(capture));
            prepared = vision.has_value() && prepared;
            elements = accessibility ? accessibility->elements.size() : 0;
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["elements"] = double(elements);
    state.counters["prepared"] = prepared ? 1 : 0;
}

void BM_CaptureToContexts_Dialog(benchmark::State &state)
{
    run(state, {}, QStringLiteral("Continue"), Measure::captureToContexts);
}
void BM_CaptureToContexts_TwoHundredButtons(benchmark::State &state)
{
    run(state, {QStringLiteral("--buttons"), QStringLiteral("200")}, QStringLiteral("Item 1"),
        Measure::captureToContexts);
}
void BM_QuestionWait_Dialog(benchmark::State &state)
{
    run(state, {}, QStringLiteral("Continue"), Measure::questionWait);
}
void BM_QuestionWait_TwoHundredButtons(benchmark::State &state)
{
    run(state, {QStringLiteral("--buttons"), QStringLiteral("200")}, QStringLiteral("Item 1"), Measure::questionWait);
}

void BM_ScreenContextAgain_Dialog(benchmark::State &state)
{
    run(state, {}, QStringLiteral("Continue"), Measure::screenContextAgain);
}
void BM_ScreenContextAgain_TwoHundredButtons(benchmark::State &state)
{
    run(state, {QStringLiteral("--buttons"), QStringLiteral("200")}, QStringLiteral("Item 1"),
        Measure::screenContextAgain);
}

#define PREPARATION_BENCHMARK(name)                                                                                    \
    BENCHMARK(name)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5)->Repetitions(3)                     \
        ->ReportAggregatesOnly(true)
PREPARATION_BENCHMARK(BM_CaptureToContexts_Dialog);
PREPARATION_BENCHMARK(BM_CaptureToContexts_TwoHundredButtons);
PREPARATION_BENCHMARK(BM_QuestionWait_Dialog);
PREPARATION_BENCHMARK(BM_QuestionWait_TwoHundredButtons);
PREPARATION_BENCHMARK(BM_ScreenContextAgain_Dialog);
PREPARATION_BENCHMARK(BM_ScreenContextAgain_TwoHundredButtons);

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
