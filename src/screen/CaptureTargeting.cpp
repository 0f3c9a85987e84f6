#include "screen/CaptureTargeting.h"

#include "screen/FrontmostWindowSelector.h"

namespace nimbel {

namespace {
bool contains(const QRectF &rect, QPointF point)
{
    return point.x() >= rect.left() && point.x() < rect.left() + rect.width()
        && point.y() >= rect.top() && point.y() < rect.top() + rect.height();
}
} // namespace

std::optional<DisplayScreen> screenContaining(QPointF point, const QList<DisplayScreen> &screens)
{
    for (const DisplayScreen &screen : screens) {
        if (contains(screen.frame, point))
            return screen;
    }
    return std::nullopt;
}

std::optional<DisplayScreen> screenUnderPointer(QPointF pointer, const QList<DisplayScreen> &screens)
{
    if (auto screen = screenContaining(pointer, screens))
        return screen;
    if (screens.isEmpty())
        return std::nullopt;
    return screens.first();
}

std::optional<WindowTarget> chooseWindowTarget(const std::optional<RunningApplication> &application,
                                               const QList<ShareableWindow> &windows,
                                               const QList<WindowListEntry> &frontToBack,
                                               const QList<DisplayScreen> &screens)
{
    if (!application || !application->bundleIdentifier)
        return std::nullopt;

    QList<ShareableWindow> candidates;
    for (const ShareableWindow &window : windows) {
        if (window.onScreen && window.bundleIdentifier == application->bundleIdentifier
            && window.frame.width() >= minimumWindowWidth && window.frame.height() >= minimumWindowHeight)
            candidates.append(window);
    }
    if (candidates.isEmpty())
        return std::nullopt;

    QList<quint32> ordered;
    for (const WindowListEntry &entry : frontToBack) {
        if (!entry.processIdentifier || !entry.layer || !application->processIdentifier)
            continue;
        if (*entry.processIdentifier == *application->processIdentifier && *entry.layer == 0)
            ordered.append(entry.id);
    }
    QList<quint32> candidateIDs;
    for (const ShareableWindow &candidate : candidates)
        candidateIDs.append(candidate.id);

    const ShareableWindow *target = nullptr;
    if (const auto selected = FrontmostWindowSelector::select(candidateIDs, ordered)) {
        for (const ShareableWindow &candidate : candidates) {
            if (candidate.id == *selected) {
                target = &candidate;
                break;
            }
        }
    } else {
        for (const ShareableWindow &candidate : candidates) {
            const double area = candidate.frame.width() * candidate.frame.height();
            if (!target || area > target->frame.width() * target->frame.height())
                target = &candidate;
        }
    }

    const double scale = [&] {
        if (const auto screen = screenContaining(target->frame.center(), screens))
            return screen->scale;
        return offScreenScale;
    }();
    return WindowTarget{*target, scale,
                        CapturePixelSize::fitted(target->frame.width(), target->frame.height(), scale,
                                                 maximumCaptureDimension)};
}

} // namespace nimbel
