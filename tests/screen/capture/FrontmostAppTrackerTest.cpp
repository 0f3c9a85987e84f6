#include "CaptureFixture.h"

#include "screen/linux/X11FrontmostAppTracker.h"

using namespace nimbel;
using namespace nimbel::test;

namespace {
using FrontmostAppTrackerTest = CaptureFixture;

std::optional<QString> trackedId(const X11FrontmostAppTracker &tracker)
{
    const auto app = tracker.lastExternalApplication();
    return app ? app->bundleIdentifier : std::nullopt;
}
} // namespace

TEST_F(FrontmostAppTrackerTest, FollowsActivationsAndIdentifiesApplicationsByTheirDesktopFiles)
{
    SampleApplication redApp(red());
    SampleApplication blueApp(blue());
    ASSERT_TRUE(redApp.start());
    ASSERT_TRUE(blueApp.start());

    X11FrontmostAppTracker tracker(AssistantIdentity::current(), entries);
    ASSERT_TRUE(tracker.isTracking());

    ASSERT_TRUE(activate(redApp.window()));
    ASSERT_TRUE(waitUntil([&] { return trackedId(tracker) == u"org.nimbel.test.Red"; }))
        << trackedId(tracker).value_or("none").toStdString();
    const RunningApplication redTracked = *tracker.lastExternalApplication();
    EXPECT_EQ(redTracked.localizedName, u"Красный образец");
    EXPECT_EQ(redTracked.processIdentifier, redApp.processId());

    ASSERT_TRUE(activate(blueApp.window()));
    ASSERT_TRUE(waitUntil([&] { return trackedId(tracker) == u"org.nimbel.test.Blue"; }));
    EXPECT_EQ(tracker.lastExternalApplication()->localizedName, u"Blue Sample"); // no Russian name
    EXPECT_EQ(tracker.lastExternalApplication()->processIdentifier, blueApp.processId());

}

TEST_F(FrontmostAppTrackerTest, TheAssistantsOwnWindowNeverReplacesTheLastApplication)
{
    SampleApplication blueApp(blue());
    ASSERT_TRUE(blueApp.start());
    X11FrontmostAppTracker tracker(AssistantIdentity::current(), entries);
    ASSERT_TRUE(activate(blueApp.window()));
    ASSERT_TRUE(waitUntil([&] { return trackedId(tracker) == u"org.nimbel.test.Blue"; }));

    QList<std::optional<QString>> seen;
    QObject::connect(&tracker, &X11FrontmostAppTracker::lastExternalApplicationChanged,
                     [&] { seen.append(trackedId(tracker)); });
    OwnWindow panel(QColor(0, 255, 0), QRect(300, 300, 300, 200));
    ASSERT_TRUE(panel.showAndWait());
    ASSERT_TRUE(activate(static_cast<quint32>(panel.winId())));
    ASSERT_TRUE(waitUntil([&] { return panel.isActive(); }));
    EXPECT_EQ(trackedId(tracker), u"org.nimbel.test.Blue");

    // Activations arrive in order: once the next application is tracked, the
    // panel's activation has been seen, and it changed nothing. (The next one
    // has no desktop file: its window class stands in for id and name.)
    SampleApplication::Options options = red(QRect(900, 600, 300, 200));
    options.instance = QStringLiteral("unlisted");
    options.className = QStringLiteral("Unlisted");
    SampleApplication unlisted(options);
    ASSERT_TRUE(unlisted.start());
    ASSERT_TRUE(activate(unlisted.window()));
    ASSERT_TRUE(waitUntil([&] { return trackedId(tracker) == u"Unlisted"; }));
    EXPECT_EQ(seen, (QList<std::optional<QString>>{QStringLiteral("Unlisted")}));
    EXPECT_EQ(tracker.lastExternalApplication()->localizedName, u"Unlisted");
    ASSERT_TRUE(activate(static_cast<quint32>(panel.winId())));
    ASSERT_TRUE(waitUntil([&] { return panel.isActive(); }));

    // A tracker built while the panel is frontmost starts with nothing.
    X11FrontmostAppTracker late(AssistantIdentity::current(), entries);
    EXPECT_EQ(late.lastExternalApplication(), std::nullopt);
}
