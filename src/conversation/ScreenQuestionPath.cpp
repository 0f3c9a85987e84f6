// The screen path of a question turn: the screen skills, one fresh capture
// with its prepared contexts, the analysis recorded as hidden context
// messages, then the streamed visible answer of the general path.
#include "conversation/ScreenContextCoordinator.h"

#include "conversation/ConversationWindow.h"
#include "conversation/OverlayViewModel.h"
#include "conversation/SentScreenContext.h"
#include "core/Log.h"
#include "gateway/AnalyzeRequest.h"
#include "gateway/NavigationResponse.h"
#include "gateway/VisionGateway.h"
#include "screen/CaptureDateCodec.h"
#include "screen/ScreenImageEncoder.h"
#include "screen/SecretCover.h"
#include "settings/Localized.h"

#include <QJsonDocument>

namespace nimbel {

namespace {

TaskSlot::Ticket ticketOf(const QuestionTurn &turn)
{
    return {turn.requestID, turn.stop};
}

QVariant jsonValue(const nlohmann::ordered_json &json)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(json.dump())).toVariant();
}

// Cancels the waiting line of a screen turn however the path ends, unless a
// newer turn owns it by then.
class WaitingLineGuard
{
public:
    WaitingLineGuard(QPointer<OverlayViewModel> model, QUuid requestID)
        : m_model(std::move(model))
        , m_requestID(requestID)
    {
    }
    ~WaitingLineGuard()
    {
        if (m_model && m_model->isActiveRequest(m_requestID))
            m_model->questionTurn().cancelWaitingLine();
    }
    WaitingLineGuard(const WaitingLineGuard &) = delete;
    WaitingLineGuard &operator=(const WaitingLineGuard &) = delete;

private:
    QPointer<OverlayViewModel> m_model;
    QUuid m_requestID;
};

// Keeps what left the device with the question's message; nothing when the
// message is gone (the conversation was cleared meanwhile).
void keepSentContext(OverlayViewModel &model, const QUuid &messageID, SentScreenContext sent)
{
    QList<ChatMessage> messages = model.messages();
    for (ChatMessage &message : messages) {
        if (message.id != messageID)
            continue;
        message.sentContext = std::move(sent);
        model.setMessages(std::move(messages));
        return;
    }
}

// Whether an analysis that ended this way had handed its request to the
// network: the gateway refuses an unconnected profile, a bad address or a
// missing picture before sending anything.
bool requestLeft(const Result<NavigationResponse, GatewayFailure> &response)
{
    if (response.ok())
        return true;
    const GatewayFailure &failure = response.error();
    return !failure.is(VisionGatewayError::Kind::notConnected) && !failure.is(VisionGatewayError::Kind::invalidBaseURL)
        && !failure.is(VisionGatewayError::Kind::imageEncodingFailed);
}

} // namespace

// ---- The screen path ----

QCoro::Task<Result<Done, TurnError>> ScreenContextCoordinator::runScreenQuestion(QuestionTurn turn)
{
    return screenPath(Self(this), std::move(turn));
}

