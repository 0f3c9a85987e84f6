#include "app/FirstRunFlow.h"
#include "app/FirstRunSession.h"
#include "app/SystemSettingsPages.h"
#include "screen/ScreenCapturePermission.h"
#include "settings/Localized.h"
#include "settings/PreferencesStore.h"

#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

using namespace nimbel;

TEST(FirstRunFlow, PrimaryButtonPerPageAndState)
{
    using P = FirstRunPermission;
    using O = FirstRunOperation;
    struct Case
    {
        FirstRunStep step;
        P permission;
        bool connected;
        const char *key;
        O operation;
    };
    // The pages and refusals the self-test walks are checked through its report (SelfTestTest).
    const Case cases[] = {
        {FirstRunStep::microphone, P::granted, false, "firstRun.continue", O::firstRunAdvance},
        {FirstRunStep::microphone, P::needsRestart, false, "firstRun.restart", O::restartApplication},
        {FirstRunStep::accessibility, P::granted, false, "firstRun.continue", O::firstRunAdvance},
        {FirstRunStep::accessibility, P::needsRestart, false, "firstRun.openSettings", O::openAccessibilitySettings},
        {FirstRunStep::connect, P::unknown, true, "firstRun.done", O::firstRunAdvance},
    };
    for (const Case &c : cases) {
        FirstRunState state;
        state.step = c.step;
        state.connected = c.connected;
        // Only the page's own permission may matter: the others are set to something else.
        state.microphone = c.step == FirstRunStep::microphone ? c.permission : P::refusedForGood;
        state.screen = c.step == FirstRunStep::screen ? c.permission : P::needsRestart;
        state.accessibility = c.step == FirstRunStep::accessibility ? c.permission : P::granted;
        SCOPED_TRACE(FirstRunFlow::stepName(c.step).toStdString() + " " + std::to_string(int(c.permission)));
        const FirstRunButton button = FirstRunFlow::primaryButton(state);
        EXPECT_EQ(button.titleKey, QString::fromLatin1(c.key));
        EXPECT_EQ(FirstRunFlow::operationName(button.operation), FirstRunFlow::operationName(c.operation));
    }
}

TEST(FirstRunFlow, NotesPerPageAndState)
{
    using P = FirstRunPermission;
    using T = FirstRunNoteTone;
    struct Case
    {
        FirstRunStep step;
        P permission;
        bool connected;
        std::vector<std::pair<const char *, T>> notes;
    };
    const Case cases[] = {
        {FirstRunStep::welcome, P::granted, true, {}},
        {FirstRunStep::microphone, P::needsRestart, false, {}},
        {FirstRunStep::microphone, P::refusedForGood, false, {{"firstRun.microphone.refused", T::warn}}},
        {FirstRunStep::screen, P::unknown, false, {{"firstRun.screen.never", T::good}, {"firstRun.screen.monthly", T::quiet}}},
        {FirstRunStep::screen, P::needsRestart, false,
         {{"firstRun.screen.never", T::good}, {"firstRun.screen.monthly", T::quiet}, {"firstRun.screen.restart", T::warn}}},
        {FirstRunStep::accessibility, P::granted, false, {{"firstRun.granted", T::good}}},
        {FirstRunStep::accessibility, P::refusedForGood, false, {{"firstRun.accessibility.skipped", T::quiet}}},
        {FirstRunStep::connect, P::unknown, true, {{"firstRun.connect.done", T::good}}},
        {FirstRunStep::connect, P::granted, false, {{"firstRun.connect.waiting", T::quiet}}},
    };
    for (const Case &c : cases) {
        FirstRunState state;
        state.step = c.step;
        state.connected = c.connected;
        state.microphone = c.step == FirstRunStep::microphone ? c.permission : P::granted;
        state.screen = c.step == FirstRunStep::screen ? c.permission : P::granted;
        state.accessibility = c.step == FirstRunStep::accessibility ? c.permission : P::refusedForGood;
        SCOPED_TRACE(FirstRunFlow::stepName(c.step).toStdString() + " " + std::to_string(int(c.permission)));
        QList<FirstRunNote> expected;
        for (const auto &[key, tone] : c.notes)
            expected.append({QString::fromLatin1(key), tone});
        EXPECT_EQ(FirstRunFlow::notes(state), expected);
    }
}

TEST(SystemSettings, TheDesktopsOwnToolOpensThePageWhereOneIsInstalled)
{
    const auto on = [](std::initializer_list<const char *> installed) {
        return [installed](const QString &program) {
            return std::any_of(installed.begin(), installed.end(), [&](const char *p) { return program == p; });
        };
    };
    using C = SettingsCommand;
    EXPECT_EQ(systemSettings::command(SettingsPage::microphone, on({"gnome-control-center", "pavucontrol"})),
              (C{QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}}));
    EXPECT_EQ(systemSettings::command(SettingsPage::microphone, on({"pavucontrol"})),
              (C{QStringLiteral("pavucontrol"), {QStringLiteral("--tab=4")}}));
    EXPECT_EQ(systemSettings::command(SettingsPage::accessibility, on({"systemsettings"})),
              (C{QStringLiteral("systemsettings"), {QStringLiteral("kcm_access")}}));
    EXPECT_EQ(systemSettings::command(SettingsPage::accessibility, on({"pavucontrol"})), std::nullopt);
    EXPECT_EQ(systemSettings::command(SettingsPage::screenRecording, on({"gnome-control-center"})), std::nullopt);
}

namespace {

class FakeScreenAccess final : public ScreenCaptureAccess
{
public:
    bool preflight() override { return visible; }
    bool request() override
    {
        ++requests;
        return grantOnRequest;
    }
    bool visible = false;
    bool grantOnRequest = true;
    int requests = 0;
};

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
    FakeScreenAccess screen;
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

TEST(FirstRunSession, WalkingThroughToTheEndRecordsItOnceAndShowingAgainForgetsIt)
{
    SessionHarness h;
    EXPECT_TRUE(FirstRunSession::isDue(h.preferences));
    h.trusted = true;
    h.screen.visible = true; // X11: capture is always allowed
    h.session.show();
    ASSERT_TRUE(h.session.isActive());
    EXPECT_EQ(h.session.state()->accessibility, FirstRunPermission::granted) << "current states filled in";
    h.session.back();
    EXPECT_EQ(h.session.state()->step, FirstRunStep::welcome);

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

    h.session.show();
    EXPECT_TRUE(h.session.isActive());
    EXPECT_FALSE(h.preferences.contains("desktopFirstRunCompletedVersion"));
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
    h.screen.visible = false;
    h.session.primary();
    EXPECT_EQ(h.session.state()->screen, FirstRunPermission::needsRestart);
    EXPECT_EQ(h.session.state()->step, FirstRunStep::screen);
    h.session.primary();
    EXPECT_EQ(h.relaunches, 1);

    // Accessibility refused: the page stays with its quiet note; no settings tool for it here.
    h.session.advance();
    h.session.primary();
    EXPECT_EQ(h.session.state()->step, FirstRunStep::accessibility);
    h.installed.clear();
    FirstRunState state = *h.session.state();
    EXPECT_EQ(state.accessibility, FirstRunPermission::unknown);
    // Granted later, outside the application: refreshing picks it up and never downgrades.
    h.trusted = true;
    h.session.refresh();
    EXPECT_EQ(h.session.state()->accessibility, FirstRunPermission::granted);
    h.trusted = false;
    h.session.refresh();
    EXPECT_EQ(h.session.state()->accessibility, FirstRunPermission::granted);
}
