#include "conversation/ConversationFakes.h"
#include "app/FirstRunFlow.h"
#include "app/FirstRunSession.h"
#include "app/SystemSettingsPages.h"
#include "screen/ScreenCapturePermission.h"
#include "settings/Localized.h"
#include "settings/PreferencesStore.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

struct SessionHarness
{
    SessionHarness()
        : settings(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat)
        , preferences(&settings)
        , session(FirstRunSession::Services{
              .preferences = preferences,
              .screenCapture = screen,
              .accessibilityTrusted = [this] { return trusted; },
              .askAccessibility = [this] { return trusted = grantAccessibility; },
              .microphone = [this] { return microphone; },
              .connected = [this] { return connected; },
              .agentName = [] { return QStringLiteral("Ada"); },
              .platformAddress = [] { return QStringLiteral("https://zelm.example"); },
              .openPlatformConnectionPage = [this] { ++consoleOpened; },
              .run = [this](const SettingsCommand &command) { ran.append(command); return true; },
              .hasProgram = [this](const QString &program) { return installed.contains(program); },
              .relaunch = [this] { ++relaunches; return true; },
          })
    {
        installTranslations(AppLanguage::en);
    }

    QTemporaryDir dir;
    QSettings settings;
    PreferencesStore preferences;
    test::FakeScreenCaptureAccess screen;
    bool trusted = false;
    bool grantAccessibility = false;
    MicrophoneAuthorization microphone = MicrophoneAuthorization::notDetermined;
    bool connected = false;
    int consoleOpened = 0;
    QList<SettingsCommand> ran;
    QStringList installed;
    int relaunches = 0;
    FirstRunSession session;
};

} // namespace

// Showing it again from the settings sheet: OverlayViews (showFirstRunButton).
TEST(FirstRunSession, WalkingThroughToTheEndRecordsItOnce)
{
    SessionHarness h;
    h.trusted = true;
    h.screen.granted = true; // X11: capture is always allowed
    h.session.show();
    ASSERT_TRUE(h.session.isActive());
    EXPECT_EQ(h.session.state()->accessibility, FirstRunPermission::granted) << "current states filled in";

    h.session.primary(); // Continue
    EXPECT_EQ(h.session.state()->step, FirstRunStep::microphone);
    h.session.primary(); // Allow: the audio layer has not said yes, so the page stays
    EXPECT_EQ(h.session.state()->step, FirstRunStep::microphone);
    h.session.advance(); // Skip
    EXPECT_EQ(h.session.state()->step, FirstRunStep::screen);
    h.session.primary(); // X11 allows capture without asking
    EXPECT_EQ(h.screen.requests, 0);
    EXPECT_EQ(h.session.state()->step, FirstRunStep::accessibility);
    h.session.primary(); // Continue (already trusted)
    ASSERT_EQ(h.session.state()->step, FirstRunStep::connect);
    h.session.primary();
    EXPECT_EQ(h.consoleOpened, 1);
    EXPECT_TRUE(FirstRunSession::isDue(h.preferences));

    // Pairing completes: the page turns into "Start talking" with the agent's name.
    h.connected = true;
    h.session.refresh();
    ASSERT_EQ(h.session.notes().size(), 1);
    EXPECT_TRUE(h.session.notes()[0].toMap().value(QStringLiteral("text")).toString().contains(QStringLiteral("Ada")));
    h.session.primary();
    EXPECT_FALSE(h.session.isActive());
    EXPECT_EQ(h.preferences.integer("desktopFirstRunCompletedVersion"), std::optional<qint64>(1));
    EXPECT_FALSE(FirstRunSession::isDue(h.preferences));
}

TEST(FirstRunSession, RefusalsRestartsAndSettingsPages)
{
    SessionHarness h;
    h.microphone = MicrophoneAuthorization::denied;
    h.installed = {QStringLiteral("gnome-control-center")};
    h.session.show();
    h.session.advance();
    h.session.primary(); // open the system settings
    ASSERT_EQ(h.ran.size(), 1);
    EXPECT_EQ(h.ran[0].program, QStringLiteral("gnome-control-center"));
    EXPECT_TRUE(h.session.settingsMessage().isEmpty());

    // Screen: the prompt said yes but this process cannot see it yet.
    h.session.advance();
    h.screen.grantOnRequest = true;
    h.screen.granted = false;
    h.session.primary();
    EXPECT_EQ(h.session.state()->screen, FirstRunPermission::needsRestart);
    EXPECT_EQ(h.session.state()->step, FirstRunStep::screen);
    h.session.primary();
    EXPECT_EQ(h.relaunches, 1);

    // Accessibility refused: the page stays with its quiet note; no settings tool for it here.
    h.session.advance();
    h.session.primary();
    EXPECT_EQ(h.session.state()->step, FirstRunStep::accessibility);
    EXPECT_EQ(h.session.state()->accessibility, FirstRunPermission::unknown);
    // Granted later, outside the application: refreshing picks it up and never downgrades.
    h.trusted = true;
    h.session.refresh();
    EXPECT_EQ(h.session.state()->accessibility, FirstRunPermission::granted);
    h.trusted = false;
    h.session.refresh();
    EXPECT_EQ(h.session.state()->accessibility, FirstRunPermission::granted);
}
