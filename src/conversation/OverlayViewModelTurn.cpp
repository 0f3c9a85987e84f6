// The question turn of the view model: submitting, the request task, the
// general path, failures, opening and waiting lines, and speech.
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

// ---- Submitting ----

void OverlayViewModel::submitQuestion(bool shouldOpenChat)
{
    const QString question = m_question.trimmed();
    if (question.isEmpty())
        return;
    const bool spoken = !shouldOpenChat;
    const DesktopRequestRoute route = DesktopRequestRouter::route(question, requestContext());

    std::optional<QString> line;
    bool keepSpeech = false;
    if (m_firstLineForTurn) {
        // Already said from the draft: it stays the turn's line and keeps playing.
        line = m_firstLineForTurn;
        keepSpeech = speechInProgress();
    } else if (route == DesktopRequestRoute::screen
               || (route == DesktopRequestRoute::general && DesktopOpeningLine::needsLookingUp(question))) {
        line = openingLine(question, route, spoken);
        // In a spoken turn the line has just been queued: do not cut it off.
        keepSpeech = spoken && speechInProgress();
    }
    m_firstLineForTurn.reset();

    log::info(log::requestRouting(), log::Record()
                                         .add(u"requested_route", nimbel::rawValue(route))
                                         .add(u"route", nimbel::rawValue(route))
                                         .add(u"voice_session", m_isVoiceSessionActive));

    if (route == DesktopRequestRoute::stop) {
        handleStopCommand();
        return;
    }

    m_services.microphone.finishWithoutDelivering();
    cancelVoiceResume();
    m_request.cancel();
    if (!keepSpeech)
        stopVoiceOutput();

    setQuestion(QString());
    setAnswer(QVariant());
    setFailure(std::nullopt);
    // A typed conversation has no session start to bound it: each new
    // question is where a full one is compacted before it is sent again.
    compactConversationIfFull();

    const ChatMessage userMessage = ChatMessage::create(ChatMessage::Role::user, question, m_services.clock.now());
    appendMessage(userMessage);
    if (line)
        appendMessage(ChatMessage::create(ChatMessage::Role::assistant, *line, m_services.clock.now()));

    if (shouldOpenChat) {
        openChat();
    } else {
        setInteractionMode(InteractionMode::voice);
        setExpanded(false);
    }

    const TaskSlot::Ticket ticket = m_request.start();
    runRequest(QPointer<OverlayViewModel>(this),
               QuestionTurn{ticket.id, ticket.token, shouldOpenChat, route, question, userMessage.id});
}

void OverlayViewModel::handleStopCommand()
{
    m_services.microphone.finishWithoutDelivering();
    cancelVoiceTranscription();
    setQuestion(QString());
    setAnswer(QVariant());
    setFailure(std::nullopt);
    cancelCurrentResponse(true, true);
    const QString stopped = L::text("status.stopped");
    setSpeechStatusMessage(stopped);
    m_services.clock.schedule(stopStatusDuration, [self = QPointer<OverlayViewModel>(this), stopped] {
        if (!self)
            return;
        if (self->m_speechStatusMessage == stopped)
            self->setSpeechStatusMessage(std::nullopt);
        self->resumeVoiceSessionIfNeeded(resumeAfterStop);
    });
}

// ---- The request task ----

QCoro::Task<void> OverlayViewModel::runRequest(QPointer<OverlayViewModel> self, QuestionTurn turn)
{
    auto outcome = co_await performRequest(self, turn);

    // A superseded or cancelled turn ends here without a trace, whatever it met.
    OverlayViewModel *model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return;
    // The turn is over either way: nothing waits on it any more (the voice
    // session, for one, listens again only once no request is running).
    model->m_request.finish(turn.requestID);
    if (outcome.ok() || outcome.error().isStopped())
        co_return;
    model->fail(*outcome.error().failure, turn.shouldOpenChat);
    model->resumeVoiceSessionIfNeeded(failureResumeDelay);
}

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::performRequest(QPointer<OverlayViewModel> self,
                                                                      QuestionTurn turn)
{
    OverlayViewModel *model = self.data();
    if (!model)
        co_return TurnError::stopped();

    const auto synced = co_await model->synchronizePlatformConfiguration(false, turn.stop);
    if (!synced.ok())
        co_return TurnError::from(synced.error());
    model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();

    if (turn.isSpoken()) {
        const auto allowed = model->requireDesktopSkill(QStringLiteral("voice_conversation"), "skill.voiceOff");
        if (!allowed.ok())
            co_return TurnError::from(allowed.error());
    }
    if (turn.route == DesktopRequestRoute::screen) {
        auto answered = co_await model->runScreenQuestion(turn);
        co_return answered;
    }
    auto answered = co_await model->runGeneralQuestion(turn, false);
    co_return answered;
}

Result<Done, VisionGatewayError> OverlayViewModel::requireDesktopSkill(const QString &skill,
                                                                       const char *messageKey) const
{
    // Only an explicit false switches a skill off; a missing key or map counts as on.
    if (m_desktopSkills && m_desktopSkills->value(skill, true) == false)
        return VisionGatewayError::skillDisabled(L::text(messageKey));
    return Done{};
}

