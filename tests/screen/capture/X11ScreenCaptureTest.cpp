// Capture on a desktop of the suite's own: windows, activation and stacking
// are what it checks, and another suite's windows on a shared display would
// change all three. Its main starts that desktop.
#include "DesktopSession.h"

#include "screen/linux/DesktopEntryIndex.h"
#include "screen/linux/X11FrontmostAppTracker.h"
#include "screen/linux/X11ScreenCaptureAccess.h"
#include "screen/linux/X11ScreenCaptureService.h"
#include "support/VirtualClock.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <xcb/composite.h>

#include <cstring>

using namespace nimbel;
using namespace nimbel::test;

namespace {
const QColor redColour(255, 0, 0);
const QColor blueColour(0, 0, 255);
const QColor greenColour(0, 255, 0);
const QColor yellowColour(255, 255, 0);
const QColor black(0, 0, 0);

SampleApplication::Options red(QRect geometry = {100, 100, 400, 300})
{
    return {"redsample", "RedSample", "Red document", redColour, geometry};
}
SampleApplication::Options blue(QRect geometry = {700, 200, 500, 350})
{
    return {"bluesample", "BlueSample", "Blue document", blueColour, geometry};
}

bool activate(quint32 window)
{
    return run(QStringLiteral("xdotool"), {"windowactivate", "--sync", QString::number(window)});
}

// Two installed applications, "Red Sample" and "Blue Sample", whose desktop
// files name their windows' WM_CLASS, and a tiny-window one.
class X11ScreenCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != u"xcb")
            GTEST_SKIP() << "needs Xvfb and openbox";
        const QString apps = m_data.path() + QStringLiteral("/applications");
        ASSERT_TRUE(QDir().mkpath(apps));
        for (const auto &[name, content] : std::initializer_list<std::pair<const char *, QByteArray>>{
                 {"org.nimbel.test.Red", "Name=Red Sample\nName[ru]=Красный образец\nStartupWMClass=RedSample\nExec=red-sample\n"},
                 {"org.nimbel.test.Blue", "Name=Blue Sample\nStartupWMClass=BlueSample\nExec=blue-sample\n"},
                 {"tiny", "Name=Tiny Sample\nExec=tiny\n"}}) {
            QFile file(apps + "/" + name + ".desktop");
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[Desktop Entry]\nType=Application\n" + content);
        }
        entries = std::make_shared<DesktopEntryIndex>(QStringList{apps}, QStringList{QStringLiteral("ru")});
        // The pointer waits in a corner that no test window covers.
        ASSERT_TRUE(run(QStringLiteral("xdotool"), {"mousemove", "1900", "1060"}));
        tracker = std::make_unique<X11FrontmostAppTracker>(AssistantIdentity::current(), entries);
        service = std::make_unique<X11ScreenCaptureService>(*tracker, access, clock, AssistantIdentity::current(),
                                                            entries);
    }

    void track(const SampleApplication &app, const QString &bundle)
    {
        ASSERT_TRUE(activate(app.window()));
        ASSERT_TRUE(waitUntil([&] {
            const auto last = tracker->lastExternalApplication();
            return last && last->bundleIdentifier == bundle;
        }));
    }

    CaptureResult capture() { return finish(service->captureCurrentContext()); }

    QTemporaryDir m_data;
    std::shared_ptr<DesktopEntryIndex> entries;
    X11ScreenCaptureAccess access;
    VirtualClock clock;
    std::unique_ptr<X11FrontmostAppTracker> tracker;
    std::unique_ptr<X11ScreenCaptureService> service;
};

// Stands in for a compositing manager: redirects every top-level window off
// screen and owns the compositing-manager selection, as long as it lives.
class TestCompositor
{
public:
    TestCompositor()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        auto *version = xcb_composite_query_version_reply(m_connection, xcb_composite_query_version(m_connection, 0, 4),
                                                          nullptr);
        std::free(version);
        if (xcb_generic_error_t *error = xcb_request_check(
                m_connection, xcb_composite_redirect_subwindows_checked(m_connection, screen->root,
                                                                        XCB_COMPOSITE_REDIRECT_MANUAL))) {
            std::free(error);
            return;
        }
        const xcb_window_t owner = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, owner, screen->root, -10, -10, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char name[] = "_NET_WM_CM_S0";
        auto *atom = xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, sizeof(name) - 1, name),
                                           nullptr);
        xcb_set_selection_owner(m_connection, owner, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); // sync
        m_active = true;
    }
    ~TestCompositor() { xcb_disconnect(m_connection); } // undoes both
    bool active() const { return m_active; }

private:
    xcb_connection_t *m_connection = nullptr;
    bool m_active = false;
};
} // namespace

