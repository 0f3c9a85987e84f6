#include "conversation/QuestionTurnController.h"

#include "conversation/OverlayViewModel.h"

#include "conversation/ConversationWindow.h"
#include "conversation/DesktopOpeningLine.h"
#include "conversation/MicrophoneRecorder.h"
#include "conversation/ResumeGuard.h"
#include "conversation/VoiceOutput.h"
#include "core/Log.h"
#include "gateway/VisionGateway.h"
#include "settings/Localized.h"

#include <QMetaEnum>

namespace nimbel {

using namespace std::chrono_literals;

namespace {

constexpr Milliseconds stopStatusDuration{900};
constexpr Milliseconds resumeAfterStop{150};

TaskSlot::Ticket ticketOf(const QuestionTurn &turn)
{
    return {turn.requestID, turn.stop};
}

QString stateName(OverlayViewModel::State state)
{
    return QString::fromLatin1(QMetaEnum::fromType<OverlayViewModel::State>().valueToKey(int(state)));
}

} // namespace

QuestionTurnController::QuestionTurnController(OverlayViewModel &model, Services services)
    : m_model(model)
    , m_services(services)
{
}

QuestionTurnController::~QuestionTurnController()
{
    m_request.cancel();
    m_waitingLine.cancel();
}

void QuestionTurnController::noteScreenTurnStarted()
{
    m_manualCapturePending = false;
    m_lastRequestUsedScreen = true;
}

void QuestionTurnController::forgetScreenUse()
{
    m_manualCapturePending = false;
    m_lastRequestUsedScreen = false;
}

// ---- Submitting ----

void QuestionTurnController::submitQuestion(bool shouldOpenChat)
{
    const QString question = m_model.question().trimmed();
    if (question.isEmpty())
        return;
    const bool spoken = !shouldOpenChat;
    const DesktopRequestRoute route = DesktopRequestRouter::route(question, requestContext());

    std::optional<QString> line;
    bool keepSpeech = false;
    if (m_firstLineForTurn) {
        // Already said from the draft: it stays the turn's line and keeps playing.
        line = m_firstLineForTurn;
        keepSpeech = m_model.voiceSession().speechInProgress();
    } else if (route == DesktopRequestRoute::screen
               || (route == DesktopRequestRoute::general && DesktopOpeningLine::needsLookingUp(question))) {
        line = openingLine(question, route, spoken);
        // In a spoken turn the line has just been queued: do not cut it off.
        keepSpeech = spoken && m_model.voiceSession().speechInProgress();
    }
    m_firstLineForTurn.reset();

    log::info(log::requestRouting(), log::Record()
                                         .add(u"requested_route", nimbel::rawValue(route))
                                         .add(u"route", nimbel::rawValue(route))
                                         .add(u"voice_session", m_model.isVoiceSessionActive()));

    if (route == DesktopRequestRoute::stop) {
        handleStopCommand();
        return;
    }

    m_services.microphone.finishWithoutDelivering();
    m_model.voiceSession().cancelResume();
    m_request.cancel();
    if (!keepSpeech)
        m_model.stopVoiceOutput();

    m_model.setQuestion(QString());
    m_model.setAnswer(QVariant());
    m_model.setFailure(std::nullopt);
    // A typed conversation has no session start to bound it: each new
    // question is where a full one is compacted before it is sent again.
    compactConversationIfFull();

    const ChatMessage userMessage = ChatMessage::create(ChatMessage::Role::user, question, m_services.clock.now());
    m_model.appendMessage(userMessage);
    if (line)
        m_model.appendMessage(ChatMessage::create(ChatMessage::Role::assistant, *line, m_services.clock.now()));

    if (shouldOpenChat) {
        m_model.openChat();
    } else {
        m_model.setInteractionMode(OverlayViewModel::InteractionMode::voice);
        m_model.setExpanded(false);
    }

    const TaskSlot::Ticket ticket = m_request.start();
    runRequest(Self(this),
               QuestionTurn{ticket.id, ticket.token, shouldOpenChat, route, question, userMessage.id});
}

void QuestionTurnController::handleStopCommand()
{
    m_services.microphone.finishWithoutDelivering();
    m_model.voiceSession().cancelTranscription();
    m_model.setQuestion(QString());
    m_model.setAnswer(QVariant());
    m_model.setFailure(std::nullopt);
    m_model.cancelCurrentResponse(true, true);
    const QString stopped = L::text("status.stopped");
    m_model.setSpeechStatusMessage(stopped);
    m_services.clock.schedule(stopStatusDuration, [self = Self(this), stopped] {
        if (!self)
            return;
        if (self->m_model.speechStatusMessage() == stopped)
            self->m_model.setSpeechStatusMessage(std::nullopt);
        self->m_model.resumeVoiceSessionIfNeeded(resumeAfterStop);
    });
}

// ---- The request task ----

QCoro::Task<void> QuestionTurnController::runRequest(Self self, QuestionTurn turn)
{
    auto outcome = co_await performRequest(self, turn);

    // A superseded or cancelled turn ends here without a trace, whatever it met.
    QuestionTurnController *model = resumeTarget(self, ticketOf(turn), &QuestionTurnController::m_request);
    if (!model)
        co_return;
    // The turn is over either way: nothing waits on it any more (the voice
    // session, for one, listens again only once no request is running).
    model->m_request.finish(turn.requestID);
    if (outcome.ok() || outcome.error().isStopped())
        co_return;
    model->fail(*outcome.error().failure, turn.shouldOpenChat);
    model->m_model.resumeVoiceSessionIfNeeded(failureResumeDelay);
}

QCoro::Task<Result<Done, TurnError>> QuestionTurnController::performRequest(Self self,
                                                                      QuestionTurn turn)
{
    QuestionTurnController *model = self.data();
    if (!model)
        co_return TurnError::stopped();

    const auto synced = co_await model->m_model.synchronizePlatformConfiguration(false, turn.stop);
    if (!synced.ok())
        co_return TurnError::from(synced.error());
    model = resumeTarget(self, ticketOf(turn), &QuestionTurnController::m_request);
    if (!model)
        co_return TurnError::stopped();

    if (turn.isSpoken()) {
        const auto allowed = model->requireDesktopSkill(QStringLiteral("voice_conversation"), "skill.voiceOff");
        if (!allowed.ok())
            co_return TurnError::from(allowed.error());
    }
    if (turn.route == DesktopRequestRoute::screen) {
        auto answered = co_await model->m_model.runScreenQuestion(turn);
        co_return answered;
    }
    auto answered = co_await model->runGeneralQuestion(turn, false);
    co_return answered;
}

Result<Done, VisionGatewayError> QuestionTurnController::requireDesktopSkill(const QString &skill,
                                                                       const char *messageKey) const
{
    // Only an explicit false switches a skill off; a missing key or map counts as on.
    if (m_model.desktopSkills() && m_model.desktopSkills()->value(skill, true) == false)
        return VisionGatewayError::skillDisabled(L::text(messageKey));
    return Done{};
}

// ---- The general path ----

QCoro::Task<Result<Done, TurnError>> QuestionTurnController::runGeneralQuestion(QuestionTurn turn, bool followingScreen)
{
    return generalPath(Self(this), std::move(turn), followingScreen);
}

QCoro::Task<Result<Done, TurnError>> QuestionTurnController::generalPath(Self self,
                                                                   QuestionTurn turn, bool followingScreen)
{
    QuestionTurnController *model = resumeTarget(self, ticketOf(turn), &QuestionTurnController::m_request);
    if (!model)
        co_return TurnError::stopped();

    model->m_model.setState(OverlayViewModel::State::analyzing);
    model->m_manualCapturePending = false;
    model->m_lastRequestUsedScreen = followingScreen;
    const bool speak = model->m_model.voiceOutputEnabled();
    const bool spoken = turn.isSpoken();
    const QUuid assistantMessageID = QUuid::createUuid();

    const SentenceHandler onSentence = [self, turn, assistantMessageID, speak, spoken](const QString &sentence) {
        QuestionTurnController *target = resumeTarget(self, ticketOf(turn), &QuestionTurnController::m_request);
        if (!target)
            return;
        target->appendStreamedSentence(sentence, assistantMessageID);
        if (speak && spoken)
            target->m_model.enqueueVoiceSentence(sentence);
    };
    VisionGateway &gateway = model->m_services.gateway;
    const auto reply = co_await gateway.streamChat(
        ConversationWindow::wire(model->m_model.messages()), model->m_model.gatewayBaseURL(), model->m_model.platformAPIKey(),
        model->m_model.connectedAgentID(), model->m_model.desktopSessionID(),
        spoken ? QStringLiteral("voice") : QStringLiteral("chat"), onSentence, turn.stop);

    model = resumeTarget(self, ticketOf(turn), &QuestionTurnController::m_request);
    if (!model)
        co_return TurnError::stopped();
    if (!reply.ok())
        co_return TurnError::from(reply.error());

    const QString text = reply.value().trimmed();
    if (model->m_model.findMessage(assistantMessageID)) {
        model->m_model.setMessageText(assistantMessageID, text);
    } else {
        model->m_model.appendMessage(ChatMessage{assistantMessageID, ChatMessage::Role::assistant, text, {},
                                         model->m_services.clock.now(), std::nullopt});
        if (speak && spoken)
            model->m_model.enqueueVoiceSentence(text);
    }
    // Nothing will be heard: show the answer instead.
    if (spoken && !speak && !model->m_model.isExpanded())
        model->m_model.setExpanded(true);
    model->m_model.setState(OverlayViewModel::State::answered);
    co_return Done{};
}

void QuestionTurnController::appendStreamedSentence(const QString &sentence, const QUuid &id)
{
    const QString trimmed = sentence.trimmed();
    if (trimmed.isEmpty())
        return;
    if (const ChatMessage *message = m_model.findMessage(id)) {
        m_model.setMessageText(id, message->text.isEmpty() ? trimmed : message->text + u' ' + trimmed);
        return;
    }
    m_model.appendMessage(ChatMessage{id, ChatMessage::Role::assistant, trimmed, {}, m_services.clock.now(), std::nullopt});
}

// ---- Failures ----

void QuestionTurnController::fail(const ZelmFailure &failure, std::optional<bool> shouldOpenChat)
{
    m_model.setState(OverlayViewModel::State::failed);
    log::error(log::requestRouting(),
               QStringLiteral("turn_failed ")
                   + log::Record().add(u"error", failure.message).add(u"state", stateName(m_model.state())).text());
    m_model.setFailure(failure);
    m_model.refreshVoicePermissions();

    if (shouldOpenChat.value_or(m_model.interactionMode() == OverlayViewModel::InteractionMode::chat)) {
        m_model.openChat();
        return;
    }
    const QString message = failure.message.trimmed();
    if (m_model.voiceOutputEnabled() && !message.isEmpty()) {
        m_model.stopVoiceOutput();
        m_model.enqueueVoiceSentence(message);
        return;
    }
    if (!m_model.isExpanded())
        m_model.setExpanded(true);
}

QString QuestionTurnController::transcriptionFailureMessage(const VisionGatewayError &error)
{
    switch (error.kind) {
    case VisionGatewayError::Kind::skillDisabled:
    case VisionGatewayError::Kind::server:
    case VisionGatewayError::Kind::agentUnavailable:
        return L::text("speech.serviceUnavailable");
    case VisionGatewayError::Kind::invalidBaseURL:
    case VisionGatewayError::Kind::notConnected:
    case VisionGatewayError::Kind::connectionFailed:
        return L::text("speech.platformUnavailable");
    case VisionGatewayError::Kind::imageEncodingFailed:
    case VisionGatewayError::Kind::invalidResponse:
        break;
    }
    return transcriptionFailureMessage();
}

QString QuestionTurnController::transcriptionFailureMessage(const GatewayFailure &error)
{
    if (const VisionGatewayError *gatewayError = error.gatewayError())
        return transcriptionFailureMessage(*gatewayError);
    return transcriptionFailureMessage();
}

QString QuestionTurnController::transcriptionFailureMessage()
{
    return L::text("speech.notHeard");
}

// ---- Opening and waiting lines ----

QString QuestionTurnController::openingLine(const QString &question, DesktopRequestRoute route, bool spoken)
{
    const QString line = DesktopOpeningLine::choose(
        DesktopOpeningLine::lines(DesktopOpeningLine::family(question, route), m_model.language()), m_lastOpeningLine,
        DesktopOpeningLine::randomPick);
    m_lastOpeningLine = line;
    const bool prewarmed = m_model.voiceSession().hasLineAudio(line);
    const bool heard = spoken && m_model.isVoiceSessionActive() && m_model.voiceOutputEnabled() && !m_model.isMicrophoneMuted();
    log::info(log::requestRouting(),
              log::Record().add(u"opening_line", line).add(u"prewarmed", prewarmed).add(u"spoken", heard));
    if (heard)
        m_model.enqueueVoiceSentence(line);
    return line;
}

void QuestionTurnController::speakFirstLine()
{
    m_firstLineForTurn.reset();
    if (!m_model.isVoiceSessionActive() || !m_model.voiceOutputEnabled() || m_model.isMicrophoneMuted() || m_model.voiceSession().speechInProgress()
        || m_model.interactionMode() != OverlayViewModel::InteractionMode::voice || m_model.isExpanded() || !m_model.isPlatformConnected())
        return;

    const QString draft = m_services.microphone.liveDraft().trimmed();
    const DesktopRequestRoute route = DesktopRequestRouter::route(draft, requestContext());
    if (route == DesktopRequestRoute::stop)
        return;
    const qsizetype draftChars = ConversationWindow::characterCount(draft);
    const auto line = DesktopOpeningLine::first(
        draft, route, m_lastOpeningLine, [this](const QString &candidate) { return m_model.voiceSession().hasLineAudio(candidate); },
        m_model.language());
    if (!line) {
        log::info(log::requestRouting(), log::Record()
                                             .add(u"first_line", u"none")
                                             .add(u"reason", u"cold_cache")
                                             .add(u"draft_chars", draftChars));
        return;
    }
    m_lastOpeningLine = line;
    m_firstLineForTurn = line;
    log::info(log::requestRouting(), log::Record()
                                         .add(u"first_line", *line)
                                         .add(u"draft_chars", draftChars)
                                         .add(u"draft_route", nimbel::rawValue(route)));
    m_model.enqueueVoiceSentence(*line);
}

void QuestionTurnController::scheduleWaitingLine(const QUuid &requestID)
{
    waitingLineTask(Self(this), m_waitingLine.start(), requestID);
}

void QuestionTurnController::cancelWaitingLine()
{
    m_waitingLine.cancel();
}

QCoro::Task<void> QuestionTurnController::waitingLineTask(Self self, TaskSlot::Ticket ticket,
                                                    QUuid requestID)
{
    QuestionTurnController *model = self.data();
    if (!model)
        co_return;
    Clock &clock = model->m_services.clock;
    const bool waited = co_await clock.sleep(waitingLineDelay, ticket.token);
    if (!waited)
        co_return;
    model = resumeTarget(self, ticket, &QuestionTurnController::m_waitingLine);
    if (!model || !model->m_request.isCurrent(requestID))
        co_return;
    model->m_waitingLine.finish(ticket.id);
    if (!model->m_model.isVoiceSessionActive() || model->m_model.voiceSession().speechInProgress())
        co_return;
    const QString line = DesktopOpeningLine::waiting(model->m_lastOpeningLine, model->m_model.language());
    model->m_lastOpeningLine = line;
    model->m_model.enqueueVoiceSentence(line);
}

// ---- The conversation window ----

bool QuestionTurnController::compactConversationIfFull()
{
    if (!ConversationWindow::isFull(m_model.messages()))
        return false;
    const qsizetype before = m_model.messages().size();
    m_model.setMessages(ConversationWindow::compacted(m_model.messages()));
    log::info(log::requestRouting(), QStringLiteral("context_compacted ")
                                         + log::Record()
                                               .add(u"from", before)
                                               .add(u"to", m_model.messages().size())
                                               .add(u"chars", ConversationWindow::totalCharacters(m_model.messages()))
                                               .text());
    return true;
}

} // namespace nimbel