// ---- The general path ----

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::runGeneralQuestion(QuestionTurn turn, bool followingScreen)
{
    return generalPath(QPointer<OverlayViewModel>(this), std::move(turn), followingScreen);
}

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::generalPath(QPointer<OverlayViewModel> self,
                                                                   QuestionTurn turn, bool followingScreen)
{
    OverlayViewModel *model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();

    model->setState(State::analyzing);
    model->m_manualCapturePending = false;
    model->m_lastRequestUsedScreen = followingScreen;
    const bool speak = model->m_voiceOutputEnabled;
    const bool spoken = turn.isSpoken();
    const QUuid assistantMessageID = QUuid::createUuid();

    const SentenceHandler onSentence = [self, turn, assistantMessageID, speak, spoken](const QString &sentence) {
        OverlayViewModel *target = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
        if (!target)
            return;
        target->appendStreamedSentence(sentence, assistantMessageID);
        if (speak && spoken)
            target->enqueueVoiceSentence(sentence);
    };
    VisionGateway &gateway = *model->m_gateway;
    const auto reply = co_await gateway.streamChat(
        ConversationWindow::wire(model->m_messages), model->m_gatewayBaseURL, model->m_platformAPIKey,
        model->m_connectedAgentID, model->m_desktopSessionID,
        spoken ? QStringLiteral("voice") : QStringLiteral("chat"), onSentence, turn.stop);

    model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();
    if (!reply.ok())
        co_return TurnError::from(reply.error());

    const QString text = reply.value().trimmed();
    if (model->findMessage(assistantMessageID)) {
        model->setMessageText(assistantMessageID, text);
    } else {
        model->appendMessage(ChatMessage{assistantMessageID, ChatMessage::Role::assistant, text, {},
                                         model->m_services.clock.now(), std::nullopt});
        if (speak && spoken)
            model->enqueueVoiceSentence(text);
    }
    // Nothing will be heard: show the answer instead.
    if (spoken && !speak && !model->m_isExpanded)
        model->setExpanded(true);
    model->setState(State::answered);
    co_return Done{};
}

void OverlayViewModel::appendStreamedSentence(const QString &sentence, const QUuid &id)
{
    const QString trimmed = sentence.trimmed();
    if (trimmed.isEmpty())
        return;
    if (const ChatMessage *message = findMessage(id)) {
        setMessageText(id, message->text.isEmpty() ? trimmed : message->text + u' ' + trimmed);
        return;
    }
    appendMessage(ChatMessage{id, ChatMessage::Role::assistant, trimmed, {}, m_services.clock.now(), std::nullopt});
}

// ---- Failures ----

void OverlayViewModel::fail(const ZelmFailure &failure, std::optional<bool> shouldOpenChat)
{
    setState(State::failed);
    log::error(log::requestRouting(),
               QStringLiteral("turn_failed ")
                   + log::Record().add(u"error", failure.message).add(u"state", stateName(m_state)).text());
    setFailure(failure);

    if (shouldOpenChat.value_or(m_interactionMode == InteractionMode::chat)) {
        openChat();
        return;
    }
    const QString message = failure.message.trimmed();
    if (m_voiceOutputEnabled && !message.isEmpty()) {
        stopVoiceOutput();
        enqueueVoiceSentence(message);
        return;
    }
    if (!m_isExpanded)
        setExpanded(true);
}

QString OverlayViewModel::transcriptionFailureMessage(const VisionGatewayError &error)
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

QString OverlayViewModel::transcriptionFailureMessage(const GatewayFailure &error)
{
    if (const VisionGatewayError *gatewayError = error.gatewayError())
        return transcriptionFailureMessage(*gatewayError);
    return transcriptionFailureMessage();
}

QString OverlayViewModel::transcriptionFailureMessage()
{
    return L::text("speech.notHeard");
}

// ---- Opening and waiting lines ----

QString OverlayViewModel::openingLine(const QString &question, DesktopRequestRoute route, bool spoken)
{
    const QString line = DesktopOpeningLine::choose(
        DesktopOpeningLine::lines(DesktopOpeningLine::family(question, route), m_language), m_lastOpeningLine,
        DesktopOpeningLine::randomPick);
    m_lastOpeningLine = line;
    const bool prewarmed = hasLineAudio(line);
    const bool heard = spoken && m_isVoiceSessionActive && m_voiceOutputEnabled && !m_isMicrophoneMuted;
    log::info(log::requestRouting(),
              log::Record().add(u"opening_line", line).add(u"prewarmed", prewarmed).add(u"spoken", heard));
    if (heard)
        enqueueVoiceSentence(line);
    return line;
}

