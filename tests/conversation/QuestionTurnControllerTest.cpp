#include "TaskRunner.h"
#include "ViewModelHarness.h"

using namespace nimbel;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using State = OverlayViewModel::State;
using Mode = OverlayViewModel::InteractionMode;
using Role = ChatMessage::Role;

namespace {

const QStringList lookUpLines = {"Let me check that.", "Looking that up."};
const QStringList waitingLines = {"Still looking, one moment.", "Almost there.", "One second, still reading."};

using QuestionTurnTest = test::ViewModelHarness;

} // namespace

TEST_F(QuestionTurnTest, TypedGeneralQuestionIsAcknowledgedAndStreamedIntoOneAssistantMessage)
{
    const auto model = makeConnected();
    ask(*model, u"  What is the weather in Paris today?\n"_s);

    // Routed, recorded, acknowledged with a look-up line, the chat opened.
    ASSERT_EQ(model->messages().size(), 3);
    EXPECT_EQ(model->messages().at(1).role, Role::user);
    EXPECT_EQ(model->messages().at(1).text, u"What is the weather in Paris today?");
    const QString line = model->messages().at(2).text;
    EXPECT_EQ(model->messages().at(2).role, Role::assistant);
    EXPECT_TRUE(lookUpLines.contains(line)) << line.toStdString();
    EXPECT_TRUE(model->isExpanded());
    // A typed opening line is never spoken.
    EXPECT_TRUE(voice.spoken.isEmpty());

    ASSERT_EQ(gateway.chats.size(), 1);
    const auto &chat = lastChat();
    EXPECT_EQ(chat.messages, (QList<DesktopChatMessage>{{"user", "What is the weather in Paris today?"},
                                                         {"assistant", line}}));
    EXPECT_EQ(chat.channel, u"chat");

    // Each sentence grows one assistant message.
    chat.sentence(u"It is sunny."_s);
    ASSERT_EQ(model->messages().size(), 4);
    const QUuid answerID = model->messages().at(3).id;
    chat.sentence(u"  Around 20 degrees.  "_s);
    ASSERT_EQ(model->messages().size(), 4);
    EXPECT_EQ(model->messages().at(3).text, u"It is sunny. Around 20 degrees.");

    // The whole reply replaces the streamed text of that same message.
    reply(gateway.chats.last(), u"  It is sunny. Around 20 degrees C.\n"_s);
    ASSERT_EQ(model->messages().size(), 4);
    EXPECT_EQ(model->messages().at(3).id, answerID);
    EXPECT_EQ(model->messages().at(3).text, u"It is sunny. Around 20 degrees C.");
    EXPECT_EQ(model->state(), State::answered);

    // A greeting needs no acknowledgement; the reply arrives whole.
    ask(*model, u"Привет"_s);
    EXPECT_EQ(texts(*model).last(), u"Привет");
}

TEST_F(QuestionTurnTest, NewerQuestionStopsTheStreamingOneWhichNeverFailsVisibly)
{
    const auto model = makeConnected();
    ask(*model, u"Tell me a story"_s);
    const auto first = gateway.chats.last();
    first->sentence(u"Once upon a time."_s);

    ask(*model, u"Tell me a joke"_s);
    EXPECT_TRUE(first->isStopped());
    // A sentence that was already on its way changes nothing.
    first->sentence(u"There was a king."_s);
    // The first call ends (cancelled) without a failure.
    clock.settle();
    EXPECT_FALSE(model->failure());

    ASSERT_EQ(gateway.chats.size(), 2);
    const auto second = gateway.chats.last();
    // The partial answer stays, and is part of the history the second question sends.
    EXPECT_EQ(second->messages, (QList<DesktopChatMessage>{{"user", "Tell me a story"},
                                                            {"assistant", "Once upon a time."},
                                                            {"user", "Tell me a joke"}}));
    second->sentence(u"Knock knock."_s);
    reply(second, u"Knock knock."_s);
    EXPECT_EQ(texts(*model).mid(1),
              (QStringList{"Tell me a story", "Once upon a time.", "Tell me a joke", "Knock knock."}));
    EXPECT_EQ(model->state(), State::answered);
}