QCoro::Task<Result<Done, TurnError>> ScreenContextCoordinator::screenPath(Self self, QuestionTurn turn)
{
    ScreenContextCoordinator *model = resumeTurn(self, ticketOf(turn));
    if (!model)
        co_return TurnError::stopped();
    for (const auto &[skill, message] : {std::pair{"screen_capture", "skill.screenshotOff"},
                                         std::pair{"screen_understanding", "skill.screenUnderstandingOff"}}) {
        const auto allowed = model->m_model.requireDesktopSkill(QString::fromLatin1(skill), message);
        if (!allowed.ok())
            co_return TurnError::from(allowed.error());
    }
    model->m_model.noteScreenTurnStarted();

    model->m_model.questionTurn().scheduleWaitingLine(turn.requestID);
    const WaitingLineGuard waitingLine(QPointer<OverlayViewModel>(&model->m_model), turn.requestID);

    const auto captured = co_await model->captureFresh(turn.stop);
    model = resumeTurn(self, ticketOf(turn));
    if (!model)
        co_return TurnError::stopped();
    if (!captured.ok())
        co_return captured.error();
    const CaptureArtifact capture = captured.value();
    model->m_model.setMessageAttachment(turn.userMessageID, model->m_model.previewImage());
    model->m_model.setState(OverlayViewModel::State::analyzing);

    const auto accessibility = co_await model->preparedAccessibilityContext(capture, turn.stop);
    model = resumeTurn(self, ticketOf(turn));
    if (!model)
        co_return TurnError::stopped();
    const auto prepared = co_await model->preparedVisionContext(capture, turn.stop);
    model = resumeTurn(self, ticketOf(turn));
    if (!model)
        co_return TurnError::stopped();

    std::optional<QByteArray> jpeg = model->m_latestCaptureJPEG;
    if (prepared && !prepared->withheldLines.empty()) {
        // What the text withholds is covered in the picture too. The capture
        // was encoded before its lines were read, so this is a second encoding.
        const QImage covered = coverWithheldLines(capture.image, prepared->withheldLines);
        const ScreenImageEncodingPolicy policy = ScreenImageEncodingPolicy::detailedVision();
        ScreenImageEncoder &encoder = model->m_services.encoder;
        jpeg = co_await encoder.jpegData(covered, policy);
        model = resumeTurn(self, ticketOf(turn));
        if (!model)
            co_return TurnError::stopped();
        if (!jpeg)
            co_return TurnError::from(VisionGatewayError::imageEncodingFailed());
    } else if (!jpeg) {
        // The capture's own encoding failed: one more try, at the plainer
        // vision policy, before giving up on the picture.
        const ScreenImageEncodingPolicy policy = ScreenImageEncodingPolicy::vision();
        ScreenImageEncoder &encoder = model->m_services.encoder;
        jpeg = co_await encoder.jpegData(capture.image, policy);
        model = resumeTurn(self, ticketOf(turn));
        if (!model)
            co_return TurnError::stopped();
        if (!jpeg)
            co_return TurnError::from(VisionGatewayError::imageEncodingFailed());
    }

    ScreenAnalysisInput screen;
    screen.capture = capture.metadata.toJson();
    screen.capturedAt = CaptureDateCodec::encode(capture.metadata.capturedAt);
    if (accessibility)
        screen.accessibility = accessibility->toJson();
    if (prepared)
        screen.preparedScreenContext = ScreenAnalysisInput::PreparedContext{prepared->captureID, prepared->toJson()};
    // The record of this request, from the very bytes and contexts it is written from.
    SentScreenContext sent = SentScreenContext::of(*jpeg, accessibility, prepared, screen.sendsPreparedContext());
    // Arguments are named locals: GCC 12 mishandles temporaries that live across a co_await.
    const QStringList established = ConversationWindow::established(model->m_model.messages());
    const QList<RecentTurn> recent = ConversationWindow::recentTurns(model->m_model.messages());
    VisionGateway &gateway = model->m_services.gateway;
    const auto response =
        co_await gateway.analyze(std::move(screen), *jpeg, turn.question, model->m_model.gatewayBaseURL(),
                                 model->m_model.platformAPIKey(), model->m_model.connectedAgentID(), established, recent, turn.stop);
    // Kept even when a newer turn took over: the request had left all the same.
    if (self && requestLeft(response))
        keepSentContext(self->m_model, turn.userMessageID, std::move(sent));
    model = resumeTurn(self, ticketOf(turn));
    if (!model)
        co_return TurnError::stopped();
    if (!response.ok())
        co_return TurnError::from(response.error());

    const NavigationResponse &navigation = response.value();
    model->m_model.setAnswer(jsonValue(navigation.toJson()));
    emit model->screenAnswered(navigation, capture, prepared);
    const QDateTime now = model->m_services.clock.now();
    model->m_model.appendMessage(ChatMessage::create(ChatMessage::Role::analyst, analystNote(navigation), now));
    const auto finding = ConversationWindow::findingNote(navigation.screenFacts, capture.metadata.applicationName,
                                                         capture.metadata.windowTitle);
    if (finding) {
        model->m_model.appendMessage(ChatMessage::create(ChatMessage::Role::screenFact, *finding, now));
        log::info(log::requestRouting(),
                  log::Record()
                      .add(u"screen_facts", qint64(navigation.screenFacts.size()))
                      .add(u"window_chars", qint64(ConversationWindow::totalCharacters(model->m_model.messages()))));
    }

    auto answered = co_await model->m_model.runGeneralQuestion(turn, true);
    if (!answered.ok())
        co_return answered;
    model = resumeTurn(self, ticketOf(turn));
    if (model)
        model->m_model.setState(OverlayViewModel::State::answered);
    co_return Done{};
}

QString ScreenContextCoordinator::analystNote(const NavigationResponse &response)
{
    QStringList lines{response.summary.trimmed()};
    const qsizetype steps = std::min<qsizetype>(response.steps.size(), 5);
    for (qsizetype i = 0; i < steps; ++i) {
        const NavigationStep &step = response.steps.at(i);
        QString line = QString::number(i + 1) + QStringLiteral(". ") + step.instruction;
        if (step.targetLabel)
            line += QStringLiteral(" (") + *step.targetLabel + u')';
        lines.append(line);
    }
    if (response.safetyNote && !response.safetyNote->trimmed().isEmpty())
        lines.append(L::transcriptWarning(response.safetyNote->trimmed()));
    lines.removeIf([](const QString &line) { return line.trimmed().isEmpty(); });
    return lines.join(u'\n');
}

} // namespace nimbel
