#pragma once

#include <QList>

namespace nimbel::panel {

// Every function here works in desktop space: origin at the bottom-left corner
// of the primary screen, y growing upwards, units of logical pixels. Qt's
// top-left, y-down coordinates are converted in ScreenSpace only.

struct Point
{
    double x = 0;
    double y = 0;
    bool operator==(const Point &) const = default;
};

struct Size
{
    double width = 0;
    double height = 0;
    bool operator==(const Size &) const = default;
};

struct Rect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double maxX() const { return x + width; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    bool isEmpty() const { return width <= 0 || height <= 0; }
    // True when the two overlap with a positive area (touching edges do not count).
    bool intersects(const Rect &other) const;
    Rect united(const Rect &other) const;
    Rect insetBy(double amount) const { return {x + amount, y + amount, width - 2 * amount, height - 2 * amount}; }
    bool operator==(const Rect &) const = default;
};

struct ScreenArea
{
    Rect frame;
    Rect visibleFrame; // without panels and docks
};

// The screens in the desktop's order, and which of them is the main one.
struct ScreenLayout
{
    QList<ScreenArea> screens;
    qsizetype mainIndex = 0;

    const ScreenArea *mainScreen() const;
    const ScreenArea *firstScreen() const { return screens.isEmpty() ? nullptr : &screens.first(); }
};

enum class ChatPlacement { above, below };

inline constexpr Size collapsedSize{196, 188};
inline constexpr Size expandedSize{488, 670};
inline constexpr double screenMargin = 20;
// The launcher's press becomes a drag this far from where it went down.
inline constexpr double dragThreshold = 3;
// A press held this long is not a click any more (milliseconds).
inline constexpr qint64 clickMaximumMs = 600;

// What the preferences remember of the launcher's place (new keys and the older origin keys).
struct SavedPlacement
{
    bool hasLauncherAnchor = false;
    Point launcherAnchor;
    bool hasOrigin = false;
    Point origin; // the launcher's bottom-left corner, written by older versions
};

// Keeps the launcher (whose bottom-right corner is `anchor`) fully inside the
// visible area of the screen it is on, 20 points from every edge.
Point constrainedLauncherAnchor(Point anchor, const ScreenLayout &layout);

// The anchor at launch: saved (new keys first, then older origin keys), else
// 20 points in from the bottom-right corner of the main screen's visible
// area; clamped with constrainedLauncherAnchor.
Point initialLauncherAnchor(const SavedPlacement &saved, const ScreenLayout &layout);

ChatPlacement preferredPlacement();

// The panel grows to the left and upwards (or downwards, when below) from the anchor.
Rect panelFrame(Point anchor, bool expanded, ChatPlacement placement);

// The anchor a moved panel stands for.
Point anchorOfFrame(const Rect &frame, ChatPlacement placement);

// The panel may leave the screens only partly: at least 30 points of its
// 40-point-inset inner area stay inside the union of the visible areas.
Rect constrainedFrame(const Rect &frame, const ScreenLayout &layout);

// The launcher's click-versus-drag rule for one press.
class LauncherPress
{
public:
    void press(Point at, qint64 atMs);
    // True exactly once per press: when the pointer first reaches the drag
    // threshold, which is when the window drag must start.
    bool move(Point to);
    // Ends the press; true when it was a click (no drag, shorter than 600 ms,
    // or no recorded press time at all).
    bool release(qint64 atMs);
    bool didDrag() const { return m_didDrag; }

private:
    Point m_initial;
    qint64 m_pressedAtMs = -1;
    bool m_pressed = false;
    bool m_didDrag = false;
};

} // namespace nimbel::panel
