// The QML views bound to the real view model inside the real panel controller
// (offscreen), driven as the owner drives them: every control is pressed and
// either does what it says or is disabled (or hidden) with a tooltip saying why.
// The orb, the settings button, the language choice, launch at login and the
// introduction's Continue are pressed in the built application
// (VoiceConversationEndToEndTest, SettingsSessionTest).
#include "app/FirstRunSession.h"
#include "app/HighlightSettings.h"
#include "app/LanguageChoice.h"
#include "app/LaunchAtLoginService.h"
#include "app/LauncherAnchorStore.h"
#include "app/OverlayPanelController.h"
#include "app/UpdateService.h"
#include "app/ScreenSpace.h"
#include "conversation/ViewModelHarness.h"
#include "QuickItems.h"

#include <QAccessible>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include <functional>

Q_IMPORT_QML_PLUGIN(Nimbel_UiPlugin)

using namespace nimbel;
using Page = DesktopActions::SettingsPage;

namespace {

class OverlayViews : public test::ViewModelHarness
{
protected:
    // The views bind to the one highlight settings object the application made.
    void SetUp() override
    {
        HighlightSettings::setInstance((highlight = std::make_unique<HighlightSettings>(preferences, true)).get());
    }

    void TearDown() override
    {
        panel.reset();
        HighlightSettings::setInstance(nullptr);
        firstRun.reset();
        model.reset();
        ViewModelHarness::TearDown();
    }

    void show(bool connected)
    {
        panel.reset();
        model = connected ? makeConnected(QStringLiteral("https://platform.example"), true) : make(true);
        panel = std::make_unique<OverlayPanelController>(*model, preferences, clock);
        ASSERT_NE(root(), nullptr) << logs.all().toStdString();
        attachShell();
        panel->bringToFront();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel->window()));
        settle();
    }

    void settle()
    {
        clock.settle();
        test::settle(panel->window());
    }

    QQuickItem *root() { return panel->window()->rootObject(); }

    // The application's own services, real ones over this test's profile; the
    // update feed is a closed loopback port, so a check ends with a network error.
    void attachShell()
    {
        updates = std::make_unique<UpdateService>(
            UpdateService::Configuration{QUrl(QStringLiteral("http://127.0.0.1:9/appcast.xml")), QByteArray(32, 'k'),
                                         QStringLiteral("1.0"), QStringLiteral("1.0 (1)")},
            clock, preferences, links);
        firstRun = std::make_unique<FirstRunSession>(FirstRunSession::Services{
            .preferences = preferences,
            .screenCapture = screen,
            .accessibilityTrusted = [this] { return accessibility.trusted; },
            .askAccessibility = [this] { return accessibility.trusted; },
            .microphone = [] { return MicrophoneAuthorization::notDetermined; },
            .connected = [this] { return model->isPlatformConnected(); },
            .agentName = [this] { return model->connectedAgentName(); },
            .platformAddress = [this] { return model->gatewayBaseURL(); },
            .openPlatformConnectionPage = [this] { model->openPlatformConnectionPage(); },
            .run = [](const SettingsCommand &) { return true; },
            .hasProgram = [](const QString &) { return false; },
            .relaunch = [this] { return desktop.relaunch(); },
            .openLink = [this](const QUrl &url) { return links.open(url); },
        });
        loginService = std::make_unique<LaunchAtLoginService>(directory.filePath(QStringLiteral("autostart")),
                                                              QStringLiteral("/usr/bin/nimbel"));
        language = std::make_unique<LanguageChoice>(preferences, [this] { model->restartApplication(); });
        panel->attach({firstRun.get(), updates.get(), loginService.get(), language.get()});
    }

    void openSettings() { model->openChat(); root()->setProperty("showSettings", true); }

    // An item of the views by object name, a shown one before a hidden one.
    QQuickItem *find(const QString &name) { return test::itemsNamed(root(), name).value(0); }

    // A left click in the middle of the item, as the window receives it
    // (scrolled into view first when it sits in a flickable sheet).
    void press(QQuickItem *target)
    {
        for (QQuickItem *up = target->parentItem(); up; up = up->parentItem()) {
            if (!up->inherits("QQuickFlickable"))
                continue;
            auto *content = up->property("contentItem").value<QQuickItem *>();
            up->setProperty("contentY", std::max(0.0, target->mapToItem(content, QPointF()).y() - 20));
            settle();
        }
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(panel->window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        settle();
    }

    void type(QQuickItem *field, const QString &text)
    {
        field->forceActiveFocus();
        for (const QChar c : text)
            QTest::keyClick(panel->window(), c.toLatin1());
        settle();
    }

    static QString tooltip(QQuickItem *control)
    {
        const QVariant label = control->property("label");
        if (label.isValid())
            return label.toString();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(control);
        return iface ? iface->text(QAccessible::Description) : QString();
    }

    void fail(ZelmRecovery recovery)
    {
        model->openChat();
        model->setFailure(ZelmFailure{QStringLiteral("Something needs a fix."), recovery, true});
        settle();
    }

    std::unique_ptr<OverlayViewModel> model;
    std::unique_ptr<HighlightSettings> highlight;
    std::unique_ptr<UpdateService> updates;
    std::unique_ptr<FirstRunSession> firstRun;
    std::unique_ptr<LaunchAtLoginService> loginService;
    std::unique_ptr<LanguageChoice> language;
    std::unique_ptr<OverlayPanelController> panel;
};

} // namespace

