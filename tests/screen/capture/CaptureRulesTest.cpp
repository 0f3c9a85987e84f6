#include "screen/CapturePixelSize.h"
#include "screen/CaptureTargeting.h"

#include <gtest/gtest.h>

#include <limits>

using namespace nimbel;

namespace {
std::pair<int, int> dims(CapturePixelSize size)
{
    return {size.width(), size.height()};
}

using Dims = std::pair<int, int>;
} // namespace

TEST(CapturePixelSize, ScalesByScreenScaleShrinksToTheLimitRoundsHalvesUpAndNeverVanishes)
{
    const struct
    {
        double width, height, scale;
        Dims expected;
    } cases[] = {
        {3000, 2000, 2, {2048, 1365}},
        {1024, 512, 2, {2048, 1024}}, // exactly at the limit
        {800, 600, 0.5, {800, 600}},  // scales below one are ignored
        {0, -5, 2, {1, 1}},
        {std::numeric_limits<double>::quiet_NaN(), 10, 1, {1, 10}},
        {100000, 10, 1, {2048, 1}},   // a sliver keeps one pixel
        {4096, 2049, 1, {2048, 1025}}, // 1024.5 rounds up; truncation would give 1024
        {100.25, 50.2, 2, {201, 100}}, // scaled before rounding: 200.5 → 201
    };
    for (const auto &c : cases)
        EXPECT_EQ(dims(CapturePixelSize::fitted(c.width, c.height, c.scale, 2048)), c.expected)
            << c.width << "x" << c.height << " @" << c.scale;
}

namespace {
const QString editor = QStringLiteral("org.example.Editor");

RunningApplication editorApp(std::optional<qint64> pid = 100)
{
    return {editor, QStringLiteral("Editor"), pid, false};
}

ShareableWindow window(quint32 id, QRectF frame, std::optional<QString> bundle = editor, bool onScreen = true)
{
    return {id, frame, QStringLiteral("window %1").arg(id), onScreen, std::move(bundle)};
}

WindowListEntry entry(quint32 id, std::optional<qint64> pid = 100, std::optional<int> layer = 0)
{
    return {id, pid, layer};
}

const QList<DisplayScreen> oneScreen{{QRectF(0, 0, 1920, 1080), 1.0}};
} // namespace

TEST(CaptureTargeting, TheFrontmostCandidateOfTheApplicationsProcessOnLayerZeroWinsElseTheLargest)
{
    const QList<ShareableWindow> sizes{
        window(1, QRectF(0, 0, 179, 500)),                      // too narrow
        window(2, QRectF(0, 0, 500, 119)),                      // too low
        window(3, QRectF(0, 0, 900, 900), QStringLiteral("other.App")),
        window(4, QRectF(0, 0, 900, 900), editor, false),       // minimised / elsewhere
        window(5, QRectF(0, 0, 180, 120)),                      // exactly the minimum
    };
    const QList<ShareableWindow> three{window(1, QRectF(0, 0, 1600, 1000)), window(2, QRectF(0, 0, 400, 300)),
                                       window(3, QRectF(0, 0, 500, 400))};
    // 1, 2 and 3 share the largest area (120000).
    const QList<ShareableWindow> equal{window(1, QRectF(0, 0, 400, 300)), window(2, QRectF(0, 0, 600, 200)),
                                       window(3, QRectF(0, 0, 300, 400)), window(4, QRectF(0, 0, 200, 200))};
    RunningApplication anonymous = editorApp();
    anonymous.bundleIdentifier.reset();
    const struct
    {
        const char *what;
        std::optional<RunningApplication> application;
        QList<ShareableWindow> windows;
        QList<WindowListEntry> frontToBack;
        std::optional<quint32> chosen;
    } cases[] = {
        {"the application's on-screen windows of the minimum size", editorApp(), sizes,
         {entry(3), entry(4), entry(1), entry(5)}, 5u},
        {"no tracked application", std::nullopt, sizes, {}, std::nullopt},
        {"no bundle identifier", anonymous, {window(9, QRectF(0, 0, 800, 600), std::nullopt)}, {entry(9)}, std::nullopt},
        {"the frontmost", editorApp(), three, {entry(2), entry(3), entry(1)}, 2u},
        {"other processes or layers, or neither known, are passed over", editorApp(), three,
         {entry(2, 555), entry(2, std::nullopt), entry(2, 100, 1), entry(2, 100, std::nullopt), entry(3), entry(2)}, 3u},
        {"process unknown: the largest", editorApp(std::nullopt), three, {entry(2), entry(3)}, 1u},
        {"none listed: the first of the largest", editorApp(), equal, {entry(77)}, 1u},
    };
    for (const auto &c : cases) {
        const auto target = chooseWindowTarget(c.application, c.windows, c.frontToBack, oneScreen);
        EXPECT_EQ(target ? std::optional(target->window.id) : std::nullopt, c.chosen) << c.what;
    }
}

TEST(CaptureTargeting, ScaleComesFromTheScreenHoldingTheWindowsMidpoint)
{
    const QList<DisplayScreen> screens{{QRectF(0, 0, 1000, 800), 1.0}, {QRectF(1000, 0, 1000, 800), 2.0}};
    // Midpoint (1050, 200) lies on the second screen.
    auto target = chooseWindowTarget(editorApp(), {window(1, QRectF(900, 100, 300, 200))}, {entry(1)}, screens);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->scale, 2.0);
    EXPECT_EQ(dims(target->pixelSize), Dims(600, 400));

    // Midpoint on no screen: scale 2, then the 2048 limit.
    target = chooseWindowTarget(editorApp(), {window(1, QRectF(1500, 700, 1600, 400))}, {entry(1)}, screens);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->scale, offScreenScale);
    EXPECT_EQ(dims(target->pixelSize), Dims(2048, 512));
}

TEST(CaptureTargeting, ScreenUnderThePointerElseTheMainScreen)
{
    const QList<DisplayScreen> screens{{QRectF(0, 0, 1000, 800), 1.0}, {QRectF(1000, 0, 1280, 1024), 1.5}};
    EXPECT_EQ(screenUnderPointer(QPointF(1200, 900), screens)->frame, QRectF(1000, 0, 1280, 1024));
    // Below the first screen, beside the second: the main (first) screen.
    EXPECT_EQ(screenUnderPointer(QPointF(500, 900), screens)->frame, QRectF(0, 0, 1000, 800));
    EXPECT_FALSE(screenUnderPointer(QPointF(0, 0), {}));
    EXPECT_FALSE(screenContaining(QPointF(1000, 800), {screens[0]}));
}
