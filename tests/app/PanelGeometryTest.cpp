#include "app/LauncherAnchorStore.h"
#include "app/PanelGeometry.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace nimbel;
using namespace nimbel::panel;

namespace {

// One 1440 × 900 screen whose visible area leaves a 25-point bar at the top.
ScreenLayout laptop()
{
    return {{{Rect{0, 0, 1440, 900}, Rect{0, 0, 1440, 875}}}, 0};
}

// The laptop plus a 1920 × 1080 screen to its right, the laptop being the main one.
ScreenLayout twoScreens()
{
    return {{{Rect{0, 0, 1440, 900}, Rect{0, 0, 1440, 875}}, {Rect{1440, 0, 1920, 1080}, Rect{1440, 0, 1920, 1080}}}, 0};
}

std::string describe(Point p)
{
    return "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ")";
}

} // namespace

TEST(PanelGeometry, InitialAnchorComesFromNewKeysThenOlderKeysThenTheMainScreenCorner)
{
    struct Case
    {
        const char *name;
        SavedPlacement saved;
        ScreenLayout layout;
        Point expected;
    };
    const Case cases[] = {
        {"first launch: 20 in from the visible bottom-right corner", {}, laptop(), {1420, 20}},
        {"first launch uses the main screen, not the first", {}, {twoScreens().screens, 1}, {3340, 20}},
        {"older origin keys: right edge at origin x + 196", {false, {}, true, {400, 100}}, laptop(), {596, 100}},
        {"saved anchor from a screen no longer connected lands on the main screen", {true, {5000, 500}, false, {}},
         laptop(), {1420, 500}},
        {"saved anchor on the second screen stays there", {true, {2500, 600}, false, {}}, twoScreens(), {2500, 600}},
        {"saved anchor above the visible area is lowered", {true, {700, 2000}, false, {}}, laptop(), {700, 875 - 188 - 20}},
        {"no screen at all: the 1440 × 900 fallback, unclamped", {}, {}, {1420, 20}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Point got = initialLauncherAnchor(c.saved, c.layout);
        EXPECT_EQ(got, c.expected) << describe(got);
    }
}

TEST(PanelGeometry, ConstrainedAnchorPicksTheScreenUnderTheLauncherAndUpperBoundWins)
{
    // The launcher rectangle (x − 196 … x) touches the second screen only by its edge at 1440: not on it.
    EXPECT_EQ(constrainedLauncherAnchor({1440, 300}, twoScreens()), (Point{1420, 300}));
    // One point over the edge: the first intersecting screen in order is the laptop.
    EXPECT_EQ(constrainedLauncherAnchor({1441, 300}, twoScreens()), (Point{1420, 300}));
    // Entirely on the second screen.
    EXPECT_EQ(constrainedLauncherAnchor({1637, 300}, twoScreens()), (Point{1656, 300}));
    // A visible area smaller than the launcher plus margins: the upper bounds win.
    const ScreenLayout tiny{{{Rect{0, 0, 200, 150}, Rect{0, 0, 200, 150}}}, 0};
    EXPECT_EQ(constrainedLauncherAnchor({100, 100}, tiny), (Point{180, 150 - 188 - 20}));
}

TEST(PanelGeometry, FramesGrowLeftAndUpFromTheAnchorAndGiveTheAnchorBack)
{
    const Point anchor{1420, 20};
    EXPECT_EQ(panelFrame(anchor, false, ChatPlacement::above), (Rect{1224, 20, 196, 188}));
    EXPECT_EQ(panelFrame(anchor, true, ChatPlacement::above), (Rect{932, 20, 488, 670}));
    EXPECT_EQ(panelFrame(anchor, true, ChatPlacement::below), (Rect{932, 20 + 188 - 670, 488, 670}));
    for (bool expanded : {false, true}) {
        for (ChatPlacement placement : {ChatPlacement::above, ChatPlacement::below}) {
            SCOPED_TRACE(std::to_string(expanded) + " " + std::to_string(int(placement)));
            EXPECT_EQ(anchorOfFrame(panelFrame(anchor, expanded, placement), placement), anchor);
        }
    }
}

TEST(PanelGeometry, FrameConstraintKeepsThirtyPointsOfTheInnerAreaOnTheScreens)
{
    struct Case
    {
        const char *name;
        Rect frame;
        Rect expected;
    };
    // Union of visible areas of twoScreens(): x 0…3360, y 0…1080.
    const Case cases[] = {
        {"inside stays", {500, 300, 488, 670}, {500, 300, 488, 670}},
        {"past the right edge: inner minX pulled back to maxX − 30", {3400, 300, 196, 188}, {3360 - 30 - 40, 300, 196, 188}},
        {"past the left edge: inner maxX pushed to minX + 30", {-500, 300, 196, 188}, {30 + 40 - 196, 300, 196, 188}},
        {"above the screens", {500, 1200, 488, 670}, {500, 1080 - 30 - 40, 488, 670}},
        {"both axes at once", {-500, -500, 196, 188}, {-126, -118, 196, 188}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(constrainedFrame(c.frame, twoScreens()), c.expected);
    }
    // With no screen nothing is constrained.
    EXPECT_EQ(constrainedFrame({9000, 9000, 196, 188}, {}), (Rect{9000, 9000, 196, 188}));
    // Screens that do not touch: the union still spans the gap.
    const ScreenLayout apart{{{Rect{0, 0, 100, 100}, Rect{0, 0, 100, 100}}, {Rect{1000, 0, 100, 100}, Rect{1000, 0, 100, 100}}}, 0};
    EXPECT_EQ(constrainedFrame({500, 0, 196, 188}, apart), (Rect{500, 0, 196, 188}));
}

TEST(PanelGeometry, LauncherPressTellsClicksFromDrags)
{
    struct Step
    {
        enum Kind { press, move, release } kind;
        Point point;
        qint64 atMs;
    };
    struct Case
    {
        const char *name;
        QList<Step> steps;
        QList<bool> moveStartsDrag; // per move, in order
        bool click;
    };
    const Case cases[] = {
        {"still press", {{Step::press, {10, 10}, 0}, {Step::release, {}, 100}}, {}, true},
        {"2-point jitter is still a click",
         {{Step::press, {10, 10}, 0}, {Step::move, {12, 10}, 0}, {Step::move, {10, 8}, 0}, {Step::release, {}, 300}},
         {false, false},
         true},
        {"3 points starts the drag once",
         {{Step::press, {0, 0}, 0}, {Step::move, {3, 0}, 0}, {Step::move, {30, 0}, 0}, {Step::release, {}, 50}},
         {true, false},
         false},
        {"a drag back to the start is not a click",
         {{Step::press, {0, 0}, 0}, {Step::move, {0, 5}, 0}, {Step::move, {0, 0}, 0}, {Step::release, {}, 50}},
         {true, false},
         false},
        {"held 600 ms is not", {{Step::press, {0, 0}, 1000}, {Step::release, {}, 1600}}, {}, false},
        {"moves without a press start nothing", {{Step::move, {50, 50}, 0}, {Step::release, {}, 10}}, {false}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LauncherPress press;
        QList<bool> drags;
        std::optional<bool> click;
        for (const Step &step : c.steps) {
            switch (step.kind) {
            case Step::press:
                press.press(step.point, step.atMs);
                break;
            case Step::move:
                drags << press.move(step.point);
                break;
            case Step::release:
                click = press.release(step.atMs);
                break;
            }
        }
        EXPECT_EQ(drags, c.moveStartsDrag);
        EXPECT_EQ(click, c.click);
        // The state is reset after a release: the next still press is a click again.
        press.press({0, 0}, 0);
        EXPECT_TRUE(press.release(1));
    }
}

TEST(PanelGeometry, AnchorPersistenceReadsNewAndOlderKeysAndWritesOnlyNewOnes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings settings(dir.filePath(QStringLiteral("prefs.conf")), QSettings::IniFormat);

    EXPECT_EQ(initialLauncherAnchor(readSavedPlacement(settings), laptop()), (Point{1420, 20}));
    settings.setValue(QStringLiteral("overlayHasSavedOrigin"), true);
    settings.setValue(QStringLiteral("overlayOriginX"), 400.5);
    settings.setValue(QStringLiteral("overlayOriginY"), 100);
    EXPECT_EQ(initialLauncherAnchor(readSavedPlacement(settings), laptop()), (Point{596.5, 100}));

    saveLauncherAnchor(settings, {812.25, 333});
    settings.sync();
    // The new anchor wins over the older keys, which are left as they were.
    QSettings reread(dir.filePath(QStringLiteral("prefs.conf")), QSettings::IniFormat);
    EXPECT_EQ(initialLauncherAnchor(readSavedPlacement(reread), laptop()), (Point{812.25, 333}));
    EXPECT_EQ(reread.value(QStringLiteral("overlayOriginX")).toDouble(), 400.5);
}
