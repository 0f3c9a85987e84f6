// The screen side of the view model over fake capture, tracking and
// accessibility services, a fake platform and the real on-device reader.
#include "TaskRunner.h"
#include "ViewModelHarness.h"
#include "gateway/NavigationResponse.h"
#include "screen/CaptureDateCodec.h"

using namespace nimbel;
using namespace Qt::StringLiterals;
using State = OverlayViewModel::State;
using Role = ChatMessage::Role;

namespace {

AccessibilityContext installerContext(std::optional<QString> pageURL = std::nullopt)
{
    AccessibilityContext context;
    context.applicationName = u"Installer"_s;
    context.focusedWindowTitle = u"Setup"_s;
    context.pageURL = std::move(pageURL);
    context.elements = {{u"AXStaticText"_s, u"Install updates now"_s, std::nullopt},
                        {u"AXButton"_s, u"Continue"_s, true}};
    return context;
}

NavigationResponse navigation(int steps, std::optional<QString> safetyNote, QStringList facts)
{
    NavigationResponse response;
    response.summary = u"  The installer waits for you. "_s;
    for (int i = 1; i <= steps; ++i) {
        NavigationStep step;
        step.instruction = u"Step %1"_s.arg(i);
        if (i % 2 == 1)
            step.targetLabel = u"Button %1"_s.arg(i);
        response.steps.append(step);
    }
    response.safetyNote = std::move(safetyNote);
    response.screenFacts = std::move(facts);
    return response;
}

QString captureID(const CaptureArtifact &capture)
{
    return CaptureDateCodec::encode(capture.metadata.capturedAt);
}

QList<Role> roles(const OverlayViewModel &model)
{
    QList<Role> result;
    for (const ChatMessage &message : model.messages())
        result.append(message.role);
    return result;
}

class ScreenQuestionTest : public test::ViewModelHarness
{
protected:
    void SetUp() override { accessibility.trusted = true; }

    std::unique_ptr<OverlayViewModel> makeScreen()
    {
        return makeConnected(u"https://platform.example"_s, true);
    }

    // Takes one capture through the view model and returns it.
    CaptureArtifact capture(OverlayViewModel &model)
    {
        const auto taken = test::started(model.screenContext().captureFresh());
        EXPECT_TRUE(settleUntil([&] { return taken->has_value(); }));
        EXPECT_TRUE(taken->has_value() && (*taken)->ok());
        return (*taken)->value();
    }
};

} // namespace

TEST_F(ScreenQuestionTest, OneCaptureWithItsOwnContextsReachesTheAnalysisAndTheChatSeesItsNote)
{
    walks.context = installerContext(u"https://docs.example/install"_s);
    gateway.warmAnswer = GatewayFailure(VisionGatewayError::server(404, u"no such path"_s));
    const auto model = makeScreen();

    ask(*model, u"Where do I click here?"_s);
    ASSERT_TRUE(settleUntil([&] { return !gateway.analyses.isEmpty(); }));

    // One capture and one walk, shared by the warm-ups and the question. (What
    // the platform receives of them: the desktop's highlight test, end to end.)
    ASSERT_EQ(captures.calls.size(), 1);
    ASSERT_EQ(walks.calls.size(), 1);
    const auto &call = *gateway.analyses.first();
    ASSERT_TRUE(call.screen.accessibility && call.screen.preparedScreenContext);
    EXPECT_EQ(call.screen.preparedScreenContext->captureID, captureID(*model->screenContext().latestCapture()));

    // The page in front of the owner was announced once; its 404 changes nothing.
    ASSERT_EQ(gateway.warmUps.size(), 1);
    EXPECT_EQ(gateway.warmUps.first(), u"https://docs.example/install");

    reply(gateway.analyses.first(),
          navigation(7, u"   "_s, {u"The installer is open"_s, u"Continue is at the bottom right"_s}));

    // Hidden context: the note lists five steps and no blank warning; then the facts.
    EXPECT_EQ(roles(*model), (QList<Role>{Role::assistant, Role::user, Role::assistant, Role::analyst,
                                          Role::screenFact}));
    EXPECT_EQ(model->messages().at(3).text, u"The installer waits for you.\n1. Step 1 (Button 1)\n2. Step 2\n"
                                            u"3. Step 3 (Button 3)\n4. Step 4\n5. Step 5 (Button 5)");

    // The visible answer is a chat reply that sees the hidden context (as the
    // conversation window's wire rule sends it: its own test).
    ASSERT_EQ(gateway.chats.size(), 1);
    EXPECT_EQ(lastChat().messages.at(2).content, u"[ANALYST]\n"_s + model->messages().at(3).text);
}

