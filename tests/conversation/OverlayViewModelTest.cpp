#include "conversation/OverlayViewModel.h"

#include "ConversationFakes.h"
#include "FakeVisionGateway.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"
#include "support/VirtualClock.h"

#include <QMetaProperty>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <set>

using namespace nimbel;
using State = OverlayViewModel::State;
using Mode = OverlayViewModel::InteractionMode;
using Role = ChatMessage::Role;

namespace {

const QString welcomeText =
    QStringLiteral("Hi! Show me what is unclear on your screen and I’ll tell you the next step.");

class OverlayViewModelTest : public ::testing::Test
{
protected:
    OverlayViewModelTest()
        : settings(directory.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat)
        , preferences(&settings)
    {
    }

    // Lets tasks stopped by a destroyed view model run to their end.
    void TearDown() override { clock.settle(); }

    std::unique_ptr<OverlayViewModel> make(QProcessEnvironment environment = QProcessEnvironment(),
                                           QStringList arguments = {QStringLiteral("nimbel")})
    {
        OverlayViewModel::Services services{clock,         preferences,   tokens,    voice,   microphone,
                                            accessibility, screenCapture, loginItem, updates, &gateway};
        return std::make_unique<OverlayViewModel>(services,
                                                  OverlayViewModel::Launch{environment, arguments});
    }

