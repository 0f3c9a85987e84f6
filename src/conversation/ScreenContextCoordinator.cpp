// Every task here holds the coordinator weakly and asks three things after
// each await before it stores anything: was it stopped, did the preparation
// generation change, is its capture still the latest one.
#include "conversation/ScreenContextCoordinator.h"

#include "conversation/OverlayViewModel.h"

#include "conversation/AccessibilityTrust.h"
#include "conversation/ConversationWindow.h"
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


} // namespace

ScreenContextCoordinator::ScreenContextCoordinator(OverlayViewModel &model, Services services)
    : m_model(model)
    , m_services(services)
{
}

ScreenContextCoordinator::~ScreenContextCoordinator()
{
    clear();
    clearPreparedScreenContext();
    m_pageWarmUps.request_stop();
}

ScreenContextCoordinator *ScreenContextCoordinator::resumeTurn(const Self &self, const TaskSlot::Ticket &ticket)
{
    if (ticket.token.stop_requested() || !self || !self->m_model.isActiveRequest(ticket.id))
        return nullptr;
    return self.data();
}

void ScreenContextCoordinator::clear()
{
    m_latestCapture.reset();
    m_latestCaptureJPEG.reset();
    m_latestCaptureAt.reset();
    m_latestAccessibilityContext.reset();
    m_latestAccessibilityCaptureAt.reset();
    if (auto warm = std::exchange(m_warmAccessibilityContextTask, nullptr))
        warm->cancel();
    m_warmAccessibilityCaptureAt.reset();
}

// ---- Capture ----

QCoro::Task<Result<CaptureArtifact, TurnError>> ScreenContextCoordinator::captureFresh(std::stop_token stop)
{
    return captureFreshTask(Self(this), std::move(stop));
}

QCoro::Task<Result<CaptureArtifact, TurnError>> ScreenContextCoordinator::captureFreshTask(Self self,
                                                                                  std::stop_token stop)
{
    ScreenContextCoordinator *model = self.data();
    if (!model || stop.stop_requested())
        co_return TurnError::stopped();
    ScreenCaptureService *service = model->m_services.screenCapture;
    if (!service)
        co_return TurnError::from(ZelmFailure{L::text("error.screenQuestion.unavailable")});

    model->m_model.setState(OverlayViewModel::State::capturing);
    model->m_model.setFailure(std::nullopt);
    model->m_model.setScreenCapturePermissionGranted(model->m_services.screenCaptureAccess.preflight());

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

    model->m_model.setScreenCapturePermissionGranted(true);
    model->applyCapture(capture, jpeg);
    model->prepareAccessibilityContext(capture);
    model->prepareVisionContext(capture);
    model->m_model.setState(OverlayViewModel::State::captured);
    co_return capture;
}

void ScreenContextCoordinator::applyCapture(const CaptureArtifact &capture, std::optional<QByteArray> preparedJPEG)
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
    m_model.setPreviewImage(previewOf(capture));
    m_model.setCaptureMetadata(jsonValue(capture.metadata.toJson()));
}

bool ScreenContextCoordinator::isLatestCapture(const CaptureArtifact &capture) const
{
    return m_latestCapture && m_latestCapture->metadata.capturedAt == capture.metadata.capturedAt;
}

void ScreenContextCoordinator::clearPreparedScreenContext()
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

