#include "app/PanelGeometry.h"

#include <algorithm>
#include <cmath>

namespace nimbel::panel {

bool Rect::intersects(const Rect &other) const
{
    if (isEmpty() || other.isEmpty())
        return false;
    return minX() < other.maxX() && other.minX() < maxX() && minY() < other.maxY() && other.minY() < maxY();
}

Rect Rect::united(const Rect &other) const
{
    if (isEmpty())
        return other;
    if (other.isEmpty())
        return *this;
    const double left = std::min(minX(), other.minX());
    const double bottom = std::min(minY(), other.minY());
    const double right = std::max(maxX(), other.maxX());
    const double top = std::max(maxY(), other.maxY());
    return {left, bottom, right - left, top - bottom};
}

const ScreenArea *ScreenLayout::mainScreen() const
{
    if (mainIndex >= 0 && mainIndex < screens.size())
        return &screens[mainIndex];
    return nullptr;
}

Point constrainedLauncherAnchor(Point anchor, const ScreenLayout &layout)
{
    const Rect launcher{anchor.x - collapsedSize.width, anchor.y, collapsedSize.width, collapsedSize.height};
    const ScreenArea *screen = nullptr;
    for (const ScreenArea &candidate : layout.screens) {
        if (candidate.frame.intersects(launcher)) {
            screen = &candidate;
            break;
        }
    }
    if (!screen)
        screen = layout.mainScreen();
    if (!screen)
        screen = layout.firstScreen();
    if (!screen)
        return anchor;
    const Rect &v = screen->visibleFrame;
    // Lower bound first, then the upper one, so the upper bound wins when they cross.
    const double x = std::min(std::max(anchor.x, v.minX() + collapsedSize.width + screenMargin), v.maxX() - screenMargin);
    const double y = std::min(std::max(anchor.y, v.minY() + screenMargin),
                              v.maxY() - collapsedSize.height - screenMargin);
    return {x, y};
}

Point initialLauncherAnchor(const SavedPlacement &saved, const ScreenLayout &layout)
{
    Point anchor;
    if (saved.hasLauncherAnchor) {
        anchor = saved.launcherAnchor;
    } else if (saved.hasOrigin) {
        anchor = {saved.origin.x + collapsedSize.width, saved.origin.y};
    } else {
        const ScreenArea *screen = layout.mainScreen();
        if (!screen)
            screen = layout.firstScreen();
        const Rect visible = screen ? screen->visibleFrame : Rect{0, 0, 1440, 900};
        anchor = {visible.maxX() - screenMargin, visible.minY() + screenMargin};
    }
    return constrainedLauncherAnchor(anchor, layout);
}

ChatPlacement preferredPlacement()
{
    return ChatPlacement::above;
}

Rect panelFrame(Point anchor, bool expanded, ChatPlacement placement)
{
    const Size size = expanded ? expandedSize : collapsedSize;
    const double y = placement == ChatPlacement::above ? anchor.y : anchor.y + collapsedSize.height - size.height;
    return {anchor.x - size.width, y, size.width, size.height};
}

Point anchorOfFrame(const Rect &frame, ChatPlacement placement)
{
    if (placement == ChatPlacement::above)
        return {frame.maxX(), frame.minY()};
    return {frame.maxX(), frame.maxY() - collapsedSize.height};
}

Rect constrainedFrame(const Rect &frame, const ScreenLayout &layout)
{
    constexpr double inset = 40;
    constexpr double keepVisible = 30;
    const Rect inner = frame.insetBy(inset);
    if (inner.width <= 0 || inner.height <= 0)
        return frame;
    Rect all;
    for (const ScreenArea &screen : layout.screens)
        all = all.united(screen.visibleFrame);
    if (all.isEmpty())
        return frame;
    Rect result = frame;
    if (inner.minX() > all.maxX() - keepVisible)
        result.x -= inner.minX() - (all.maxX() - keepVisible);
    else if (inner.maxX() < all.minX() + keepVisible)
        result.x += (all.minX() + keepVisible) - inner.maxX();
    if (inner.minY() > all.maxY() - keepVisible)
        result.y -= inner.minY() - (all.maxY() - keepVisible);
    else if (inner.maxY() < all.minY() + keepVisible)
        result.y += (all.minY() + keepVisible) - inner.maxY();
    return result;
}

void LauncherPress::press(Point at, qint64 atMs)
{
    m_initial = at;
    m_pressedAtMs = atMs;
    m_pressed = true;
    m_didDrag = false;
}

bool LauncherPress::move(Point to)
{
    if (!m_pressed || m_didDrag)
        return false;
    if (std::hypot(to.x - m_initial.x, to.y - m_initial.y) < dragThreshold)
        return false;
    m_didDrag = true;
    return true;
}

bool LauncherPress::release(qint64 atMs)
{
    const bool pressTimeMissing = !m_pressed || m_pressedAtMs < 0;
    const bool click = !m_didDrag && (pressTimeMissing || atMs - m_pressedAtMs < clickMaximumMs);
    m_pressed = false;
    m_didDrag = false;
    m_pressedAtMs = -1;
    return click;
}

} // namespace nimbel::panel
