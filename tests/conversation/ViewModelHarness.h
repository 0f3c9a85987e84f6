#pragma once

#include "ConversationFakes.h"
#include "FakeVisionGateway.h"
#include "ScreenFakes.h"
#include "conversation/OverlayViewModel.h"
#include "screen/LocalScreenContextPreparer.h"
#include "screen/ScreenImageEncoder.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"
#include "support/LogCapture.h"
#include "support/VirtualClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace nimbel::test {

// A view model over fakes, a fake platform and the virtual clock. The
// interface language is English unless a test stores another.
class ViewModelHarness : public ::testing::Test
{
protected:
    ViewModelHarness()
        : settings(directory.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat)
        , preferences(&settings)
        , gateway(clock)
    {
        preferences.setString(keys::zelmAppLanguage, QStringLiteral("en"));
    }

    // Lets tasks stopped by a destroyed view model run to their end.
    void TearDown() override { clock.settle(); }

    // With `withScreen`, over fake capture, tracking and accessibility
    // services and the real on-device reader; without, screen questions are
    // unavailable.
    std::unique_ptr<OverlayViewModel> make(bool withScreen = false)
    {
        OverlayViewModel::Services services{clock,   preferences, tokens,  voice,   microphone, accessibility, screen,
                                            loginItem, updates,  gateway, links, desktop,    encoder};
        if (withScreen) {
            services.screenCapture = &captures;
            services.appTracker = &tracker;
            services.accessibilityContext = &walks;
            services.screenContextPreparer = &preparer;
        }
        services.onDeviceTranscriber = onDevice;
        auto model = std::make_unique<OverlayViewModel>(
            services, OverlayViewModel::Launch{environment, {QStringLiteral("nimbel")}});
        clock.settle();
        return model;
    }

    // A model connected to `address` as agent "dsa-agent" whose start-up
    // synchronisation has been answered with `configuration()`.
    std::unique_ptr<OverlayViewModel> makeConnected(const QString &address = QStringLiteral("https://platform.example"),
                                                    bool withScreen = false)
    {
        tokens.key = QStringLiteral("zelm-key");
        preferences.setString(keys::desktopPlatformBaseURL, address);
        preferences.setString(keys::desktopConnectedAgentID, QStringLiteral("dsa-agent"));
        preferences.setString(keys::desktopConnectedAgentName, QStringLiteral("Orion"));
        auto model = make(withScreen);
        if (!gateway.configurations.isEmpty() && !gateway.configurations.last()->isAnswered())
            gateway.configurations.last()->answer(configuration());
        clock.settle();
        return model;
    }

    static DesktopConfiguration configuration(QMap<QString, bool> skills = {})
    {
        DesktopConfiguration config;
        config.agentID = QStringLiteral("dsa-agent");
        config.agentName = QStringLiteral("Orion");
        config.greetRU = QStringLiteral("Здравствуйте!");
        config.greetEN = QStringLiteral("  Hello there. ");
        config.skills = skills.isEmpty() ? OverlayViewModel::allSkillsOn() : skills;
        return config;
    }

    static QStringList texts(const OverlayViewModel &model)
    {
        QStringList result;
        for (const ChatMessage &message : model.messages())
            result.append(message.text);
        return result;
    }

    // The most recent chat call; fails the test when there is none.
    FakeVisionGateway::ChatCall &lastChat()
    {
        EXPECT_FALSE(gateway.chats.isEmpty());
        return *gateway.chats.last();
    }

    // Answers a platform call and lets what waits on it run on.
    template<typename Call, typename Value>
    void reply(const std::shared_ptr<Call> &call, Value &&value)
    {
        call->answer(std::forward<Value>(value));
        clock.settle();
    }

    void ask(OverlayViewModel &model, const QString &question, bool shouldOpenChat = true)
    {
        model.setQuestion(question);
        model.submitQuestion(shouldOpenChat);
        clock.settle();
    }

    // Runs the event loop (and the virtual clock's due work) until `done`
    // holds, for work that finishes on other threads; false after 20 s.
    template<typename Predicate>
    bool settleUntil(Predicate done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > 20'000)
                return false;
            clock.settle();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        clock.settle();
        return true;
    }

    // What the next `make` launches with.
    QProcessEnvironment environment;
    OnDeviceTranscriber *onDevice = nullptr;
    QTemporaryDir directory;
    QSettings settings;
    PreferencesStore preferences;
    VirtualClock clock;
    FakeTokenStore tokens;
    FakeVoiceOutput voice;
    FakeMicrophone microphone;
    FakeAccessibilityTrust accessibility;
    FakeScreenCaptureAccess screen;
    FakeScreenCaptureService captures{clock};
    FakeAppTracker tracker;
    FakeAccessibilityService walks{clock};
    FakeLoginItem loginItem;
    FakeUpdateStatus updates;
    FakeLinkOpener links;
    FakeDesktopActions desktop;
    FakeVisionGateway gateway;
    LogCapture logs;
    // The fixture's own workers, declared last so that they go first: each
    // waits for its thread, so no encoding or text recognition still runs
    // when the clock, the fakes and the log capture go (or the process ends).
    ScreenImageEncoder encoder;
    LocalScreenContextPreparer preparer;
};

} // namespace nimbel::test