QCoro::Task<std::optional<AccessibilityContext>>
ScreenContextCoordinator::collectAccessibilityTask(Self self, CaptureArtifact capture,
                                           std::stop_token stop)
{
    ScreenContextCoordinator *model = self.data();
    if (!model || !model->m_model.accessibilityContextEnabled())
        co_return std::nullopt;
    model->m_model.setAccessibilityPermissionGranted(model->m_services.accessibilityTrust.isTrusted());
    if (!model->m_model.accessibilityPermissionGranted())
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

void ScreenContextCoordinator::prepareAccessibilityContext(const CaptureArtifact &capture)
{
    if (auto previous = std::exchange(m_warmAccessibilityContextTask, nullptr))
        previous->cancel();
    m_warmAccessibilityCaptureAt = capture.metadata.capturedAt;
    auto warm = std::make_shared<WarmUp<AccessibilityContext>>(m_services.clock);
    m_warmAccessibilityContextTask = warm;
    warmAccessibilityTask(Self(this), std::move(warm), capture);
}

QCoro::Task<void> ScreenContextCoordinator::warmAccessibilityTask(Self self,
                                                          std::shared_ptr<WarmUp<AccessibilityContext>> warm,
                                                          CaptureArtifact capture)
{
    const std::stop_token stop = warm->token();
    auto context = co_await collectAccessibilityTask(self, capture, stop);
    ScreenContextCoordinator *model = self.data();
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
ScreenContextCoordinator::preparedAccessibilityContext(CaptureArtifact capture, std::stop_token stop)
{
    return preparedAccessibilityTask(Self(this), std::move(capture), std::move(stop));
}

QCoro::Task<std::optional<AccessibilityContext>>
ScreenContextCoordinator::preparedAccessibilityTask(Self self, CaptureArtifact capture,
                                            std::stop_token stop)
{
    ScreenContextCoordinator *model = self.data();
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

void ScreenContextCoordinator::prepareVisionContext(const CaptureArtifact &capture)
{
    if (!m_model.requireDesktopSkill(QStringLiteral("screen_capture"), "skill.screenshotOff").ok()
        || !m_model.requireDesktopSkill(QStringLiteral("screen_understanding"), "skill.screenUnderstandingOff").ok())
        return;
    if (m_model.gatewayBaseURL().trimmed().isEmpty() || m_model.platformAPIKey().trimmed().isEmpty())
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
    warmVisionTask(Self(this), std::move(warm), generation, capture);
}

QCoro::Task<void> ScreenContextCoordinator::warmVisionTask(Self self,
                                                   std::shared_ptr<WarmUp<PreparedScreenContext>> warm,
                                                   int generation, CaptureArtifact capture)
{
    const auto stale = [&](ScreenContextCoordinator *model) {
        return warm->isCancelled() || !model || model->m_visionContextGeneration != generation
               || !model->isLatestCapture(capture);
    };
    // Joins the accessibility warm-up of this capture rather than walking the tree twice.
    const std::stop_token stop = warm->token();
    auto accessibility = co_await preparedAccessibilityTask(self, capture, stop);
    ScreenContextCoordinator *model = self.data();
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

QCoro::Task<std::optional<PreparedScreenContext>> ScreenContextCoordinator::preparedVisionContext(CaptureArtifact capture,
                                                                                         std::stop_token stop)
{
    return preparedVisionTask(Self(this), std::move(capture), std::move(stop));
}

QCoro::Task<std::optional<PreparedScreenContext>>
ScreenContextCoordinator::preparedVisionTask(Self self, CaptureArtifact capture, std::stop_token stop)
{
    ScreenContextCoordinator *model = self.data();
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

QCoro::Task<void> ScreenContextCoordinator::warmPageTask(Self self, QString pageURL,
                                                 std::stop_token stop)
{
    ScreenContextCoordinator *model = self.data();
    if (!model)
        co_return;
    // A hint to the platform: nobody waits for it and its outcome is dropped.
    auto warmed = co_await model->m_services.gateway.warmPublicPageContext(
        std::move(pageURL), model->m_model.gatewayBaseURL(), model->m_model.platformAPIKey(), model->m_model.connectedAgentID(),
        std::move(stop));
    Q_UNUSED(warmed);
}

// ---- The manual capture ----

void ScreenContextCoordinator::captureOnly()
{
    m_model.cancelCurrentResponse(true, true);
    m_model.stopVoiceOutput();
    runCaptureOnly(Self(this), m_model.startRequest());
}

QCoro::Task<Result<Done, TurnError>> ScreenContextCoordinator::captureOnlySteps(Self self,
                                                                       TaskSlot::Ticket ticket)
{
    ScreenContextCoordinator *model = self.data();
    if (!model)
        co_return TurnError::stopped();
    const auto synced = co_await model->m_model.synchronizePlatformConfiguration(false, ticket.token);
    if (!synced.ok())
        co_return TurnError::from(synced.error());
    model = resumeTurn(self, ticket);
    if (!model)
        co_return TurnError::stopped();
    const auto allowed = model->m_model.requireDesktopSkill(QStringLiteral("screen_capture"), "skill.screenshotOff");
    if (!allowed.ok())
        co_return TurnError::from(allowed.error());
    const auto captured = co_await model->captureFresh(ticket.token);
    if (!captured.ok())
        co_return captured.error();
    co_return Done{};
}

QCoro::Task<void> ScreenContextCoordinator::runCaptureOnly(Self self, TaskSlot::Ticket ticket)
{
    const auto result = co_await captureOnlySteps(self, ticket);
    ScreenContextCoordinator *model = resumeTurn(self, ticket);
    if (!model)
        co_return;
    model->m_model.finishRequest(ticket.id);
    if (result.ok())
        model->m_model.noteManualCapture();
    else if (!result.error().isStopped())
        model->m_model.fail(*result.error().failure, std::nullopt);
}

} // namespace nimbel
