#include "app/LauncherAnchorStore.h"
#include "app/PanelGeometry.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace nimbel;
using namespace nimbel::panel;

namespace {

// One 1440 × 900 screen whose visible area leaves a 25-point bar at the top.
const ScreenLayout laptop{{{Rect{0, 0, 1440, 900}, Rect{0, 0, 1440, 875}}}, 0};
// The laptop plus a 1920 × 1080 screen to its right, the laptop being the main one.
const ScreenLayout twoScreens{{laptop.screens[0], {Rect{1440, 0, 1920, 1080}, Rect{1440, 0, 1920, 1080}}}, 0};

std::string describe(Point p)
{
    return "(" + std::to_string(p.x) + ", " + std::to_string(p.y) + ")";
}

} // namespace

TEST(PanelGeometry, AnchorComesFromNewKeysThenOlderKeysThenTheMainScreenCornerAndStaysOnAScreen)
{
    const struct
    {
        const char *name;
        SavedPlacement saved;
        ScreenLayout layout;
        Point expected;
    } cases[] = {
        {"first launch: 20 in from the visible bottom-right corner", {}, laptop, {1420, 20}},
        {"first launch uses the main screen, not the first", {}, {twoScreens.screens, 1}, {3340, 20}},
        {"older origin keys: right edge at origin x + 196", {false, {}, true, {400, 100}}, laptop, {596, 100}},
        {"saved anchor from a screen no longer connected lands on the main screen", {true, {5000, 500}, false, {}},
         laptop, {1420, 500}},
        {"saved anchor above the visible area is lowered", {true, {700, 2000}, false, {}}, laptop, {700, 875 - 188 - 20}},
        {"no screen at all: the 1440 × 900 fallback, unclamped", {}, {}, {1420, 20}},
    };
    for (const auto &c : cases) {
        const Point got = initialLauncherAnchor(c.saved, c.layout);
        EXPECT_EQ(got, c.expected) << c.name << ": " << describe(got);
    }

    const ScreenLayout tiny{{{Rect{0, 0, 200, 150}, Rect{0, 0, 200, 150}}}, 0};
    const struct
    {
        const char *name;
        Point anchor;
        ScreenLayout layout;
        Point expected;
    } moved[] = {
        // The launcher rectangle is x − 196 … x.
        {"touching the second screen by its edge only: not on it", {1440, 300}, twoScreens, {1420, 300}},
        {"entirely on the second screen", {1637, 300}, twoScreens, {1656, 300}},
        {"a visible area smaller than the launcher: the upper bounds win", {100, 100}, tiny, {180, 150 - 188 - 20}},
    };
    for (const auto &c : moved) {
        const Point got = constrainedLauncherAnchor(c.anchor, c.layout);
        EXPECT_EQ(got, c.expected) << c.name << ": " << describe(got);
    }
}

TEST(PanelGeometry, FramesGrowLeftAndUpFromTheAnchorGiveItBackAndKeepThirtyPointsOnTheScreens)
{
    const Point anchor{1420, 20};
    EXPECT_EQ(panelFrame(anchor, false, ChatPlacement::above), (Rect{1224, 20, 196, 188}));
    EXPECT_EQ(panelFrame(anchor, true, ChatPlacement::above), (Rect{932, 20, 488, 670}));
    EXPECT_EQ(panelFrame(anchor, true, ChatPlacement::below), (Rect{932, 20 + 188 - 670, 488, 670}));
    for (bool expanded : {false, true})
        for (ChatPlacement placement : {ChatPlacement::above, ChatPlacement::below})
            EXPECT_EQ(anchorOfFrame(panelFrame(anchor, expanded, placement), placement), anchor) << expanded;

    // The union of the visible areas of twoScreens: x 0…3360, y 0…1080; screens apart still span the gap.
    const ScreenLayout apart{{{Rect{0, 0, 100, 100}, Rect{0, 0, 100, 100}}, {Rect{1000, 0, 100, 100}, Rect{1000, 0, 100, 100}}}, 0};
    const struct
    {
        const char *name;
        Rect frame;
        ScreenLayout layout;
        Rect expected;
    } cases[] = {
        {"inside stays", {500, 300, 488, 670}, twoScreens, {500, 300, 488, 670}},
        {"past the right edge: inner minX pulled back to maxX − 30", {3400, 300, 196, 188}, twoScreens,
         {3360 - 30 - 40, 300, 196, 188}},
        {"both axes at once", {-500, -500, 196, 188}, twoScreens, {-126, -118, 196, 188}},
        {"no screen: nothing is constrained", {9000, 9000, 196, 188}, {}, {9000, 9000, 196, 188}},
        {"in the gap between screens apart", {500, 0, 196, 188}, apart, {500, 0, 196, 188}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(constrainedFrame(c.frame, c.layout), c.expected) << c.name;
}

TEST(PanelGeometry, LauncherPressTellsClicksFromDrags)
{
    // 'p'ress, 'm'ove, 'r'elease, at a point and a time.
    struct Step
    {
        char kind;
        Point point;
        qint64 atMs = 0;
    };
    const struct
    {
        const char *name;
        QList<Step> steps;
        QList<bool> moveStartsDrag; // per move, in order
        bool click;
    } cases[] = {
        {"still press", {{'p', {10, 10}}, {'r', {}, 100}}, {}, true},
        {"3 points starts the drag once", {{'p', {0, 0}}, {'m', {3, 0}}, {'m', {30, 0}}, {'r', {}, 50}}, {true, false}, false},
        {"a drag back to the start is not a click", {{'p', {0, 0}}, {'m', {0, 5}}, {'m', {0, 0}}, {'r', {}, 50}}, {true, false}, false},
        {"held 600 ms is not", {{'p', {0, 0}, 1000}, {'r', {}, 1600}}, {}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LauncherPress press;
        QList<bool> drags;
        std::optional<bool> click;
        for (const Step &step : c.steps) {
            if (step.kind == 'p')
                press.press(step.point, step.atMs);
            else if (step.kind == 'm')
                drags << press.move(step.point);
            else
                click = press.release(step.atMs);
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
    QSettings settings(dir.filePath(QStringLiteral("prefs.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("overlayHasSavedOrigin"), true);
    settings.setValue(QStringLiteral("overlayOriginX"), 400.5);
    settings.setValue(QStringLiteral("overlayOriginY"), 100);
    EXPECT_EQ(initialLauncherAnchor(readSavedPlacement(settings), laptop), (Point{596.5, 100}));

    saveLauncherAnchor(settings, {812.25, 333});
    settings.sync();
    // The new anchor wins over the older keys, which are left as they were.
    QSettings reread(dir.filePath(QStringLiteral("prefs.conf")), QSettings::IniFormat);
    EXPECT_EQ(initialLauncherAnchor(readSavedPlacement(reread), laptop), (Point{812.25, 333}));
    EXPECT_EQ(reread.value(QStringLiteral("overlayOriginX")).toDouble(), 400.5);
}
