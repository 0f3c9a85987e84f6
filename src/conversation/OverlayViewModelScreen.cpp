// The screen side of the view model: the screen path of a question turn, the
// capture it takes, the two context warm-ups that start as soon as a capture
// exists, the page warm-up, and the manual capture.
//
// Every task here holds the view model weakly and asks three things after
// each await before it stores anything: was it stopped, did the preparation
// generation change, is its capture still the latest one.
#include "conversation/OverlayViewModel.h"

#include "conversation/AccessibilityTrust.h"
#include "conversation/ConversationWindow.h"
#include "conversation/ResumeGuard.h"
#include "core/Log.h"
#include "gateway/AnalyzeRequest.h"
#include "gateway/NavigationResponse.h"
#include "gateway/VisionGateway.h"
#include "screen/AccessibilityContextService.h"
#include "screen/CaptureDateCodec.h"
#include "screen/FrontmostAppTracker.h"
#include "screen/LocalScreenContextPreparer.h"
#include "screen/ScreenCapturePermission.h"
#include "screen/ScreenCaptureService.h"
#include "screen/ScreenImageEncoder.h"
#include "settings/Localized.h"

#include <QJsonDocument>

#include <limits>

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

// The capture as the owner sees it: at its logical size.
QImage previewOf(const CaptureArtifact &capture)
{
    const QSize logical(qRound(capture.metadata.logicalWidth), qRound(capture.metadata.logicalHeight));
    if (logical.isEmpty() || logical == capture.image.size())
        return capture.image;
    return capture.image.scaled(logical, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool matches(const std::optional<PreparedScreenContext> &context, const CaptureArtifact &capture)
{
    return context && context->captureID == CaptureDateCodec::encode(capture.metadata.capturedAt);
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
            m_model->cancelWaitingLine();
    }
    WaitingLineGuard(const WaitingLineGuard &) = delete;
    WaitingLineGuard &operator=(const WaitingLineGuard &) = delete;

private:
    QPointer<OverlayViewModel> m_model;
    QUuid m_requestID;
};

} // namespace

