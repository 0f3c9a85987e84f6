#pragma once

#include "conversation/DesktopRequestRouter.h"
#include "conversation/QuestionTurn.h"
#include "conversation/ZelmFailure.h"
#include "core/Clock.h"
#include "core/Result.h"
#include "core/TaskSlot.h"
#include "gateway/GatewayFailure.h"
#include "gateway/VisionGatewayError.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <QCoro/QCoroTask>

#include <optional>

namespace nimbel {

class MicrophoneRecorder;
class OverlayViewModel;
class VisionGateway;

// The question turn of the view model: submitting (with supersession: a
// newer question stops the running one, which then changes nothing more),
// the request task and its general path streamed from the chat endpoint,
// failures, the opening and waiting lines, and the bounding of a full
// conversation. Publishes through the view model.
class QuestionTurnController final : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        Clock &clock;
        MicrophoneRecorder &microphone;
        VisionGateway &gateway;
    };

    QuestionTurnController(OverlayViewModel &model, Services services);
    ~QuestionTurnController() override;

    void submitQuestion(bool shouldOpenChat);
    void handleStopCommand();
    QCoro::Task<Result<Done, TurnError>> runGeneralQuestion(QuestionTurn turn, bool followingScreen);
    Result<Done, VisionGatewayError> requireDesktopSkill(const QString &skill, const char *messageKey) const;
    void appendStreamedSentence(const QString &sentence, const QUuid &id);
    void fail(const ZelmFailure &failure, std::optional<bool> shouldOpenChat);
    static QString transcriptionFailureMessage(const GatewayFailure &error);
    static QString transcriptionFailureMessage(const VisionGatewayError &error);
    static QString transcriptionFailureMessage();

    QString openingLine(const QString &question, DesktopRequestRoute route, bool spoken);
    void speakFirstLine();
    void scheduleWaitingLine(const QUuid &requestID);
    void cancelWaitingLine();
    const std::optional<QString> &lastOpeningLine() const { return m_lastOpeningLine; }
    const std::optional<QString> &firstLineForTurn() const { return m_firstLineForTurn; }
    void clearFirstLineForTurn() { m_firstLineForTurn.reset(); }

    bool compactConversationIfFull();

    // The running turn (or manual capture) and what the router needs of the last one.
    TaskSlot &request() { return m_request; }
    const TaskSlot &request() const { return m_request; }
    DesktopRequestContext requestContext() const { return {m_manualCapturePending, m_lastRequestUsedScreen}; }
    void noteScreenTurnStarted();
    void noteManualCapture() { m_manualCapturePending = true; }
    void forgetScreenUse();

    static constexpr Milliseconds waitingLineDelay{5'500};
    static constexpr Milliseconds failureResumeDelay{350};

private:
    using Self = QPointer<QuestionTurnController>;

    static QCoro::Task<void> runRequest(Self self, QuestionTurn turn);
    static QCoro::Task<Result<Done, TurnError>> performRequest(Self self, QuestionTurn turn);
    static QCoro::Task<Result<Done, TurnError>> generalPath(Self self, QuestionTurn turn, bool followingScreen);
    static QCoro::Task<void> waitingLineTask(Self self, TaskSlot::Ticket ticket, QUuid requestID);

    OverlayViewModel &m_model;
    Services m_services;
    TaskSlot m_request;
    bool m_manualCapturePending = false;
    bool m_lastRequestUsedScreen = false;
    std::optional<QString> m_lastOpeningLine;
    std::optional<QString> m_firstLineForTurn;
    TaskSlot m_waitingLine;
};

} // namespace nimbel
