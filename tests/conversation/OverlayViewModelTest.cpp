// The view model's own operations: the connection rule, opening, closing,
// cancelling and resetting (the recoveries a failure offers: the views' test
// of every control).
#include "ViewModelHarness.h"

#include <QRegularExpression>
#include <QSignalSpy>

using namespace nimbel;
using namespace Qt::StringLiterals;
using State = OverlayViewModel::State;
using Mode = OverlayViewModel::InteractionMode;
using Role = ChatMessage::Role;

using OverlayViewModelTest = test::ViewModelHarness;

TEST_F(OverlayViewModelTest, ConnectionNeedsKeyAndAgentBeyondWhitespace)
{
    const auto model = make();
    QSignalSpy connection(model.get(), &OverlayViewModel::isPlatformConnectedChanged);
    model->setPlatformAPIKey(u"key"_s);
    model->setConnectedAgentID(u" \n\t"_s);
    EXPECT_FALSE(model->isPlatformConnected());
    EXPECT_EQ(connection.count(), 0);
    model->setConnectedAgentID(u" agent\n"_s);
    EXPECT_TRUE(model->isPlatformConnected());
    model->setPlatformAPIKey(u"\r\n "_s);
    EXPECT_FALSE(model->isPlatformConnected());
    EXPECT_EQ(connection.count(), 2);
}

TEST_F(OverlayViewModelTest, CancellingTheResponseResetsOnlyABusyState)
{
    const auto model = make();
    struct Case { State before; bool resetState, stopSpeech; State after; };
    for (const Case &c : {Case{State::answered, true, false, State::answered},
                          Case{State::analyzing, false, true, State::analyzing},
                          Case{State::capturing, true, false, State::idle}}) {
        const int stops = voice.stops;
        model->setState(c.before);
        model->cancelCurrentResponse(c.resetState, c.stopSpeech);
        EXPECT_EQ(model->state(), c.after);
        EXPECT_EQ(voice.stops - stops, c.stopSpeech ? 1 : 0);
    }
}

TEST_F(OverlayViewModelTest, OpeningAndClosingTheChatSwitchesModeAndSilencesVoice)
{
    const auto model = make();
    for (const bool open : {true, false}) {
        model->setVoiceSessionActive(true);
        const int finishes = microphone.finishes, stops = voice.stops;
        open ? model->openChat() : model->closeChat();
        EXPECT_FALSE(model->isVoiceSessionActive());
        EXPECT_EQ(model->interactionMode(), open ? Mode::chat : Mode::voice);
        EXPECT_EQ(model->isExpanded(), open);
        EXPECT_EQ(microphone.finishes, finishes + 1);
        EXPECT_EQ(voice.stops, stops + 1);
    }
}

TEST_F(OverlayViewModelTest, ResettingStartsAFreshConversationAndSession)
{
    const auto model = make();
    const QUuid firstWelcome = model->messages().first().id;
    model->openChat();
    model->setVoiceSessionActive(true);
    model->setFailure(ZelmFailure{u"broken"_s, ZelmRecovery::none, false});
    model->appendMessage(ChatMessage::create(Role::analyst, u"note"_s, clock.now()));

    const QString firstSession = model->desktopSessionID();
    model->resetConversation();
    EXPECT_NE(model->desktopSessionID(), firstSession);
    EXPECT_TRUE(QRegularExpression(u"^desktop_[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"_s)
                    .match(model->desktopSessionID()).hasMatch());
    EXPECT_FALSE(model->isVoiceSessionActive());
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_FALSE(model->failure());
    ASSERT_EQ(model->messages().size(), 1);
    EXPECT_NE(model->messages().first().id, firstWelcome);
    // The chat itself stays where it was.
    EXPECT_TRUE(model->isExpanded());
}