    QTemporaryDir directory;
    QSettings settings;
    PreferencesStore preferences;
    test::VirtualClock clock;
    test::FakeTokenStore tokens;
    test::FakeVoiceOutput voice;
    test::FakeMicrophone microphone;
    test::FakeAccessibilityTrust accessibility;
    test::FakeScreenCaptureAccess screenCapture;
    test::FakeLoginItem loginItem;
    test::FakeUpdateStatus updates;
    test::FakeVisionGateway gateway{clock};
};

const QRegularExpression sessionIDPattern(
    QStringLiteral("^desktop_[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));

} // namespace

TEST_F(OverlayViewModelTest, PlatformStateAndStoredSettingsAreMirroredAtConstruction)
{
    accessibility.trusted = true;
    screenCapture.granted = true;
    loginItem.enabled = true;
    updates.canCheck = true;
    updates.automatic = true;
    updates.error = QStringLiteral("feed unreachable");
    preferences.setString(keys::desktopPlatformBaseURL, QStringLiteral("https://example.test"));
    preferences.setString(keys::desktopConnectedAgentID, QStringLiteral("agent-7"));
    preferences.setString(keys::desktopConnectedAgentName, QStringLiteral("Ada"));
    preferences.setString(keys::desktopGreetingRU, QStringLiteral("Привет!"));
    preferences.setString(keys::desktopGreetingEN, QStringLiteral("Hello!"));
    preferences.setBoolean(keys::voiceOutputEnabled, false);
    tokens.key = QStringLiteral("stored-key");

    const auto model = make();
    EXPECT_TRUE(model->accessibilityPermissionGranted());
    EXPECT_TRUE(model->screenCapturePermissionGranted());
    EXPECT_TRUE(model->launchAtLogin());
    EXPECT_TRUE(model->canCheckForUpdates());
    EXPECT_TRUE(model->automaticallyChecksForUpdates());
    EXPECT_EQ(model->lastUpdateError(), u"feed unreachable");
    EXPECT_EQ(model->gatewayBaseURL(), u"https://example.test");
    EXPECT_EQ(model->connectedAgentID(), u"agent-7");
    EXPECT_EQ(model->connectedAgentName(), u"Ada");
    EXPECT_EQ(model->greetingRU(), u"Привет!");
    EXPECT_EQ(model->greetingEN(), u"Hello!");
    EXPECT_FALSE(model->voiceOutputEnabled()) << "a stored false stays false";
    EXPECT_TRUE(model->accessibilityContextEnabled());
    EXPECT_EQ(model->platformAPIKey(), u"stored-key");
    EXPECT_TRUE(model->isPlatformConnected());

    // The launch environment reaches the settings: a test key replaces the stored one.
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("chat"));
    environment.insert(QStringLiteral("ZELM_DESKTOP_QA_DEVICE_TOKEN"), QStringLiteral("qa-key"));
    EXPECT_EQ(make(environment)->platformAPIKey(), u"qa-key");
}

TEST_F(OverlayViewModelTest, ConnectionNeedsKeyAndAgentBeyondWhitespace)
{
    const auto model = make();
    QSignalSpy connection(model.get(), &OverlayViewModel::isPlatformConnectedChanged);

    model->setPlatformAPIKey(QStringLiteral("key"));
    EXPECT_FALSE(model->isPlatformConnected());
    model->setConnectedAgentID(QStringLiteral(" \n\t"));
    EXPECT_FALSE(model->isPlatformConnected());
    EXPECT_EQ(connection.count(), 0);
    model->setConnectedAgentID(QStringLiteral(" agent\n"));
    EXPECT_TRUE(model->isPlatformConnected());
    EXPECT_EQ(connection.count(), 1);
    model->setPlatformAPIKey(QStringLiteral("\r\n "));
    EXPECT_FALSE(model->isPlatformConnected());
    EXPECT_EQ(connection.count(), 2);
}

TEST_F(OverlayViewModelTest, CancellingTheResponseResetsOnlyABusyState)
{
    const auto model = make();

    model->setState(State::answered);
    model->cancelCurrentResponse(true, false);
    EXPECT_EQ(model->state(), State::answered);
    EXPECT_EQ(voice.stops, 0) << "speech goes on unless asked to stop";

    model->setState(State::analyzing);
    model->cancelCurrentResponse(false, true);
    EXPECT_EQ(model->state(), State::analyzing) << "without resetState the state stays";
    EXPECT_EQ(voice.stops, 1);

    model->cancelCurrentResponse(true, true);
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_EQ(voice.stops, 2);

    model->setState(State::capturing);
    model->cancelCurrentResponse(true, false);
    EXPECT_EQ(model->state(), State::idle);

    model->setState(State::failed);
    model->cancelCurrentResponse(true, true);
    EXPECT_EQ(model->state(), State::failed);
}

TEST_F(OverlayViewModelTest, OpeningAndClosingTheChatSwitchesModeAndSilencesVoice)
{
    const auto model = make();
    model->setVoiceSessionActive(true);
    QSignalSpy expanded(model.get(), &OverlayViewModel::isExpandedChanged);
    QSignalSpy mode(model.get(), &OverlayViewModel::interactionModeChanged);

    model->openChat();
    EXPECT_FALSE(model->isVoiceSessionActive());
    EXPECT_EQ(model->interactionMode(), Mode::chat);
    EXPECT_TRUE(model->isExpanded());
    EXPECT_EQ(microphone.finishes, 1);
    EXPECT_EQ(voice.stops, 1);
    EXPECT_EQ(expanded.count(), 1);
    EXPECT_EQ(mode.count(), 1);

    model->setVoiceSessionActive(true);
    model->closeChat();
    EXPECT_FALSE(model->isVoiceSessionActive());
    EXPECT_EQ(model->interactionMode(), Mode::voice);
    EXPECT_FALSE(model->isExpanded());
    EXPECT_EQ(microphone.finishes, 2);
    EXPECT_EQ(voice.stops, 2);
    EXPECT_EQ(expanded.count(), 2);
    EXPECT_EQ(mode.count(), 2);
}

TEST_F(OverlayViewModelTest, ResettingStartsAFreshConversationAndSession)
{
    const auto model = make();
    const QUuid firstWelcome = model->messages().first().id;
    model->openChat();
    voice.stops = 0;
    microphone.finishes = 0;

    QImage preview(8, 8, QImage::Format_RGB32);
    preview.fill(Qt::red);
    model->setVoiceSessionActive(true);
    model->setQuestion(QStringLiteral("draft"));
    model->setPreviewImage(preview);
    model->setCaptureMetadata(QStringLiteral("capture"));
    model->setAnswer(QStringLiteral("navigation"));
    model->setFailure(ZelmFailure{QStringLiteral("broken"), ZelmRecovery::none, false});
    model->appendMessage(ChatMessage::create(Role::user, QStringLiteral("q"), clock.now()));
    model->appendMessage(ChatMessage::create(Role::analyst, QStringLiteral("note"), clock.now()));
    model->appendMessage(ChatMessage::create(Role::assistant, QStringLiteral("a"), clock.now()));
    model->setState(State::analyzing);
    clock.advance(std::chrono::seconds(30));

    std::set<QString> sessions{model->desktopSessionID()};
    model->resetConversation();

    EXPECT_FALSE(model->isVoiceSessionActive());
    EXPECT_EQ(microphone.finishes, 1);
    EXPECT_GE(voice.stops, 1);
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_TRUE(model->question().isEmpty());
    EXPECT_TRUE(model->previewImage().isNull());
    EXPECT_FALSE(model->captureMetadata().isValid());
    EXPECT_FALSE(model->answer().isValid());
    EXPECT_FALSE(model->failure().has_value());
    ASSERT_EQ(model->messages().size(), 1);
    EXPECT_EQ(model->messages().first().role, Role::assistant);
    EXPECT_EQ(model->messages().first().text, welcomeText);
    EXPECT_NE(model->messages().first().id, firstWelcome) << "a fresh welcome message";
    EXPECT_EQ(model->messages().first().timestamp, clock.now());
    EXPECT_EQ(model->messageModel()->rowCount(), 1);
    // The chat itself stays where it was.
    EXPECT_EQ(model->interactionMode(), Mode::chat);
    EXPECT_TRUE(model->isExpanded());

    // A new session every time, in the same form.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(sessionIDPattern.match(model->desktopSessionID()).hasMatch());
        EXPECT_TRUE(sessions.insert(model->desktopSessionID()).second) << "repeated session id";
        model->resetConversation();
    }

