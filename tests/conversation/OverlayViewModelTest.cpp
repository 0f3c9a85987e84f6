// The view model's own operations: the connection rule and resetting (opening,
// closing and the recoveries a failure offers: the views' test of every control).
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

TEST_F(OverlayViewModelTest, ResettingStartsAFreshConversationAndSession)
{
    const auto model = make();
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
    EXPECT_EQ(model->messages().size(), 1);
    // The chat itself stays where it was.
    EXPECT_TRUE(model->isExpanded());
}
