// The QML views bound to a real view model inside the real panel controller
// (offscreen): what they show, which controls are enabled, what they log and
// where the panel stands.
#include "app/LauncherAnchorStore.h"
#include "app/OverlayPanelController.h"
#include "app/ScreenSpace.h"
#include "conversation/ConversationFakes.h"
#include "conversation/OverlayViewModel.h"
#include "settings/PreferencesStore.h"
#include "support/LogCapture.h"
#include "support/VirtualClock.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Nimbel_UiPlugin)

using namespace nimbel;

namespace {

class OverlayViews : public ::testing::Test
{
protected:
    OverlayViews()
        : settings(directory.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat)
        , preferences(&settings)
    {
    }

    void SetUp() override
    {
        viewModel = std::make_unique<OverlayViewModel>(
            OverlayViewModel::Services{clock, preferences, tokens, voice, microphone, accessibility, screenCapture,
                                       loginItem, updates},
            OverlayViewModel::Launch{QProcessEnvironment(), {QStringLiteral("nimbel")}});
        panel = std::make_unique<OverlayPanelController>(*viewModel, preferences, clock);
        ASSERT_EQ(panel->window()->status(), QQuickView::Ready);
        ASSERT_TRUE(panel->window()->errors().isEmpty()) << panel->window()->errors().first().toString().toStdString();
        settle();
    }

    // Runs pending events and renders one frame, so views lay themselves out
    // (list delegates are made during the frame's polish).
    void settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        if (panel)
            panel->window()->grabWindow();
        QCoreApplication::processEvents();
    }

    QQuickItem *item(const char *name)
    {
        auto *found = panel->window()->rootObject()->findChild<QQuickItem *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static QString accessibleName(QQuickItem *target)
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(target);
        return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no accessible interface>");
    }
    static QString accessibleDescription(QQuickItem *target)
    {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(target);
        return iface ? iface->text(QAccessible::Description) : QStringLiteral("<no accessible interface>");
    }
    QString textOf(const char *name) { return item(name)->property("text").toString(); }
    QStringList displayedRecords(const test::LogCapture &log)
    {
        QStringList records;
        for (const QString &text : log.texts(QStringLiteral(".General")))
            if (text.startsWith(u"event=chat_message_displayed"))
                records << text.section(u' ', 2); // "role=… text=…"
        return records;
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
    std::unique_ptr<OverlayViewModel> viewModel;
    std::unique_ptr<OverlayPanelController> panel;
};

} // namespace

TEST_F(OverlayViews, HeaderTextsFollowTheViewModel)
{
    EXPECT_EQ(textOf("headerTitle"), QStringLiteral("Nimbel"));
    EXPECT_EQ(textOf("headerStatus"), QStringLiteral("Online · I look at the screen when you ask"));

    viewModel->setConnectedAgentName(QStringLiteral("  Mira\n"));
    settle();
    EXPECT_EQ(textOf("headerTitle"), QStringLiteral("Mira"));
    EXPECT_EQ(accessibleName(item("orbButton")), QStringLiteral("Mira"));
    EXPECT_EQ(accessibleDescription(item("orbButton")), QStringLiteral("Start a voice session"));
    viewModel->setState(OverlayViewModel::State::answered);
    settle();
    EXPECT_EQ(textOf("headerStatus"), QStringLiteral("Answer ready"));

    viewModel->setVoiceSessionActive(true);
    viewModel->setSpeaking(true);
    settle();
    EXPECT_EQ(textOf("headerStatus"), QStringLiteral("Answering…"));

    // The settings sheet: without microphone permission the header asks to check it.
    viewModel->setSpeaking(false);
    viewModel->setVoiceSessionActive(false);
    panel->window()->rootObject()->setProperty("showSettings", true);
    settle();
    EXPECT_EQ(textOf("headerTitle"), QStringLiteral("Settings"));
    EXPECT_EQ(textOf("headerStatus"), QStringLiteral("Check permissions"));
}

TEST_F(OverlayViews, ConversationShowsOnlyUserAndAssistantMessagesAndLogsEachOnce)
{
    test::LogCapture log;
    viewModel->openChat();
    settle();
    viewModel->appendMessage(ChatMessage::create(ChatMessage::Role::user, QStringLiteral("Where is Save?"), clock.now()));
    viewModel->appendMessage(ChatMessage::create(ChatMessage::Role::analyst, QStringLiteral("hidden note"), clock.now()));
    viewModel->appendMessage(ChatMessage::create(ChatMessage::Role::screenFact, QStringLiteral("hidden fact"), clock.now()));
    const ChatMessage answer = ChatMessage::create(ChatMessage::Role::assistant, QStringLiteral("Top right."), clock.now());
    viewModel->appendMessage(answer);
    settle();
    // A streamed answer grows: the grown text is shown (and written) once more.
    viewModel->setMessageText(answer.id, QStringLiteral("Top right.\nThe blue button."));
    settle();

    EXPECT_EQ(displayedRecords(log),
              (QStringList{QStringLiteral("role=assistant text=Hi! Show me what is unclear on your screen and I’ll tell "
                                          "you the next step."),
                           QStringLiteral("role=user text=Where is Save?"),
                           QStringLiteral("role=assistant text=Top right."),
                           QStringLiteral("role=assistant text=Top right.\\nThe blue button.")}));
    EXPECT_FALSE(log.all().contains(u"hidden"));
}