    // A reset from a state that is not busy also returns to idle.
    model->setState(State::answered);
    model->resetConversation();
    EXPECT_EQ(model->state(), State::idle);
}

TEST_F(OverlayViewModelTest, FailureIsPublishedWithItsMessage)
{
    const auto model = make();
    QSignalSpy failureChanges(model.get(), &OverlayViewModel::failureChanged);

    const ZelmFailure failure{QStringLiteral("No microphone access."), ZelmRecovery::voicePrivacySettings, true};
    model->setFailure(failure);
    EXPECT_EQ(model->errorMessage(), failure.message);
    EXPECT_EQ(model->property("errorMessage").toString(), failure.message);
    const QVariant published = model->property("failure");
    ASSERT_TRUE(published.canConvert<ZelmFailure>());
    EXPECT_EQ(published.value<ZelmFailure>(), failure);
    EXPECT_EQ(failureChanges.count(), 1);

    model->setFailure(failure);
    EXPECT_EQ(failureChanges.count(), 1) << "the same failure again is no change";
    model->setFailure(std::nullopt);
    EXPECT_FALSE(model->errorMessage().has_value());
    EXPECT_FALSE(model->property("failure").isValid());
    EXPECT_EQ(failureChanges.count(), 2);
}

TEST_F(OverlayViewModelTest, MessageEditsReachTheDisplayedListAsRowChanges)
{
    const auto model = make();
    ChatMessageListModel *list = model->messageModel();
    QSignalSpy inserted(list, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(list, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(list, &QAbstractItemModel::modelReset);
    QSignalSpy messages(model.get(), &OverlayViewModel::messagesChanged);

    model->appendMessage(ChatMessage::create(Role::screenFact, QStringLiteral("[SCREEN] Save"), clock.now()));
    EXPECT_EQ(list->rowCount(), 1);
    EXPECT_EQ(model->messages().size(), 2) << "hidden context stays in the conversation";

    const ChatMessage answer = ChatMessage::create(Role::assistant, QStringLiteral("Press"), clock.now());
    model->appendMessage(answer);
    EXPECT_EQ(list->rowCount(), 2);
    EXPECT_EQ(inserted.count(), 1);

    EXPECT_TRUE(model->setMessageText(answer.id, QStringLiteral("Press Save.")));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(list->data(list->index(1), ChatMessageListModel::TextRole).toString(), u"Press Save.");
    EXPECT_EQ(model->findMessage(answer.id)->text, u"Press Save.");
    EXPECT_FALSE(model->setMessageText(QUuid::createUuid(), QStringLiteral("x")));
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(messages.count(), 3);
}