TEST_F(OverlayViews, EveryControlDoesWhatItSaysOrSaysWhyNot)
{
    // Disabled controls are pressed too: nothing may happen.
    enum Expected { works, disabled, hidden };
    struct Control
    {
        const char *name;
        bool connected;
        std::function<void()> arrange;
        Expected expected;
        std::function<void()> check;
        QString why = {}; // the tooltip of a disabled control
    };
    const auto none = [] {};
    const auto chat = [&] { model->openChat(); };
    const auto sheet = [&] { openSettings(); };
    const auto otherPlatform = [&] {
        model->openChat();
        ASSERT_TRUE(model->applyPlatformConnection(QUrl(QStringLiteral(
            "zelmdesktop://connect?platform_url=https%3A%2F%2Fother.example&code=AbCdEfGhIjKlMnOpQrStUvWx_-12"))));
    };
    const auto permissionState = [&] { return find(QStringLiteral("microphonePermissionState"))->property("text").toString(); };
    const QList<Control> controls{
        {"microphoneButton", true, none, works, [&] { EXPECT_TRUE(model->isVoiceSessionActive()); }},
        {"endButton", true, [&] { model->toggleListening(); }, works, [&] { EXPECT_FALSE(model->isVoiceSessionActive()); }},
        {"chatToggleButton", false, none, works, [&] { EXPECT_TRUE(model->isExpanded()); }},
        {"newConversationButton", false,
         [&] {
             model->openChat();
             model->appendMessage(ChatMessage::create(ChatMessage::Role::user, QStringLiteral("Hello?"), clock.now()));
         },
         works, [&] { EXPECT_EQ(texts(*model).size(), 1); }},
        {"closeChatButton", false, chat, works, [&] { EXPECT_FALSE(model->isExpanded()); }},
        {"sendButton", true, chat, disabled, [&] { EXPECT_TRUE(gateway.chats.isEmpty()); }},
        {"sendButton", true,
         [&] {
             model->openChat();
             settle();
             type(find(QStringLiteral("questionField")), QStringLiteral("What is the capital of France?"));
         },
         works,
         [&] {
             ASSERT_EQ(gateway.chats.size(), 1);
             EXPECT_EQ(texts(*model).at(1), u"What is the capital of France?");
             EXPECT_TRUE(model->question().isEmpty());
         }},
        {"screenshotButton", true, chat, works, [&] {
             EXPECT_TRUE(settleUntil([&] { return model->screenContext().latestCapture().has_value(); }));
             EXPECT_EQ(captures.calls.size(), 1);
         }},
        {"errorAction", false, [&] { fail(ZelmRecovery::restart); }, works, [&] { EXPECT_EQ(desktop.relaunches, 1); }},
        {"errorAction", false,
         [&] {
             desktop.available = false;
             fail(ZelmRecovery::voicePrivacySettings);
         },
         works,
         [&] {
             // No settings tool on this desktop: the owner is told what to do instead.
             EXPECT_EQ(desktop.opened, QList<Page>{Page::microphone});
             ASSERT_TRUE(model->failure());
             EXPECT_TRUE(model->failure()->message.startsWith(u"This desktop has no settings tool for the microphone"));
             EXPECT_FALSE(find(QStringLiteral("errorAction"))->isVisible());
         }},
        {"errorAction", false, [&] { fail(ZelmRecovery::none); }, hidden, none},
        {"cancelConnection", true, otherPlatform, works, [&] {
             EXPECT_EQ(texts(*model).last(), u"Staying connected to platform.example.");
             EXPECT_TRUE(gateway.pairings.isEmpty());
         }},
        {"confirmConnection", true, otherPlatform, works, [&] { EXPECT_EQ(gateway.pairings.size(), 1); }},
        {"saveButton", false,
         [&] {
             openSettings();
             settle();
             QQuickItem *field = find(QStringLiteral("platformAddressField"));
             field->setProperty("text", QString());
             type(field, QStringLiteral(" https://mine.example "));
         },
         works, [&] { EXPECT_EQ(preferences.string(keys::desktopPlatformBaseURL), u"https://mine.example"); }},
        {"connectButton", false, sheet, works, [&] { EXPECT_EQ(links.opened.size(), 1); }},
        {"screenSettingsButton", false, sheet, works, [&] { EXPECT_EQ(desktop.opened, QList<Page>{Page::screenRecording}); }},
        {"labelsSwitch", false, sheet, works, [&] {
             EXPECT_FALSE(model->accessibilityContextEnabled());
             EXPECT_EQ(preferences.boolean(keys::accessibilityContextEnabled), false);
         }},
        {"autoUpdateSwitch", false, sheet, works, [&] { EXPECT_FALSE(updates->automaticallyChecksForUpdates()); }},
        {"checkUpdatesButton", false, sheet, works, [&] {
             EXPECT_TRUE(settleUntil([&] { return !updates->lastUpdateError().isEmpty(); }));
             EXPECT_TRUE(find(QStringLiteral("updateError"))->isVisible());
         }},
        {"checkUpdatesButton", false,
         [&] {
             // A build without a feed: nothing to check, and the button says so.
             auto none = std::make_unique<UpdateService>(UpdateService::Configuration{}, clock, preferences, links);
             panel->attach({.updates = none.get()});
             updates = std::move(none);
             openSettings();
         },
         disabled, none, QStringLiteral("Updates unavailable: this build has no update checker.")},
        {"downloadButton", false, sheet, hidden, none},
        {"showFirstRunButton", false,
         [&] {
             preferences.setInteger(keys::desktopFirstRunCompletedVersion, 1);
             openSettings();
         },
         works,
         [&] {
             EXPECT_FALSE(preferences.contains(keys::desktopFirstRunCompletedVersion));
             EXPECT_EQ(find(QStringLiteral("firstRunTitle"))->property("text").toString(), u"Hello — I’m Nimbel");
             EXPECT_FALSE(find(QStringLiteral("questionField"))->isVisible());
         }},
        {"firstRunPrivacyLink", true,
         [&] {
             model->openChat();
             firstRun->show();
             firstRun->advance();
             firstRun->advance();
         },
         works, [&] { EXPECT_EQ(links.opened, QList<QUrl>{QUrl(QStringLiteral("https://platform.example/privacy/mac"))}); }},
        // A fresh look at the microphone's permission once the owner changed it (which also
        // takes away a failure about it).
        {"recheckPermissionsButton", false,
         [&] {
             microphone.permission = PermissionState::denied;
             fail(ZelmRecovery::voicePrivacySettings);
             openSettings();
             microphone.permission = PermissionState::authorized;
         },
         works,
         [&] {
             EXPECT_FALSE(model->failure());
             EXPECT_EQ(permissionState(), u"Allowed");
             EXPECT_FALSE(find(QStringLiteral("microphoneSettingsButton"))->isVisible());
         }},
        // On unless switched off; the choice outlives the run.
        {"highlightSwitch", false, sheet, works, [&] { EXPECT_FALSE(HighlightSettings(preferences, true).isEnabled()); }},
    };

    for (const Control &control : controls) {
        SCOPED_TRACE(control.name);
        desktop = {};
        links.opened.clear();
        show(control.connected);
        if (HasFatalFailure())
            return;
        gateway.chats.clear();
        control.arrange();
        settle();
        QQuickItem *item = find(QString::fromLatin1(control.name));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->isVisible(), control.expected != hidden);
        if (control.expected != hidden) {
            EXPECT_EQ(item->isEnabled(), control.expected == works);
            if (control.expected == disabled && !control.why.isEmpty()) {
                EXPECT_EQ(tooltip(item), control.why);
            }
            press(item);
        }
        control.check();
    }
}

TEST_F(OverlayViews, PanelResizesAroundAFixedAnchorAndRemembersWhereItWasMoved)
{
    ASSERT_NO_FATAL_FAILURE(show(false));
    const ScreenSpace space = ScreenSpace::current();
    const panel::Point anchor = panel->launcherAnchor();
    QQuickView *window = panel->window();
    model->openChat();
    settle();
    EXPECT_EQ(space.fromQt(QRectF(window->geometry())), panel::panelFrame(anchor, true, panel::ChatPlacement::above));
    model->closeChat();
    settle();
    EXPECT_EQ(panel->launcherAnchor(), anchor);

    // The owner drags the launcher: its new bottom-right corner is remembered.
    window->setPosition(window->position() - QPoint(150, 100));
    settle();
    const panel::Point moved{anchor.x - 150, anchor.y + 100};
    EXPECT_EQ(panel->launcherAnchor(), moved);
    EXPECT_EQ(readSavedPlacement(settings).launcherAnchor, moved);
}