// ---- The screen path ----

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::runScreenQuestion(QuestionTurn turn)
{
    return screenPath(QPointer<OverlayViewModel>(this), std::move(turn));
}

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::screenPath(QPointer<OverlayViewModel> self, QuestionTurn turn)
{
    OverlayViewModel *model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();
    for (const auto &[skill, message] : {std::pair{"screen_capture", "skill.screenshotOff"},
                                         std::pair{"screen_understanding", "skill.screenUnderstandingOff"}}) {
        const auto allowed = model->requireDesktopSkill(QString::fromLatin1(skill), message);
        if (!allowed.ok())
            co_return TurnError::from(allowed.error());
    }
    model->m_manualCapturePending = false;
    model->m_lastRequestUsedScreen = true;

    model->scheduleWaitingLine(turn.requestID);
    const WaitingLineGuard waitingLine(self, turn.requestID);

    const auto captured = co_await model->captureFresh(turn.stop);
    model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();
    if (!captured.ok())
        co_return captured.error();
    const CaptureArtifact capture = captured.value();
    model->setMessageAttachment(turn.userMessageID, model->m_previewImage);
    model->setState(State::analyzing);

    const auto accessibility = co_await model->preparedAccessibilityContext(capture, turn.stop);
    model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();
    const auto prepared = co_await model->preparedVisionContext(capture, turn.stop);
    model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();

    std::optional<QByteArray> jpeg = model->m_latestCaptureJPEG;
    if (!jpeg) {
        // The capture's own encoding failed: one more try, at the plainer
        // vision policy, before giving up on the picture.
        const ScreenImageEncodingPolicy policy = ScreenImageEncodingPolicy::vision();
        ScreenImageEncoder &encoder = model->m_services.encoder;
        jpeg = co_await encoder.jpegData(capture.image, policy);
        model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
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
    // Arguments are named locals: GCC 12 mishandles temporaries that live across a co_await.
    const QStringList established = ConversationWindow::established(model->m_messages);
    const QList<RecentTurn> recent = ConversationWindow::recentTurns(model->m_messages);
    VisionGateway &gateway = *model->m_gateway;
    const auto response =
        co_await gateway.analyze(std::move(screen), *jpeg, turn.question, model->m_gatewayBaseURL,
                                 model->m_platformAPIKey, model->m_connectedAgentID, established, recent, turn.stop);
    model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();
    if (!response.ok())
        co_return TurnError::from(response.error());

    const NavigationResponse &navigation = response.value();
    model->setAnswer(jsonValue(navigation.toJson()));
    const QDateTime now = model->m_services.clock.now();
    model->appendMessage(ChatMessage::create(ChatMessage::Role::analyst, analystNote(navigation), now));
    const auto finding = ConversationWindow::findingNote(navigation.screenFacts, capture.metadata.applicationName,
                                                         capture.metadata.windowTitle);
    if (finding) {
        model->appendMessage(ChatMessage::create(ChatMessage::Role::screenFact, *finding, now));
        log::info(log::requestRouting(),
                  log::Record()
                      .add(u"screen_facts", qint64(navigation.screenFacts.size()))
                      .add(u"window_chars", qint64(ConversationWindow::totalCharacters(model->m_messages))));
    }

    auto answered = co_await model->runGeneralQuestion(turn, true);
    if (!answered.ok())
        co_return answered;
    model = resumeTarget(self, ticketOf(turn), &OverlayViewModel::m_request);
    if (model)
        model->setState(State::answered);
    co_return Done{};
}

QString OverlayViewModel::analystNote(const NavigationResponse &response)
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

// ---- Capture ----

QCoro::Task<Result<CaptureArtifact, TurnError>> OverlayViewModel::captureFresh(std::stop_token stop)
{
    return captureFreshTask(QPointer<OverlayViewModel>(this), std::move(stop));
}

QCoro::Task<Result<CaptureArtifact, TurnError>> OverlayViewModel::captureFreshTask(QPointer<OverlayViewModel> self,
                                                                                  std::stop_token stop)
{
    OverlayViewModel *model = self.data();
    if (!model || stop.stop_requested())
        co_return TurnError::stopped();
    ScreenCaptureService *service = model->m_services.screenCapture;
    if (!service)
        co_return TurnError::from(ZelmFailure{L::text("error.screenQuestion.unavailable")});

    model->setState(State::capturing);
    model->setFailure(std::nullopt);
    model->setScreenCapturePermissionGranted(model->m_services.screenCaptureAccess.preflight());

    const CaptureResult captured = co_await service->captureCurrentContext();
    model = self.data();
    if (!model || stop.stop_requested())
        co_return TurnError::stopped();
    if (!captured.ok())
        co_return TurnError::from(ZelmFailure::from(toDescription(captured.error())));
    const CaptureArtifact capture = captured.value();

    const ScreenImageEncodingPolicy policy = ScreenImageEncodingPolicy::detailedVision();
    ScreenImageEncoder &encoder = model->m_services.encoder;
    const auto jpeg = co_await encoder.jpegData(capture.image, policy);
    model = self.data();
    if (!model || stop.stop_requested())
        co_return TurnError::stopped();

    model->setScreenCapturePermissionGranted(true);
    model->applyCapture(capture, jpeg);
    model->prepareAccessibilityContext(capture);
    model->prepareVisionContext(capture);
    model->setState(State::captured);
    co_return capture;
}

void OverlayViewModel::applyCapture(const CaptureArtifact &capture, std::optional<QByteArray> preparedJPEG)
{
    m_latestCapture = capture;
    m_latestCaptureJPEG = std::move(preparedJPEG);
    m_latestCaptureAt = m_services.clock.now();
    m_latestAccessibilityContext.reset();
    m_latestAccessibilityCaptureAt.reset();
    if (auto warm = std::exchange(m_warmAccessibilityContextTask, nullptr))
        warm->cancel();
    m_warmAccessibilityCaptureAt.reset();
    if (m_preparedScreenCaptureAt != capture.metadata.capturedAt)
        clearPreparedScreenContext();
    setPreviewImage(previewOf(capture));
    setCaptureMetadata(jsonValue(capture.metadata.toJson()));
}

bool OverlayViewModel::isLatestCapture(const CaptureArtifact &capture) const
{
    return m_latestCapture && m_latestCapture->metadata.capturedAt == capture.metadata.capturedAt;
}

void OverlayViewModel::clearPreparedScreenContext()
{
    // A preparation that finishes after this belongs to an older generation
    // and is not stored.
    ++m_visionContextGeneration;
    if (auto warm = std::exchange(m_warmVisionContextTask, nullptr))
        warm->cancel();
    m_warmVisionContextCaptureAt.reset();
    m_preparedScreenContext.reset();
    m_preparedScreenCaptureAt.reset();
}

// ---- The accessibility context ----

QCoro::Task<std::optional<AccessibilityContext>> OverlayViewModel::collectAccessibilityContext(CaptureArtifact capture,
                                                                                              std::stop_token stop)
{
    return collectAccessibilityTask(QPointer<OverlayViewModel>(this), std::move(capture), std::move(stop));
}

QCoro::Task<std::optional<AccessibilityContext>>
OverlayViewModel::collectAccessibilityTask(QPointer<OverlayViewModel> self, CaptureArtifact capture,
                                           std::stop_token stop)
{
    OverlayViewModel *model = self.data();
    if (!model || !model->m_accessibilityContextEnabled)
        co_return std::nullopt;
    model->setAccessibilityPermissionGranted(model->m_services.accessibilityTrust.isTrusted());
    if (!model->m_accessibilityPermissionGranted)
        co_return std::nullopt;
    AccessibilityContextService *service = model->m_services.accessibilityContext;
    const FrontmostAppTracker *tracker = model->m_services.appTracker;
    const auto application = tracker ? tracker->lastExternalApplication() : std::nullopt;
    if (!service || !application)
        co_return std::nullopt;
    // An identifier that does not fit is no process the walk could find.
    const qint64 pid = application->processIdentifier.value_or(0);
    if (pid < 1 || pid > std::numeric_limits<qint32>::max())
        co_return std::nullopt;
    auto context = co_await service->collect(qint32(pid), capture.metadata.applicationName,
                                             capture.metadata.bundleIdentifier, std::move(stop));
    co_return context;
}

void OverlayViewModel::prepareAccessibilityContext(const CaptureArtifact &capture)
{
    if (auto previous = std::exchange(m_warmAccessibilityContextTask, nullptr))
        previous->cancel();
    m_warmAccessibilityCaptureAt = capture.metadata.capturedAt;
    auto warm = std::make_shared<WarmUp<AccessibilityContext>>(m_services.clock);
    m_warmAccessibilityContextTask = warm;
    warmAccessibilityTask(QPointer<OverlayViewModel>(this), std::move(warm), capture);
}

QCoro::Task<void> OverlayViewModel::warmAccessibilityTask(QPointer<OverlayViewModel> self,
                                                          std::shared_ptr<WarmUp<AccessibilityContext>> warm,
                                                          CaptureArtifact capture)
{
    const std::stop_token stop = warm->token();
    auto context = co_await collectAccessibilityTask(self, capture, stop);
    OverlayViewModel *model = self.data();
    if (warm->isCancelled() || !model || !model->isLatestCapture(capture)) {
        warm->deliver(std::nullopt);
        co_return;
    }
    model->m_latestAccessibilityContext = context;
    model->m_latestAccessibilityCaptureAt = capture.metadata.capturedAt;
    if (context && context->pageURL)
        warmPageTask(self, *context->pageURL, model->m_pageWarmUps.get_token());
    warm->deliver(std::move(context));
}

QCoro::Task<std::optional<AccessibilityContext>>
OverlayViewModel::preparedAccessibilityContext(CaptureArtifact capture, std::stop_token stop)
{
    return preparedAccessibilityTask(QPointer<OverlayViewModel>(this), std::move(capture), std::move(stop));
}

QCoro::Task<std::optional<AccessibilityContext>>
OverlayViewModel::preparedAccessibilityTask(QPointer<OverlayViewModel> self, CaptureArtifact capture,
                                            std::stop_token stop)
{
    OverlayViewModel *model = self.data();
    if (!model)
        co_return std::nullopt;
    const QDateTime capturedAt = capture.metadata.capturedAt;
    if (model->m_warmAccessibilityCaptureAt == capturedAt && model->m_warmAccessibilityContextTask) {
        const auto warm = model->m_warmAccessibilityContextTask;
        const auto outcome = warm->outcome();
        const bool arrived = co_await outcome->wait(stop);
        if (!arrived)
            co_return std::nullopt;
        model = self.data();
        if (model && model->m_warmAccessibilityCaptureAt == capturedAt
            && model->m_warmAccessibilityContextTask == warm) {
            model->m_warmAccessibilityContextTask.reset();
            model->m_warmAccessibilityCaptureAt.reset();
        }
        co_return outcome->value();
    }
    if (model->m_latestAccessibilityCaptureAt == capturedAt)
        co_return model->m_latestAccessibilityContext;

    auto context = co_await collectAccessibilityTask(self, capture, stop);
    model = self.data();
    if (!model || stop.stop_requested())
        co_return std::nullopt;
    if (model->isLatestCapture(capture)) {
        model->m_latestAccessibilityContext = context;
        model->m_latestAccessibilityCaptureAt = capturedAt;
    }
    co_return context;
}

// ---- The prepared screen context ----

void OverlayViewModel::prepareVisionContext(const CaptureArtifact &capture)
{
    if (!requireDesktopSkill(QStringLiteral("screen_capture"), "skill.screenshotOff").ok()
        || !requireDesktopSkill(QStringLiteral("screen_understanding"), "skill.screenUnderstandingOff").ok())
        return;
    if (m_gatewayBaseURL.trimmed().isEmpty() || m_platformAPIKey.trimmed().isEmpty())
        return;
    if (!m_services.screenContextPreparer)
        return;
    const QDateTime capturedAt = capture.metadata.capturedAt;
    if (m_preparedScreenCaptureAt == capturedAt && matches(m_preparedScreenContext, capture))
        return;
    if (m_warmVisionContextCaptureAt == capturedAt && m_warmVisionContextTask)
        return;

    const int generation = ++m_visionContextGeneration;
    if (auto previous = std::exchange(m_warmVisionContextTask, nullptr))
        previous->cancel();
    m_warmVisionContextCaptureAt = capturedAt;
    auto warm = std::make_shared<WarmUp<PreparedScreenContext>>(m_services.clock);
    m_warmVisionContextTask = warm;
    warmVisionTask(QPointer<OverlayViewModel>(this), std::move(warm), generation, capture);
}

QCoro::Task<void> OverlayViewModel::warmVisionTask(QPointer<OverlayViewModel> self,
                                                   std::shared_ptr<WarmUp<PreparedScreenContext>> warm,
                                                   int generation, CaptureArtifact capture)
{
    const auto stale = [&](OverlayViewModel *model) {
        return warm->isCancelled() || !model || model->m_visionContextGeneration != generation
               || !model->isLatestCapture(capture);
    };
    // Joins the accessibility warm-up of this capture rather than walking the tree twice.
    const std::stop_token stop = warm->token();
    auto accessibility = co_await preparedAccessibilityTask(self, capture, stop);
    OverlayViewModel *model = self.data();
    if (stale(model)) {
        warm->deliver(std::nullopt);
        co_return;
    }
    LocalScreenContextPreparer &preparer = *model->m_services.screenContextPreparer;
    LocalScreenContextPreparer::Request request =
        LocalScreenContextPreparer::Request::fromCapture(capture, std::move(accessibility));
    auto prepared = co_await preparer.prepare(std::move(request));
    model = self.data();
    if (stale(model) || prepared.captureID != CaptureDateCodec::encode(capture.metadata.capturedAt)) {
        warm->deliver(std::nullopt);
        co_return;
    }
    model->m_preparedScreenContext = prepared;
    model->m_preparedScreenCaptureAt = capture.metadata.capturedAt;
    warm->deliver(std::move(prepared));
}

QCoro::Task<std::optional<PreparedScreenContext>> OverlayViewModel::preparedVisionContext(CaptureArtifact capture,
                                                                                         std::stop_token stop)
{
    return preparedVisionTask(QPointer<OverlayViewModel>(this), std::move(capture), std::move(stop));
}

QCoro::Task<std::optional<PreparedScreenContext>>
OverlayViewModel::preparedVisionTask(QPointer<OverlayViewModel> self, CaptureArtifact capture, std::stop_token stop)
{
    OverlayViewModel *model = self.data();
    if (!model)
        co_return std::nullopt;
    const QDateTime capturedAt = capture.metadata.capturedAt;
    if (model->m_preparedScreenCaptureAt == capturedAt && matches(model->m_preparedScreenContext, capture))
        co_return model->m_preparedScreenContext;
    if (model->m_warmVisionContextCaptureAt != capturedAt || !model->m_warmVisionContextTask)
        co_return std::nullopt;

    const auto warm = model->m_warmVisionContextTask;
    const auto outcome = warm->outcome();
    const bool arrived = co_await outcome->wait(stop);
    if (!arrived)
        co_return std::nullopt;
    model = self.data();
    if (model && model->m_warmVisionContextCaptureAt == capturedAt && model->m_warmVisionContextTask == warm) {
        model->m_warmVisionContextTask.reset();
        model->m_warmVisionContextCaptureAt.reset();
    }
    std::optional<PreparedScreenContext> value = outcome->value();
    if (!matches(value, capture))
        co_return std::nullopt;
    co_return value;
}

// ---- The page warm-up ----

QCoro::Task<void> OverlayViewModel::warmPageTask(QPointer<OverlayViewModel> self, QString pageURL,
                                                 std::stop_token stop)
{
    OverlayViewModel *model = self.data();
    if (!model)
        co_return;
    // A hint to the platform: nobody waits for it and its outcome is dropped.
    auto warmed = co_await model->m_gateway->warmPublicPageContext(
        std::move(pageURL), model->m_gatewayBaseURL, model->m_platformAPIKey, model->m_connectedAgentID,
        std::move(stop));
    Q_UNUSED(warmed);
}

// ---- The manual capture ----

void OverlayViewModel::captureOnly()
{
    cancelCurrentResponse(true, true);
    stopVoiceOutput();
    runCaptureOnly(QPointer<OverlayViewModel>(this), m_request.start());
}

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::captureOnlySteps(QPointer<OverlayViewModel> self,
                                                                       TaskSlot::Ticket ticket)
{
    OverlayViewModel *model = self.data();
    if (!model)
        co_return TurnError::stopped();
    const auto synced = co_await model->synchronizePlatformConfiguration(false, ticket.token);
    if (!synced.ok())
        co_return TurnError::from(synced.error());
    model = resumeTarget(self, ticket, &OverlayViewModel::m_request);
    if (!model)
        co_return TurnError::stopped();
    const auto allowed = model->requireDesktopSkill(QStringLiteral("screen_capture"), "skill.screenshotOff");
    if (!allowed.ok())
        co_return TurnError::from(allowed.error());
    const auto captured = co_await model->captureFresh(ticket.token);
    if (!captured.ok())
        co_return captured.error();
    co_return Done{};
}

QCoro::Task<void> OverlayViewModel::runCaptureOnly(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket)
{
    const auto result = co_await captureOnlySteps(self, ticket);
    OverlayViewModel *model = resumeTarget(self, ticket, &OverlayViewModel::m_request);
    if (!model)
        co_return;
    model->m_request.finish(ticket.id);
    if (result.ok())
        model->m_manualCapturePending = true;
    else if (!result.error().isStopped())
        model->fail(*result.error().failure, std::nullopt);
}

} // namespace nimbel