TEST_F(ScreenQuestionTest, PreparationsBelongToTheLatestCaptureOnly)
{
    walks.hold = true;
    const auto model = makeScreen();

    // Two captures in quick succession: the first one's walk is stopped and its late answer dropped.
    const CaptureArtifact first = capture(*model);
    const CaptureArtifact second = capture(*model);
    ASSERT_EQ(walks.calls.size(), 2);
    EXPECT_TRUE(walks.calls.at(0)->stop.stop_requested());
    reply(walks.calls.at(0), installerContext(u"https://old.example"_s));
    EXPECT_FALSE(model->screenContext().latestAccessibilityContext());

    walks.calls.at(1)->answer(installerContext());
    ASSERT_TRUE(settleUntil([&] { return model->screenContext().preparedScreenContext().has_value(); }));
    EXPECT_EQ(model->screenContext().preparedScreenContext()->captureID, captureID(second));
    EXPECT_EQ(model->screenContext().latestAccessibilityContext(), installerContext());
    EXPECT_TRUE(gateway.warmUps.isEmpty()); // neither answer that counted carried a page

    // Asked for the older capture, nothing.
    const auto stale = test::started(model->screenContext().preparedVisionContext(first));
    clock.settle();
    ASSERT_TRUE(stale->has_value());
    EXPECT_FALSE(**stale);

    // A reset while a preparation runs: nothing of it is stored, joiners get nothing.
    const CaptureArtifact third = capture(*model);
    ASSERT_TRUE(model->screenContext().isWarmingVisionContext());
    const auto joined = test::started(model->screenContext().preparedVisionContext(third));
    const int generation = model->screenContext().visionContextGeneration();
    model->resetConversation();
    EXPECT_GT(model->screenContext().visionContextGeneration(), generation);
    walks.calls.last()->answer(installerContext());
    ASSERT_TRUE(settleUntil([&] { return joined->has_value(); }));
    EXPECT_FALSE(**joined);
    EXPECT_FALSE(model->screenContext().preparedScreenContext());
    EXPECT_FALSE(model->screenContext().isWarmingVisionContext());
}

TEST_F(ScreenQuestionTest, SwitchedOffSettingsAndSkillsLeaveContextsOut)
{
    // Accessibility context switched off, or not trusted: no walk, the reading goes on without it.
    for (const bool enabled : {false, true}) {
        preferences.setBoolean(keys::accessibilityContextEnabled, enabled);
        accessibility.trusted = !enabled;
        const auto model = makeScreen();
        capture(*model);
        ASSERT_TRUE(settleUntil([&] { return model->screenContext().preparedScreenContext().has_value(); }));
        EXPECT_TRUE(walks.calls.isEmpty());
    }
    accessibility.trusted = true;

    // A screen skill switched off: the turn fails before any capture; so does no preparation start.
    const auto model = makeScreen();
    const qsizetype taken = captures.calls.size();
    model->setDesktopSkills(OverlayViewModel::SkillMap{{u"screen_understanding"_s, false}});
    ask(*model, u"Where do I click here?"_s);
    ASSERT_TRUE(model->failure());
    EXPECT_EQ(captures.calls.size(), taken);
    capture(*model);
    EXPECT_FALSE(model->screenContext().isWarmingVisionContext());
}

TEST_F(ScreenQuestionTest, SupersededOrFailedTurnsKeepWhatTheyAlreadyShowed)
{
    const auto model = makeScreen();

    // Superseded while the platform reads the screen: no note, no facts, no follow-up chat.
    ask(*model, u"Where do I click here?"_s);
    ASSERT_TRUE(settleUntil([&] { return !gateway.analyses.isEmpty(); }));
    ask(*model, u"What is the capital of France?"_s);
    EXPECT_TRUE(gateway.analyses.first()->isStopped());
    reply(gateway.analyses.first(), navigation(2, std::nullopt, {u"A fact"_s}));
    EXPECT_FALSE(roles(*model).contains(Role::analyst));
    EXPECT_FALSE(roles(*model).contains(Role::screenFact));
    ASSERT_EQ(gateway.chats.size(), 1); // the general question's own
    lastChat().answer(u"Paris."_s);
    clock.settle();

    // A capture that fails shows its own message and recovery; the question stays.
    captures.error = CaptureError(ScreenCaptureError(ScreenCaptureError::permissionDenied));
    const qsizetype before = model->messages().size();
    ask(*model, u"Where do I click here?"_s);
    ASSERT_TRUE(model->failure());
    EXPECT_EQ(*model->failure(), ZelmFailure::from(ScreenCaptureError(ScreenCaptureError::permissionDenied)));
    EXPECT_EQ(model->messages().size(), before + 2); // the question and its opening line
    EXPECT_EQ(gateway.analyses.size(), 1);
}