TEST_F(QuestionTurnTest, EmptyAndStopQuestionsAddNothing)
{
    const auto model = makeConnected();

    ask(*model, u" \n\t "_s);
    EXPECT_EQ(model->messages().size(), 1); // the welcome only
    EXPECT_TRUE(gateway.chats.isEmpty());

    ask(*model, u"Tell me a story"_s);
    const auto running = gateway.chats.last();
    running->sentence(u"Once."_s);
    const int stopsBefore = voice.stops;

    ask(*model, u"Стоп!"_s);
    EXPECT_EQ(texts(*model).mid(1), (QStringList{"Tell me a story", "Once."}));
    EXPECT_TRUE(running->isStopped());
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_GT(voice.stops, stopsBefore);
    EXPECT_EQ(gateway.chats.size(), 1);
}

TEST_F(QuestionTurnTest, SwitchedOffSkillsFailTheTurn)
{
    const auto model = makeConnected();
    auto skills = OverlayViewModel::allSkillsOn();
    skills[u"voice_conversation"_s] = false;
    gateway.configurationAnswer = configuration(skills);
    clock.advance(20s);

    // A spoken question needs the voice skill: the refreshed configuration says it is off.
    ask(*model, u"Tell me a story"_s, false);
    EXPECT_EQ(gateway.configurations.size(), 2);
    EXPECT_EQ(model->desktopSkills(), skills);
    ASSERT_TRUE(model->failure());
    EXPECT_EQ(model->state(), State::failed);
    EXPECT_TRUE(gateway.chats.isEmpty());
    // Failed in the voice surface with speech on: the failure is spoken.
    EXPECT_EQ(voice.spoken.last(), model->failure()->message);

    // A typed question does not need it.
    ask(*model, u"Tell me a story"_s);
    EXPECT_EQ(gateway.chats.size(), 1);
    EXPECT_FALSE(model->failure());
}

TEST_F(QuestionTurnTest, FailuresShowInTheChatOrAreSpoken)
{
    const ZelmFailure failure{u"  Something broke. "_s, ZelmRecovery::none, false};
    struct Case { const char *name; bool chatMode, blank, expanded, spoken; };
    const Case cases[] = {
        {"chat mode: the chat opens", true, false, true, false},
        {"voice mode, speech on: spoken after silencing what played", false, false, false, true},
        {"nothing to say: the panel opens", false, true, true, false},
    };
    const auto model = makeConnected(); // spoken failures need a connected platform to speak through
    for (const Case &c : cases) {
        c.chatMode ? model->openChat() : model->closeChat();
        model->setExpanded(false);
        const qsizetype spoken = voice.spoken.size();
        const int stops = voice.stops;
        model->fail(c.blank ? ZelmFailure{u"   "_s} : failure, std::nullopt);
        EXPECT_EQ(model->state(), State::failed) << c.name;
        EXPECT_EQ(model->isExpanded(), c.expanded) << c.name;
        EXPECT_EQ(voice.spoken.size() - spoken, c.spoken ? 1 : 0) << c.name;
        EXPECT_TRUE(!c.spoken || voice.stops == stops + 1) << c.name;
    }
    EXPECT_EQ(voice.spoken, QStringList{"Something broke."});

    // Speech off: the panel opens to show it.
    preferences.setBoolean(keys::voiceOutputEnabled, false);
    const auto quiet = make();
    quiet->fail(failure, std::nullopt);
    EXPECT_EQ(quiet->failure(), failure);
    EXPECT_TRUE(quiet->isExpanded());
    EXPECT_EQ(quiet->interactionMode(), Mode::voice);
    EXPECT_EQ(voice.spoken.size(), 1);

    // A failure reads the microphone's permission again: one about the microphone
    // stays while access is refused and goes once it is allowed.
    microphone.permission = PermissionState::denied;
    const ZelmFailure refused{u"No microphone access."_s, ZelmRecovery::voicePrivacySettings, true};
    quiet->fail(refused, true);
    EXPECT_EQ(quiet->voicePermissions().toMap().value(u"microphone"_s).toInt(), int(PermissionState::denied));
    EXPECT_EQ(quiet->failure(), refused);
    microphone.permission = PermissionState::authorized;
    quiet->fail(refused, true);
    EXPECT_FALSE(quiet->failure());
    EXPECT_EQ(quiet->state(), State::idle);
}