TEST_F(X11ScreenCaptureTest, CapturesTheTrackedApplicationsWindowWithItsMetadataAndThePointerButNeverTheAssistant)
{
    SampleApplication redApp(red());
    SampleApplication blueApp(blue());
    ASSERT_TRUE(redApp.start());
    ASSERT_TRUE(blueApp.start());

    track(redApp, "org.nimbel.test.Red");
    clock.advance(std::chrono::milliseconds(1234));
    auto result = capture();
    ASSERT_TRUE(result) << toDescription(result.error()).message.toStdString();
    CaptureMetadata expected;
    expected.kind = CaptureKind::window;
    expected.applicationName = QString::fromUtf8("Красный образец");
    expected.bundleIdentifier = QStringLiteral("org.nimbel.test.Red");
    expected.windowTitle = QStringLiteral("Red document");
    expected.logicalWidth = expected.pixelWidth = 400;
    expected.logicalHeight = expected.pixelHeight = 300;
    expected.capturedAt = clock.now();
    EXPECT_EQ(result->metadata, expected) << result->metadata.toJson().dump();
    EXPECT_EQ(result->image.size(), QSize(400, 300));
    EXPECT_EQ(shareOf(result->image, result->image.rect(), redColour), 1.0);

    // The other application in front, then the red one again. The pointer is drawn where it
    // is: its hot spot at (200, 150) of the red window, its picture around it and nowhere else.
    track(blueApp, "org.nimbel.test.Blue");
    EXPECT_EQ(shareOf(capture()->image, QRect(0, 0, 500, 350), blueColour), 1.0);
    track(redApp, "org.nimbel.test.Red");
    ASSERT_TRUE(run(QStringLiteral("xdotool"), {"mousemove", "--sync", "300", "250"}));
    result = capture();
    ASSERT_TRUE(result);
    EXPECT_LT(shareOf(result->image, QRect(170, 120, 60, 60), redColour), 1.0);
    EXPECT_EQ(shareOf(result->image, QRect(0, 0, 400, 100), redColour), 1.0);
    EXPECT_EQ(shareOf(result->image, QRect(260, 0, 140, 300), redColour), 1.0);

    // The assistant's panel covers the red window's right half and takes
    // focus: it is never in the capture, and nothing is known beneath it.
    ASSERT_TRUE(run(QStringLiteral("xdotool"), {"mousemove", "--sync", "1900", "1060"}));
    OwnWindow panel(greenColour, QRect(300, 150, 400, 200));
    ASSERT_TRUE(panel.showAndWait());
    ASSERT_TRUE(activate(static_cast<quint32>(panel.winId())));
    result = capture();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->metadata.kind, CaptureKind::window);
    EXPECT_EQ(result->metadata.bundleIdentifier, u"org.nimbel.test.Red");
    EXPECT_EQ(shareOf(result->image, result->image.rect(), greenColour), 0);
    // Window coordinates: the panel covers x 200…399, y 50…249 of it.
    EXPECT_EQ(shareOf(result->image, QRect(200, 50, 200, 200), black), 1.0);
    EXPECT_EQ(shareOf(result->image, QRect(0, 0, 200, 300), redColour), 1.0);
    EXPECT_EQ(shareOf(result->image, QRect(200, 250, 200, 50), redColour), 1.0);

    // A permission refusal stops the capture before it starts.
    class Refusing final : public ScreenCaptureAccess
    {
    public:
        int prompts = 0;
        bool preflight() override { return false; }
        bool request() override { return ++prompts, false; }
    } refusing;
    X11ScreenCaptureService refused(*tracker, refusing, clock, AssistantIdentity::current(), entries);
    result = finish(refused.captureCurrentContext());
    ASSERT_FALSE(result);
    EXPECT_EQ(std::get<ScreenCaptureError>(result.error()), ScreenCaptureError::permissionDenied);
    EXPECT_EQ(refusing.prompts, 1);
}

