#include "screen/linux/X11ScreenCaptureService.h"

#include "screen/CaptureTargeting.h"
#include "screen/linux/X11Connection.h"
#include "screen/linux/X11Scene.h"
#include "screen/linux/X11ScreenGrabber.h"

#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

namespace nimbel {

namespace {
// Images smaller than this in either direction count as empty.
constexpr int minimumImageSide = 2;

QImage atSize(QImage image, CapturePixelSize size)
{
    if (image.width() == size.width() && image.height() == size.height())
        return image;
    return image.scaled(size.width(), size.height(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool tooSmall(const QImage &image)
{
    return image.isNull() || image.width() < minimumImageSide || image.height() < minimumImageSide;
}
} // namespace

X11ScreenCaptureService::X11ScreenCaptureService(const FrontmostAppTracker &appTracker, ScreenCaptureAccess &access,
                                                 Clock &clock, AssistantIdentity self,
                                                 std::shared_ptr<DesktopEntryIndex> entries)
    : m_appTracker(appTracker)
    , m_permission(access)
    , m_clock(clock)
    , m_self(std::move(self))
    , m_entries(std::move(entries))
{
    m_worker.setMaxThreadCount(1);
    m_worker.setObjectName(QStringLiteral("ScreenCapture"));
}

X11ScreenCaptureService::~X11ScreenCaptureService()
{
    m_worker.waitForDone();
}

std::optional<ScreenCaptureError> X11ScreenCaptureService::requestPermissionForOnboarding()
{
    return m_permission.check();
}

QCoro::Task<CaptureResult> X11ScreenCaptureService::captureCurrentContext()
{
    if (const auto denied = m_permission.check())
        co_return CaptureError(*denied);

    // Everything the coroutine needs after the await is copied out first, so
    // that it never reaches back into a service that may be gone by then.
    Clock *clock = &m_clock;
    // Awaited as a named local: GCC 12 releases an awaited temporary QFuture twice.
    auto future = QtConcurrent::run(&m_worker, [application = m_appTracker.lastExternalApplication(),
                                                 self = m_self, entries = m_entries] {
        return captureNow(application, self, *entries);
    });
    CaptureResult result = co_await future;
    if (result)
        result->metadata.capturedAt = clock->now();
    co_return result;
}

CaptureResult X11ScreenCaptureService::captureNow(const std::optional<RunningApplication> &application,
                                                  const AssistantIdentity &self, DesktopEntryIndex &entries)
{
    auto opened = X11Connection::open();
    if (!opened)
        return CaptureError(WindowSystemError{opened.error()});
    const std::unique_ptr<X11Connection> connection = std::move(opened).value();

    const X11Scene scene = readScene(*connection, entries, self);
    X11ScreenGrabber grabber(*connection, scene);

    if (const auto target = chooseWindowTarget(application, scene.windows, scene.frontToBack, scene.screens)) {
        auto grabbed = grabber.window(target->window);
        if (!grabbed)
            return CaptureError(WindowSystemError{grabbed.error()});
        if (grabbed.value()) {
            const QImage image = atSize(std::move(*grabbed.value()), target->pixelSize);
            if (tooSmall(image))
                return CaptureError(ScreenCaptureError::emptyImage);
            CaptureMetadata metadata;
            metadata.kind = CaptureKind::window;
            metadata.applicationName = application->localizedName;
            metadata.bundleIdentifier = application->bundleIdentifier;
            metadata.windowTitle = target->window.title;
            metadata.logicalWidth = target->window.frame.width();
            metadata.logicalHeight = target->window.frame.height();
            metadata.pixelWidth = image.width();
            metadata.pixelHeight = image.height();
            const CaptureSource source{target->window.id, target->window.frame, application->processIdentifier};
            return CaptureArtifact{image, metadata, source};
        }
        // No part of the window can be seen: what shows is the display.
    }

    const auto screen = screenUnderPointer(scene.pointer, scene.screens);
    if (!screen)
        return CaptureError(ScreenCaptureError::noShareableContent);
    auto grabbed = grabber.display(screen->frame.toAlignedRect());
    if (!grabbed)
        return CaptureError(WindowSystemError{grabbed.error()});
    const QImage image = atSize(std::move(grabbed).value(),
                                CapturePixelSize::fitted(screen->frame.width(), screen->frame.height(),
                                                         screen->scale, maximumCaptureDimension));
    if (tooSmall(image))
        return CaptureError(ScreenCaptureError::emptyImage);
    CaptureMetadata metadata;
    metadata.kind = CaptureKind::display;
    if (application) {
        metadata.applicationName = application->localizedName;
        metadata.bundleIdentifier = application->bundleIdentifier;
    }
    metadata.logicalWidth = screen->frame.width();
    metadata.logicalHeight = screen->frame.height();
    metadata.pixelWidth = image.width();
    metadata.pixelHeight = image.height();
    return CaptureArtifact{image, metadata, CaptureSource{std::nullopt, screen->frame, std::nullopt}};
}

} // namespace nimbel
