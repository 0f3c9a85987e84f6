// Where the ring goes and when it shows: the mapping of an answer's rectangle
// onto the screen, and the controller under a virtual clock with a window, a
// surface and an accessibility tree of the test's own.
#include "app/HighlightController.h"
#include "app/HighlightGeometry.h"
#include "screen/ElementLocator.h"
#include "screen/WindowWatch.h"

#include "support/VirtualClock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace nimbel;
using namespace nimbel::highlight;
using namespace std::chrono_literals;

namespace {

std::string text(const std::optional<QRect> &r)
{
    return r ? QStringLiteral("%1,%2 %3x%4").arg(r->x()).arg(r->y()).arg(r->width()).arg(r->height()).toStdString() : "none";
}

NavigationStep step(std::optional<QString> label, std::optional<NormalizedRect> rect)
{
    return NavigationStep{QStringLiteral("Click it"), std::move(label), rect};
}

} // namespace

TEST(HighlightGeometry, AnswerRectanglesLandOnTheWindowWhereverItIsNow)
{
    const QRectF frame(100, 50, 400, 300);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct
    {
        const char *name;
        NormalizedRect rect;
        QPoint origin;
        std::string expected;
    } cases[] = {
        {"where it was captured", {0.25, 0.5, 0.5, 0.1}, {100, 50}, "200,200 200x30"},
        {"hanging over the right edge: cut at the frame", {0.9, 0.0, 0.3, 0.1}, {100, 50}, "460,50 40x30"},
        {"wholly outside the picture", {1.2, 0.2, 0.1, 0.1}, {100, 50}, "none"},
        {"not a number", {nan, 0.2, 0.1, 0.1}, {100, 50}, "none"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(text(onScreen(c.rect, frame, c.origin)), c.expected) << c.name;

    EXPECT_EQ(text(toSurface(QRect(200, 200, 200, 30), 2)), "100,100 100x15");
    EXPECT_EQ(text(toSurface(QRect(201, 201, 3, 3), 2)), "100,100 2x2") << "covers every pixel it touches";
}

TEST(HighlightGeometry, TheFirstStepThatPointsSomewhereIsTheTarget)
{
    PreparedScreenContext context;
    context.controls.push_back({QStringLiteral("Continue"), QStringLiteral("AXButton"), std::nullopt,
                                NormalizedRect{0.6, 0.8, 0.2, 0.1}});
    context.controls.push_back({QStringLiteral("Cancel"), QStringLiteral("AXButton"), std::nullopt, std::nullopt});
    const NormalizedRect own{0.1, 0.1, 0.2, 0.1};
    struct Case
    {
        const char *name;
        QList<NavigationStep> steps;
        std::optional<Target> expected;
    } cases[] = {
        {"its own rectangle", {step(QStringLiteral("Continue"), own)}, Target{1, own, QStringLiteral("Continue")}},
        {"the prepared context's rectangle for its label",
         {step(QStringLiteral(" continue "), std::nullopt)},
         Target{1, NormalizedRect{0.6, 0.8, 0.2, 0.1}, QStringLiteral("continue")}},
        {"an earlier step without a target is passed over",
         {step(std::nullopt, std::nullopt), step(QStringLiteral("  "), std::nullopt), step(std::nullopt, own)},
         Target{3, own, std::nullopt}},
        {"no step points anywhere", {step(std::nullopt, std::nullopt)}, std::nullopt},
    };
    for (const Case &c : cases) {
        NavigationResponse answer;
        answer.steps = c.steps;
        EXPECT_EQ(targetOf(answer, context), c.expected) << c.name;
    }
}

TEST(HighlightGeometry, LabelsMatchAsTheOwnerReadsThem)
{
    const std::tuple<const char *, const char *, bool> cases[] = {
        {"&Continue", "continue", true},      {"_Save as…", "Save as", true}, {"Name:", "name", true},
        {"Continue  later", "Continue", false}, {"", "", false},              {"Cancel", "Continue", false},
    };
    for (const auto &[control, target, same] : cases)
        EXPECT_EQ(sameLabel(QString::fromUtf8(control), QString::fromUtf8(target)), same) << control << " / " << target;
}

namespace {

class FakeWatch final : public WindowWatch
{
public:
    WindowSight look(quint32 window) override
    {
        EXPECT_EQ(window, 42u);
        return sight;
    }
    WindowSight sight{WindowSight::State::shown, QRect(100, 50, 400, 300), {}};
};

class FakeSurface final : public HighlightSurface
{
public:
    void show(const QRect &target, int step) override { shown = target, number = step; }
    void hide() override { shown.reset(); }
    double scale() const override { return 1; }

    std::optional<QRect> shown;
    int number = 0;
};

// The control's place in the tree, for lookups answered at once.
class FakeLocator final : public ElementLocator
{
public:
    QCoro::Task<std::optional<QRect>> locate(qint64 processIdentifier, LabelMatch matches, std::stop_token) override
    {
        ++lookups;
        EXPECT_EQ(processIdentifier, 7);
        if (!matches(QStringLiteral("Continue")))
            co_return std::nullopt;
        co_return control;
    }
    std::optional<QRect> control;
    int lookups = 0;
};

class HighlightControllerTest : public ::testing::Test
{
protected:
    HighlightRequest request(std::optional<QString> label = std::nullopt)
    {
        HighlightRequest r;
        r.window = 42;
        r.capturedFrame = QRectF(100, 50, 400, 300);
        r.target = Target{2, NormalizedRect{0.25, 0.5, 0.5, 0.1}, std::move(label)};
        r.processIdentifier = 7;
        return r;
    }
    void advance(Milliseconds by)
    {
        clock.advance(by);
        clock.settle();
    }

    test::VirtualClock clock;
    FakeWatch watch;
    FakeSurface surface;
    FakeLocator locator;
    HighlightController controller{clock, watch, surface, &locator};
};

} // namespace

// Following the window, going with it and dismissing (Escape) are checked on
// the real screen (HighlightEndToEndTest).
TEST_F(HighlightControllerTest, ShowsTheStepAndGoesAfterEightSeconds)
{
    controller.present(request());
    clock.settle();
    EXPECT_EQ(text(surface.shown), "200,200 200x30");
    EXPECT_EQ(surface.number, 2);
    EXPECT_TRUE(controller.isShowing());
    advance(HighlightController::lifetime - HighlightController::pollInterval);
    EXPECT_TRUE(surface.shown.has_value());
    advance(2 * HighlightController::pollInterval);
    EXPECT_FALSE(surface.shown.has_value());
    EXPECT_FALSE(controller.isShowing());
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST_F(HighlightControllerTest, GoesForGoodWhenTheWindowClosesHidesOrIsCovered)
{
    const std::pair<const char *, WindowSight> cases[] = {
        {"minimised", {WindowSight::State::hidden, QRect(100, 50, 400, 300), {}}},
        {"covered where the ring is", {WindowSight::State::shown, QRect(100, 50, 400, 300), QRegion(350, 220, 300, 300)}},
    };
    for (const auto &[name, sight] : cases) {
        watch.sight = {WindowSight::State::shown, QRect(100, 50, 400, 300), QRegion(0, 0, 50, 50)};
        controller.present(request());
        clock.settle();
        ASSERT_TRUE(surface.shown.has_value()) << name << ": a window elsewhere covers nothing of the spot";
        watch.sight = sight;
        advance(HighlightController::pollInterval);
        EXPECT_FALSE(surface.shown.has_value()) << name;
        watch.sight.state = WindowSight::State::shown;
        watch.sight.coveredBy = {};
        advance(HighlightController::pollInterval);
        EXPECT_FALSE(surface.shown.has_value()) << name << ": it does not come back";
    }

    watch.sight = {WindowSight::State::hidden, QRect(100, 50, 400, 300), {}};
    controller.present(request());
    clock.settle();
    EXPECT_FALSE(surface.shown.has_value()) << "a window no longer on screen gets no ring";
}

// The tree's place winning and moving with the window: HighlightEndToEnd.
TEST_F(HighlightControllerTest, TheAccessibilityTreeIsAskedAgainAndAnUnknownLabelShowsNothing)
{
    locator.control = QRect(460, 300, 80, 28);
    controller.present(request(QStringLiteral("continue")));
    clock.settle();
    EXPECT_EQ(text(surface.shown), "460,300 80x28");

    // A scroll: the tree is asked again and has the control elsewhere.
    locator.control = QRect(460, 200, 80, 28);
    advance(HighlightController::elementRefresh);
    EXPECT_EQ(text(surface.shown), "460,200 80x28");
    EXPECT_GE(locator.lookups, 2);

    // Not found: the picture's rectangle stands in; outside the window: ignored.
    locator.control = QRect(900, 900, 10, 10);
    controller.present(request(QStringLiteral("continue")));
    clock.settle();
    EXPECT_EQ(text(surface.shown), "200,200 200x30");

    // A label only, that the tree does not know: nothing to point at.
    HighlightRequest unplaced = request(QStringLiteral("Elsewhere"));
    unplaced.target.rect.reset();
    controller.present(unplaced);
    clock.settle();
    EXPECT_FALSE(surface.shown.has_value());
}