TEST_F(X11ScreenCaptureTest, CoveredOrTooSmallWindowsNeverYieldOtherWindowsPixelsAndAreWholeUnderACompositor)
{
    SampleApplication redApp(red());
    SampleApplication::Options onTop = blue(QRect(50, 250, 300, 300));
    onTop.above = true; // stays above the red window even when that is active
    SampleApplication blueApp(onTop);
    // 179 points wide: never a candidate.
    SampleApplication tinyApp({"tiny", "Tiny", "Tiny", yellowColour, QRect(1400, 700, 179, 300)});
    ASSERT_TRUE(redApp.start());
    ASSERT_TRUE(blueApp.start());
    ASSERT_TRUE(tinyApp.start());
    track(redApp, "org.nimbel.test.Red");
    ASSERT_EQ(screenColour(QPoint(120, 300)), blueColour); // blue really covers red there

    auto result = capture();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->metadata.kind, CaptureKind::window);
    ASSERT_EQ(result->image.size(), QSize(400, 300));
    EXPECT_EQ(shareOf(result->image, result->image.rect(), blueColour), 0);
    // Blue covers x 0…249, y 150…299 of the red window.
    EXPECT_EQ(shareOf(result->image, QRect(0, 150, 250, 150), black), 1.0);
    EXPECT_EQ(shareOf(result->image, QRect(0, 0, 400, 150), redColour), 1.0);
    EXPECT_EQ(shareOf(result->image, QRect(250, 150, 150, 150), redColour), 1.0);

    // The tiny window in front: the display, without the assistant's panel.
    track(tinyApp, "tiny");
    OwnWindow panel(greenColour, QRect(400, 150, 400, 200));
    ASSERT_TRUE(panel.showAndWait());
    result = capture();
    ASSERT_TRUE(result);
    const CaptureMetadata &m = result->metadata;
    EXPECT_EQ(m.kind, CaptureKind::display);
    EXPECT_EQ(m.applicationName, u"Tiny Sample");
    EXPECT_EQ(m.bundleIdentifier, u"tiny");
    EXPECT_EQ(m.windowTitle, std::nullopt);
    EXPECT_EQ(std::tuple(m.logicalWidth, m.logicalHeight, m.pixelWidth), std::tuple(1920.0, 1080.0, 1920));
    EXPECT_EQ(result->image.size(), QSize(1920, 1080));
    EXPECT_EQ(shareOf(result->image, result->image.rect(), greenColour), 0);
    const std::pair<QRect, QColor> areas[] = {
        {QRect(400, 150, 400, 200), black}, // nothing is known beneath the panel
        {QRect(100, 100, 300, 150), redColour},
        {QRect(50, 250, 300, 300), blueColour},
        {QRect(1400, 700, 179, 300), yellowColour},
    };
    for (const auto &[area, colour] : areas)
        EXPECT_EQ(shareOf(result->image, area, colour), 1.0) << area.x() << "," << area.y();

    // Under a compositor, where the panel covers the red window the red window
    // shows through; where it covers only the desktop, nothing does.
    TestCompositor compositor;
    ASSERT_TRUE(compositor.active());
    // Redirection re-exposes every window, and the red one paints itself again,
    // possibly region by region: wait until that paint has all arrived.
    const auto redShowsThrough = [&] {
        result = capture();
        return result && shareOf(result->image, QRect(400, 150, 100, 200), redColour) == 1.0;
    };
    EXPECT_TRUE(waitUntil(redShowsThrough, 10000));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->metadata.kind, CaptureKind::display);
    EXPECT_EQ(shareOf(result->image, result->image.rect(), greenColour), 0);
    EXPECT_EQ(shareOf(result->image, QRect(500, 150, 300, 200), black), 1.0);

    // And the red window, covered by blue and the panel, is whole (once all
    // of its repaint has arrived).
    track(redApp, "org.nimbel.test.Red");
    const auto whole = [&] {
        result = capture();
        return result && result->metadata.kind == CaptureKind::window && result->image.size() == QSize(400, 300)
            && shareOf(result->image, result->image.rect(), redColour) == 1.0;
    };
    EXPECT_TRUE(waitUntil(whole, 10000)) << (result ? shareOf(result->image, result->image.rect(), redColour) : -1.0);
}

TEST_F(X11ScreenCaptureTest, MinimisedWindowsAreNotCaptured)
{
    // The red application alone: with another window around, the window
    // manager would activate that one once the red window is gone.
    SampleApplication redApp(red());
    ASSERT_TRUE(redApp.start());
    track(redApp, "org.nimbel.test.Red");

    // xdotool's --sync returns before the window manager has acted on a minimise.
    ASSERT_TRUE(run(QStringLiteral("xdotool"), {"windowminimize", QString::number(redApp.window())}));
    auto result = capture();
    EXPECT_TRUE(waitUntil([&] { return (result = capture()) && result->metadata.kind == CaptureKind::display; }, 10000));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->metadata.bundleIdentifier, u"org.nimbel.test.Red");
    EXPECT_EQ(shareOf(result->image, result->image.rect(), redColour), 0);
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    // Without Xvfb the suite skips itself. (The desktop outlives the application object.)
    std::optional<PrivateDesktop> desktop;
    if (listing || !desktop.emplace().start())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("nimbel-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("nimbel-tests"));
    return RUN_ALL_TESTS();
}
