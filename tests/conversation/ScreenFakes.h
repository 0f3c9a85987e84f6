#pragma once

#include "conversation/SharedOutcome.h"
#include "screen/AccessibilityContextService.h"
#include "screen/FrontmostAppTracker.h"
#include "screen/ScreenCaptureService.h"

#include <QImage>
#include <QPainter>

#include <memory>

namespace nimbel::test {

// A picture of a small dialog with a line of text and a button, so that the
// on-device reading has something to read.
inline QImage dialogPicture()
{
    QImage image(420, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(22);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(20, 20, 380, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Install updates now"));
    painter.drawRect(QRect(260, 120, 130, 50));
    painter.drawText(QRect(260, 120, 130, 50), Qt::AlignCenter, QStringLiteral("Continue"));
    return image;
}

// Captures whose answers the test controls. Each capture gets its own date a
// millisecond after the previous one, as real captures never share one.
class FakeScreenCaptureService final : public ScreenCaptureService
{
public:
    using Pending = SharedOutcome<CaptureResult>;

    explicit FakeScreenCaptureService(Clock &clock) : m_clock(clock) {}

    QCoro::Task<CaptureResult> captureCurrentContext() override
    {
        auto call = std::make_shared<Pending>(m_clock);
        calls.append(call);
        if (!hold)
            call->set(next());
        const bool arrived = co_await call->wait({});
        Q_UNUSED(arrived);
        co_return call->value();
    }
    std::optional<ScreenCaptureError> requestPermissionForOnboarding() override { return std::nullopt; }

    // The next capture's answer: `error` when set, else a fresh artifact.
    CaptureResult next()
    {
        if (error)
            return CaptureResult(*error);
        CaptureArtifact artifact;
        artifact.image = dialogPicture();
        artifact.metadata.applicationName = QStringLiteral("Installer");
        artifact.metadata.bundleIdentifier = QStringLiteral("org.example.Installer");
        artifact.metadata.windowTitle = QStringLiteral("Setup");
        artifact.metadata.logicalWidth = artifact.image.width();
        artifact.metadata.logicalHeight = artifact.image.height();
        artifact.metadata.pixelWidth = artifact.image.width();
        artifact.metadata.pixelHeight = artifact.image.height();
        artifact.metadata.capturedAt = m_clock.now().addMSecs(++m_count);
        return artifact;
    }

    bool hold = false;
    std::optional<CaptureError> error;
    QList<std::shared_ptr<Pending>> calls;

private:
    Clock &m_clock;
    int m_count = 0;
};

class FakeAppTracker final : public FrontmostAppTracker
{
public:
    std::optional<RunningApplication> lastExternalApplication() const override { return application; }
    std::optional<RunningApplication> application = RunningApplication{
        QStringLiteral("org.example.Installer"), QStringLiteral("Installer"), qint64(4242), false};
};

// Answers each walk with `context`, at once or when the test releases it.
class FakeAccessibilityService final : public AccessibilityContextService
{
public:
    struct Call
    {
        explicit Call(Clock &clock) : outcome(clock) {}
        std::stop_token stop;
        SharedOutcome<std::optional<AccessibilityContext>> outcome;
        void answer(std::optional<AccessibilityContext> value) { outcome.set(std::move(value)); }
    };

    explicit FakeAccessibilityService(Clock &clock) : m_clock(clock) {}

    QCoro::Task<std::optional<AccessibilityContext>> collect(qint32, std::optional<QString>, std::optional<QString>,
                                                             std::stop_token stop) override
    {
        auto call = std::make_shared<Call>(m_clock);
        call->stop = stop;
        calls.append(call);
        if (!hold)
            call->answer(context);
        const bool arrived = co_await call->outcome.wait(stop);
        if (!arrived)
            co_return std::nullopt;
        co_return call->outcome.value();
    }
    bool isProcessTrusted() override { return true; }
    bool promptForTrust() override { return true; }

    bool hold = false;
    std::optional<AccessibilityContext> context;
    QList<std::shared_ptr<Call>> calls;

private:
    Clock &m_clock;
};

} // namespace nimbel::test