void OverlayViewModel::speakFirstLine()
{
    m_firstLineForTurn.reset();
    if (!m_isVoiceSessionActive || !m_voiceOutputEnabled || m_isMicrophoneMuted || speechInProgress()
        || m_interactionMode != InteractionMode::voice || m_isExpanded || !isPlatformConnected())
        return;

    const QString draft = m_services.microphone.liveDraft().trimmed();
    const DesktopRequestRoute route = DesktopRequestRouter::route(draft, requestContext());
    if (route == DesktopRequestRoute::stop)
        return;
    const qsizetype draftChars = ConversationWindow::characterCount(draft);
    const auto line = DesktopOpeningLine::first(
        draft, route, m_lastOpeningLine, [this](const QString &candidate) { return hasLineAudio(candidate); },
        m_language);
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
    enqueueVoiceSentence(*line);
}

void OverlayViewModel::scheduleWaitingLine(const QUuid &requestID)
{
    waitingLineTask(QPointer<OverlayViewModel>(this), m_waitingLine.start(), requestID);
}

void OverlayViewModel::cancelWaitingLine()
{
    m_waitingLine.cancel();
}

QCoro::Task<void> OverlayViewModel::waitingLineTask(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket,
                                                    QUuid requestID)
{
    OverlayViewModel *model = self.data();
    if (!model)
        co_return;
    Clock &clock = model->m_services.clock;
    const bool waited = co_await clock.sleep(waitingLineDelay, ticket.token);
    if (!waited)
        co_return;
    model = resumeTarget(self, ticket, &OverlayViewModel::m_waitingLine);
    if (!model || !model->m_request.isCurrent(requestID))
        co_return;
    model->m_waitingLine.finish(ticket.id);
    if (!model->m_isVoiceSessionActive || model->speechInProgress())
        co_return;
    const QString line = DesktopOpeningLine::waiting(model->m_lastOpeningLine, model->m_language);
    model->m_lastOpeningLine = line;
    model->enqueueVoiceSentence(line);
}

// ---- Speech ----

bool OverlayViewModel::speechInProgress() const
{
    return m_isSpeaking || m_services.voiceOutput.isActive();
}

bool OverlayViewModel::hasLineAudio(const QString &line) const
{
    return m_services.voiceOutput.hasCachedAudio(m_gatewayBaseURL, m_connectedAgentID, line);
}

void OverlayViewModel::enqueueVoiceSentence(const QString &sentence)
{
    const QString trimmed = sentence.trimmed();
    if (!trimmed.isEmpty())
        m_services.voiceOutput.enqueue(trimmed);
}

void OverlayViewModel::stopVoiceOutput()
{
    m_services.voiceOutput.stop();
    setSpeaking(false);
}

OverlayViewModel::VoiceSessionReadiness OverlayViewModel::voiceSessionReadiness() const
{
    return {
        .session = m_isVoiceSessionActive,
        .voiceMode = m_interactionMode == InteractionMode::voice && !m_isExpanded,
        .connected = isPlatformConnected(),
        .listening = m_isListening,
        .busy = isBusy(),
        .speaking = speechInProgress(),
        .request = m_request.isRunning() || m_voiceTranscription.isRunning(),
        .muted = m_isMicrophoneMuted,
    };
}

void OverlayViewModel::resumeVoiceSessionIfNeeded(Milliseconds delay)
{
    const VoiceSessionReadiness readiness = voiceSessionReadiness();
    const bool alreadyQueued = m_voiceResume.isRunning();
    if (readiness.isReadyToListen() && !alreadyQueued) {
        voiceResumeTask(QPointer<OverlayViewModel>(this), m_voiceResume.start(), delay);
        return;
    }
    log::info(log::platformVoiceInput(), QStringLiteral("resume_declined ")
                                             + log::Record()
                                                   .add(u"session", readiness.session)
                                                   .add(u"voice_mode", readiness.voiceMode)
                                                   .add(u"connected", readiness.connected)
                                                   .add(u"listening", readiness.listening)
                                                   .add(u"busy", readiness.busy)
                                                   .add(u"speaking", readiness.speaking)
                                                   .add(u"request", readiness.request)
                                                   .add(u"muted", readiness.muted)
                                                   .add(u"already_queued", alreadyQueued)
                                                   .text());
}

QCoro::Task<void> OverlayViewModel::voiceResumeTask(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket,
                                                    Milliseconds delay)
{
    OverlayViewModel *model = self.data();
    if (!model)
        co_return;
    Clock &clock = model->m_services.clock;
    const bool waited = co_await clock.sleep(delay, ticket.token);
    if (!waited)
        co_return;
    model = resumeTarget(self, ticket, &OverlayViewModel::m_voiceResume);
    if (!model)
        co_return;
    model->m_voiceResume.finish(ticket.id);
    model->m_services.microphone.startListening();
}

// ---- The conversation window ----

bool OverlayViewModel::compactConversationIfFull()
{
    if (!ConversationWindow::isFull(m_messages))
        return false;
    const qsizetype before = m_messages.size();
    setMessages(ConversationWindow::compacted(m_messages));
    log::info(log::requestRouting(), QStringLiteral("context_compacted ")
                                         + log::Record()
                                               .add(u"from", before)
                                               .add(u"to", m_messages.size())
                                               .add(u"chars", ConversationWindow::totalCharacters(m_messages))
                                               .text());
    return true;
}

} // namespace nimbel