TEST_F(QuestionTurnTest, WaitingLineIsSaidOnceAfterFiveAndAHalfSeconds)
{
    captures.hold = true; // the screen path waits at its capture
    const auto model = makeConnected(u"https://platform.example"_s, true);
    gateway.configurationAnswer = configuration();
    model->setVoiceSessionActive(true);

    ask(*model, u"Что здесь?"_s, false);
    ASSERT_EQ(captures.calls.size(), 1);
    ASSERT_EQ(voice.spoken.size(), 1); // the look line
    const qsizetype messageCount = model->messages().size();
    voice.queued.clear(); // it has been played
    voice.events.runEnded(false);

    clock.advance(5499ms);
    EXPECT_EQ(voice.spoken.size(), 1);
    clock.advance(1ms);
    ASSERT_EQ(voice.spoken.size(), 2);
    EXPECT_TRUE(waitingLines.contains(voice.spoken.last()));
    EXPECT_EQ(model->questionTurn().lastOpeningLine(), voice.spoken.last());
    EXPECT_EQ(model->messages().size(), messageCount); // never added to the conversation
    voice.queued.clear();
    clock.advance(30s);
    EXPECT_EQ(voice.spoken.size(), 2); // once per turn

    // Not while the assistant is speaking.
    ask(*model, u"Что здесь?"_s, false);
    voice.queued.clear();
    model->setSpeaking(true);
    clock.advance(6s);
    EXPECT_EQ(voice.spoken.size(), 3);
    model->setSpeaking(false);

    // Never in the chat, nor for the voice turn it superseded.
    ask(*model, u"Что здесь?"_s, true);
    clock.advance(6s);
    EXPECT_EQ(voice.spoken.size(), 3);
    EXPECT_EQ(captures.calls.size(), 3);

    // The superseded turns end quietly once their captures arrive.
    for (const auto &call : captures.calls)
        call->set(captures.next());
    EXPECT_TRUE(settleUntil([&] { return gateway.analyses.size() == 1; }));
    clock.settle();
    EXPECT_EQ(gateway.analyses.size(), 1); // only the turn still running goes on
}

TEST_F(QuestionTurnTest, FirstLineFromTheDraftBecomesTheTurnsLine)
{
    const auto model = makeConnected();
    model->setVoiceSessionActive(true);
    microphone.draft = u" да "_s;

    voice.cached = {u"One moment."_s, u"Just a second."_s, u"Let me check that."_s};
    model->questionTurn().speakFirstLine();
    ASSERT_TRUE(model->questionTurn().firstLineForTurn());
    const QString line = *model->questionTurn().firstLineForTurn();
    EXPECT_TRUE(line == u"One moment." || line == u"Just a second.") << line.toStdString();
    EXPECT_EQ(voice.spoken, QStringList{line});

    // The transcript's turn uses that line rather than choosing another, and
    // lets it play on.
    const int stops = voice.stops;
    ask(*model, u"Да, какая погода завтра?"_s, false);
    EXPECT_EQ(texts(*model).mid(1), (QStringList{"Да, какая погода завтра?", line}));
    EXPECT_EQ(lastChat().channel, u"voice");
    EXPECT_EQ(voice.stops, stops);
    EXPECT_EQ(voice.spoken, QStringList{line});
    EXPECT_FALSE(model->questionTurn().firstLineForTurn());

    // No line while speaking, nor for a stop phrase.
    const auto silent = [&] {
        const qsizetype before = voice.spoken.size();
        model->questionTurn().speakFirstLine();
        return voice.spoken.size() == before && !model->questionTurn().firstLineForTurn();
    };
    voice.queued.clear();
    microphone.draft = u"почему не работает кнопка"_s;
    model->setSpeaking(true);
    EXPECT_TRUE(silent());
    model->setSpeaking(false);
    microphone.draft = u"стоп"_s;
    EXPECT_TRUE(silent());
}

TEST_F(QuestionTurnTest, AFullConversationIsCompactedBeforeTheNextQuestionIsSent)
{
    const auto model = makeConnected();
    QList<ChatMessage> messages;
    for (int i = 0; i < 62; ++i)
        messages.append(ChatMessage::create(i % 2 ? Role::assistant : Role::user, u"m%1"_s.arg(i), clock.now()));
    model->setMessages(messages);
    // (When a conversation is full: the conversation window's test.) The question
    // goes with the twelve most recent others, and they are what the chat keeps.
    ask(*model, u"And again"_s);
    EXPECT_EQ(model->messages().first().text, u"m50");
    ASSERT_EQ(lastChat().messages.size(), 13);
    EXPECT_EQ(lastChat().messages.first(), (DesktopChatMessage{"user", "m50"}));
    EXPECT_EQ(lastChat().messages.last(), (DesktopChatMessage{"user", "And again"}));
}