TEST_F(OverlayViews, ComposerAndFailureFollowTheEnabledRules)
{
    viewModel->openChat();
    settle();
    QQuickItem *send = item("sendButton");
    QQuickItem *screenshot = item("screenshotButton");
    EXPECT_FALSE(send->isEnabled());
    EXPECT_TRUE(screenshot->isEnabled());
    EXPECT_EQ(accessibleName(send), QStringLiteral("Send"));
    EXPECT_EQ(accessibleName(screenshot), QStringLiteral("Take a screenshot"));
    EXPECT_EQ(accessibleName(item("questionField")), QStringLiteral("Tell me what is unclear…"));

    // Typing in the field edits the view model's question.
    item("questionField")->setProperty("text", QStringLiteral("  \n "));
    settle();
    EXPECT_EQ(viewModel->question(), QStringLiteral("  \n "));
    EXPECT_FALSE(send->isEnabled());
    viewModel->setQuestion(QStringLiteral("Where is Save?"));
    settle();
    EXPECT_EQ(textOf("questionField"), QStringLiteral("Where is Save?"));
    EXPECT_TRUE(send->isEnabled());

    viewModel->setState(OverlayViewModel::State::analyzing);
    settle();
    EXPECT_FALSE(send->isEnabled());
    EXPECT_FALSE(screenshot->isEnabled());
    EXPECT_TRUE(item("typingBubble")->isVisible());
    EXPECT_EQ(textOf("headerStatus"), QStringLiteral("Working it out…"));

    viewModel->setState(OverlayViewModel::State::failed);
    viewModel->setFailure(ZelmFailure{QStringLiteral("No screen access."), ZelmRecovery::screenRecordingSettings, true});
    settle();
    EXPECT_FALSE(item("typingBubble")->isVisible());
    EXPECT_TRUE(item("errorBubble")->isVisible());
    EXPECT_TRUE(item("errorAction")->isVisible());
    EXPECT_EQ(textOf("errorAction"), QStringLiteral("Open screen settings"));

    viewModel->setFailure(ZelmFailure{QStringLiteral("Timed out."), ZelmRecovery::none, false});
    settle();
    EXPECT_TRUE(item("errorBubble")->isVisible());
    EXPECT_FALSE(item("errorAction")->isVisible());
    viewModel->setFailure(std::nullopt);
    settle();
    EXPECT_FALSE(item("errorBubble")->isVisible());
}

TEST_F(OverlayViews, PanelResizesAroundAFixedAnchorAndRemembersWhereItWasMoved)
{
    const ScreenSpace space = ScreenSpace::current();
    const panel::Point anchor = panel->launcherAnchor();
    QQuickView *window = panel->window();
    EXPECT_EQ(window->size(), QSize(196, 188));
    EXPECT_EQ(space.fromQt(QRectF(window->geometry())), panel::panelFrame(anchor, false, panel::ChatPlacement::above));

    viewModel->openChat();
    settle();
    EXPECT_EQ(window->size(), QSize(488, 670));
    EXPECT_EQ(panel->launcherAnchor(), anchor);
    EXPECT_EQ(space.fromQt(QRectF(window->geometry())), panel::panelFrame(anchor, true, panel::ChatPlacement::above));
    EXPECT_FALSE(viewModel->chatOpensBelow());
    viewModel->closeChat();
    settle();
    EXPECT_EQ(window->size(), QSize(196, 188));
    EXPECT_EQ(panel->launcherAnchor(), anchor);

    // The owner drags the launcher: its new bottom-right corner is remembered.
    window->setPosition(window->position() - QPoint(150, 100));
    settle();
    const panel::Point moved{anchor.x - 150, anchor.y + 100};
    EXPECT_EQ(panel->launcherAnchor(), moved);
    const panel::SavedPlacement saved = readSavedPlacement(settings);
    EXPECT_TRUE(saved.hasLauncherAnchor);
    EXPECT_EQ(saved.launcherAnchor, moved);
}

TEST_F(OverlayViews, LauncherClickIsAPressAndADragIsNot)
{
    const QPointF at = ScreenSpace::current().toQt(panel::Point{500, 300});
    panel->launcherPressed(at);
    panel->launcherMoved(at + QPointF(2, 0));
    EXPECT_TRUE(panel->launcherReleased());

    panel->launcherPressed(at);
    clock.advance(std::chrono::milliseconds(600));
    EXPECT_FALSE(panel->launcherReleased());
}
