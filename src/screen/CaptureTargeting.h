#pragma once

#include "screen/CapturePixelSize.h"
#include "screen/RunningApplication.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

namespace nimbel {

// A window the capture service could capture, in the service's own order.
struct ShareableWindow
{
    quint32 id = 0;
    QRectF frame; // logical points, top-left origin
    std::optional<QString> title;
    bool onScreen = false;
    std::optional<QString> bundleIdentifier;
};

// One entry of the window server's front-to-back list; values it could not
// tell are absent.
struct WindowListEntry
{
    quint32 id = 0;
    std::optional<qint64> processIdentifier;
    std::optional<int> layer; // 0 for ordinary application windows
};

struct DisplayScreen
{
    QRectF frame; // logical points
    double scale = 1; // pixels per point
};

// The window to capture and the image size to capture it at.
struct WindowTarget
{
    ShareableWindow window;
    double scale = 1;
    CapturePixelSize pixelSize;
};

// The largest side of a capture in pixels.
inline constexpr double maximumCaptureDimension = 2048;
// Windows smaller than this (points, inclusive) are never captured.
inline constexpr double minimumWindowWidth = 180;
inline constexpr double minimumWindowHeight = 120;
// The scale assumed for a window that lies on no screen.
inline constexpr double offScreenScale = 2.0;

// The choice of window for `application`: its on-screen windows of at least
// the minimum size; the frontmost of them by the window server's list, else
// the largest (the earlier on equal areas). Absent when the application has
// no bundle identifier or no such window.
std::optional<WindowTarget> chooseWindowTarget(const std::optional<RunningApplication> &application,
                                               const QList<ShareableWindow> &windows,
                                               const QList<WindowListEntry> &frontToBack,
                                               const QList<DisplayScreen> &screens);

// The first screen containing `point` (half-open rectangles).
std::optional<DisplayScreen> screenContaining(QPointF point, const QList<DisplayScreen> &screens);

// The screen under the pointer, else the main screen (the first); absent
// when there is no screen at all.
std::optional<DisplayScreen> screenUnderPointer(QPointF pointer, const QList<DisplayScreen> &screens);

} // namespace nimbel
