// Time from asking to holding the accessibility context of the frontmost
// application: a typical Qt dialog, a GTK dialog, and a tree of 200 buttons.
// Run inside a desktop session; report the medians:
//   scripts/with-session build/bench/accessibility/accessibility_bench
#include "AccessibilityTestSession.h"

#include "screen/linux/AtspiAccessibilityContextService.h"

#include <QCoro/QCoroTask>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace nimbel;

namespace {

AtspiAccessibilityContextService &service()
{
    static AtspiAccessibilityContextService instance;
    return instance;
}

// Starts the application once and waits until its whole tree can be read.
void measure(benchmark::State &state, const QString &program, const QStringList &arguments,
             const std::function<bool(const AccessibilityContext &)> &ready)
{
    if (!test::ensureAccessibilityBus()) {
        state.SkipWithError("no accessibility bus (run inside scripts/with-session)");
        return;
    }
    test::TargetApplication application(program, arguments);
    if (!application.started() || !test::collectWhen(service(), application.pid(), ready)) {
        state.SkipWithError("the application's tree never appeared");
        return;
    }
    qsizetype elements = 0;
    bool truncated = false;
    for (auto _ : state) {
        const auto context = QCoro::waitFor(service().collect(application.pid(), QStringLiteral("Bench"), std::nullopt));
        elements = context ? context->elements.size() : 0;
        truncated = context && context->truncated;
    }
    state.counters["elements"] = double(elements);
    state.counters["truncated"] = truncated ? 1 : 0;
}

bool hasLabel(const AccessibilityContext &context, const QString &label)
{
    return std::any_of(context.elements.begin(), context.elements.end(),
                       [&](const auto &element) { return element.label == label; });
}

void BM_TypicalQtDialog(benchmark::State &state)
{
    measure(state, test::testWindowProgram(), {},
            [](const AccessibilityContext &c) { return hasLabel(c, QStringLiteral("Continue")); });
}

void BM_TypicalGtkDialog(benchmark::State &state)
{
    measure(state, QStringLiteral("yad"),
            {QStringLiteral("--form"), QStringLiteral("--title=Export settings"),
             QStringLiteral("--text=Choose where to save"), QStringLiteral("--field=Destination"),
             QStringLiteral("--field=Passphrase:H"), QStringLiteral("--button=Continue:0"),
             QStringLiteral("--button=Cancel:1")},
            [](const AccessibilityContext &c) { return hasLabel(c, QStringLiteral("Cancel")) && !c.truncated; });
}

void BM_TwoHundredButtons(benchmark::State &state)
{
    measure(state, test::testWindowProgram(), {QStringLiteral("--buttons"), QStringLiteral("200")},
            [](const AccessibilityContext &c) { return c.elements.size() >= 80; });
}

BENCHMARK(BM_TypicalQtDialog)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TypicalGtkDialog)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TwoHundredButtons)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
