#pragma once

#include "conversation/QuestionTurn.h"
#include "conversation/WarmUp.h"
#include "core/Clock.h"
#include "core/Result.h"
#include "core/TaskSlot.h"
#include "gateway/NavigationResponse.h"
#include "screen/AccessibilityContext.h"
#include "screen/CaptureArtifact.h"
#include "screen/PreparedScreenContext.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace nimbel {

class AccessibilityContextService;
class AccessibilityTrust;
class FrontmostAppTracker;
class LocalScreenContextPreparer;
class OverlayViewModel;
class ScreenCaptureAccess;
class ScreenCaptureService;
class ScreenImageEncoder;
class VisionGateway;

// The screen side of the view model: the screen path of a question turn, the
// capture it takes, the two context warm-ups that start as soon as a capture
// exists (accessibility summary, on-device reading), their freshness, the
// page warm-up and the manual capture. Every result is keyed by the capture
// date of the capture it was made from; a task stores nothing once it was
// stopped, the preparation generation changed or its capture is no longer
// the latest. Publishes through the view model.
class ScreenContextCoordinator final : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        Clock &clock;
        ScreenCaptureAccess &screenCaptureAccess;
        AccessibilityTrust &accessibilityTrust;
        VisionGateway &gateway;
        ScreenImageEncoder &encoder;
        // Without a capture service every screen question fails saying so;
        // without the others a question goes without the context they give.
        ScreenCaptureService *screenCapture = nullptr;
        FrontmostAppTracker *appTracker = nullptr;
        AccessibilityContextService *accessibilityContext = nullptr;
        LocalScreenContextPreparer *screenContextPreparer = nullptr;
    };

    ScreenContextCoordinator(OverlayViewModel &model, Services services);
    ~ScreenContextCoordinator() override;

    // The screen path of a turn: the screen skills, a fresh capture with its
    // prepared contexts, the analysis recorded as hidden context messages,
    // then the streamed visible answer of the general path.
    QCoro::Task<Result<Done, TurnError>> runScreenQuestion(QuestionTurn turn);
    // The hidden note a navigation answer leaves in the conversation.
    static QString analystNote(const NavigationResponse &response);

    // Takes, encodes and applies one capture and starts warming its contexts.
    // Fails with the capture's error; a stop ends it without changing anything more.
    QCoro::Task<Result<CaptureArtifact, TurnError>> captureFresh(std::stop_token stop = {});
    // The contexts of `capture`: joins a running warm-up, else takes what is
    // stored for exactly this capture. Never fails; absent when stale or stopped.
    QCoro::Task<std::optional<AccessibilityContext>> preparedAccessibilityContext(CaptureArtifact capture,
                                                                                 std::stop_token stop = {});
    QCoro::Task<std::optional<PreparedScreenContext>> preparedVisionContext(CaptureArtifact capture,
                                                                           std::stop_token stop = {});
    // Invalidates every preparation (running or stored).
    void clearPreparedScreenContext();
    // Forgets the latest capture and what was prepared from it.
    void clear();
    // The manual capture of the composer's and the tray's screenshot action.
    void captureOnly();

    const std::optional<CaptureArtifact> &latestCapture() const { return m_latestCapture; }
    const std::optional<QByteArray> &latestCaptureJPEG() const { return m_latestCaptureJPEG; }
    const std::optional<AccessibilityContext> &latestAccessibilityContext() const
    {
        return m_latestAccessibilityContext;
    }
    const std::optional<PreparedScreenContext> &preparedScreenContext() const { return m_preparedScreenContext; }
    int visionContextGeneration() const { return m_visionContextGeneration; }
    bool isWarmingAccessibilityContext() const { return m_warmAccessibilityContextTask != nullptr; }
    bool isWarmingVisionContext() const { return m_warmVisionContextTask != nullptr; }

signals:
    // A screen question was answered about `capture`, with `context` sent beside it.
    void screenAnswered(const nimbel::NavigationResponse &answer, const nimbel::CaptureArtifact &capture,
                        const std::optional<nimbel::PreparedScreenContext> &context);

private:
    using Self = QPointer<ScreenContextCoordinator>;

    static QCoro::Task<Result<Done, TurnError>> screenPath(Self self, QuestionTurn turn);
    static QCoro::Task<Result<CaptureArtifact, TurnError>> captureFreshTask(Self self, std::stop_token stop);
    static QCoro::Task<std::optional<AccessibilityContext>> collectAccessibilityTask(Self self, CaptureArtifact capture,
                                                                                     std::stop_token stop);
    static QCoro::Task<std::optional<AccessibilityContext>> preparedAccessibilityTask(Self self,
                                                                                      CaptureArtifact capture,
                                                                                      std::stop_token stop);
    static QCoro::Task<std::optional<PreparedScreenContext>> preparedVisionTask(Self self, CaptureArtifact capture,
                                                                               std::stop_token stop);
    static QCoro::Task<void> warmAccessibilityTask(Self self, std::shared_ptr<WarmUp<AccessibilityContext>> warm,
                                                   CaptureArtifact capture);
    static QCoro::Task<void> warmVisionTask(Self self, std::shared_ptr<WarmUp<PreparedScreenContext>> warm,
                                            int generation, CaptureArtifact capture);
    static QCoro::Task<void> warmPageTask(Self self, QString pageURL, std::stop_token stop);
    static QCoro::Task<Result<Done, TurnError>> captureOnlySteps(Self self, TaskSlot::Ticket ticket);
    static QCoro::Task<void> runCaptureOnly(Self self, TaskSlot::Ticket ticket);
    // The coordinator, when the turn with `ticket` is still the running one.
    static ScreenContextCoordinator *resumeTurn(const Self &self, const TaskSlot::Ticket &ticket);

    void applyCapture(const CaptureArtifact &capture, std::optional<QByteArray> preparedJPEG);
    void prepareAccessibilityContext(const CaptureArtifact &capture);
    void prepareVisionContext(const CaptureArtifact &capture);
    // `capture` is still the latest one (same capture date).
    bool isLatestCapture(const CaptureArtifact &capture) const;

    OverlayViewModel &m_model;
    Services m_services;

    std::optional<CaptureArtifact> m_latestCapture;
    std::optional<QByteArray> m_latestCaptureJPEG;
    std::optional<QDateTime> m_latestCaptureAt;
    std::optional<AccessibilityContext> m_latestAccessibilityContext;
    std::optional<QDateTime> m_latestAccessibilityCaptureAt;
    std::shared_ptr<WarmUp<AccessibilityContext>> m_warmAccessibilityContextTask;
    std::optional<QDateTime> m_warmAccessibilityCaptureAt;
    std::optional<PreparedScreenContext> m_preparedScreenContext;
    std::optional<QDateTime> m_preparedScreenCaptureAt;
    std::shared_ptr<WarmUp<PreparedScreenContext>> m_warmVisionContextTask;
    std::optional<QDateTime> m_warmVisionContextCaptureAt;
    int m_visionContextGeneration = 0;
    // Page warm-ups run on their own; they stop with the coordinator.
    std::stop_source m_pageWarmUps;
};

} // namespace nimbel
