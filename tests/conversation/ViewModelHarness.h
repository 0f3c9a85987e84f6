#pragma once

#include "ConversationFakes.h"
#include "FakeVisionGateway.h"
#include "conversation/OverlayViewModel.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"
#include "support/LogCapture.h"
#include "support/VirtualClock.h"

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

    std::unique_ptr<OverlayViewModel> make(ScreenQuestionPath *screenPath = nullptr)
    {
        OverlayViewModel::Services services{clock,         preferences, tokens,    voice,   microphone,
                                            accessibility, screen,      loginItem, updates, &gateway,
                                            screenPath,    &links};
        auto model = std::make_unique<OverlayViewModel>(
            services, OverlayViewModel::Launch{QProcessEnvironment(), {QStringLiteral("nimbel")}});
        clock.settle();
        return model;
    }

    // A model connected to `address` as agent "dsa-agent" whose start-up
    // synchronisation has been answered with `configuration()`.
    std::unique_ptr<OverlayViewModel> makeConnected(const QString &address = QStringLiteral("https://platform.example"))
    {
        tokens.key = QStringLiteral("zelm-key");
        preferences.setString(keys::desktopPlatformBaseURL, address);
        preferences.setString(keys::desktopConnectedAgentID, QStringLiteral("dsa-agent"));
        preferences.setString(keys::desktopConnectedAgentName, QStringLiteral("Orion"));
        auto model = make();
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

    void ask(OverlayViewModel &model, const QString &question, bool shouldOpenChat = true)
    {
        model.setQuestion(question);
        model.submitQuestion(shouldOpenChat);
        clock.settle();
    }

    QTemporaryDir directory;
    QSettings settings;
    PreferencesStore preferences;
    VirtualClock clock;
    FakeTokenStore tokens;
    FakeVoiceOutput voice;
    FakeMicrophone microphone;
    FakeAccessibilityTrust accessibility;
    FakeScreenCapturePermission screen;
    FakeLoginItem loginItem;
    FakeUpdateStatus updates;
    FakeLinkOpener links;
    FakeVisionGateway gateway;
    LogCapture logs;
};

} // namespace nimbel::test
