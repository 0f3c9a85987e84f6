#pragma once

#include "app/HighlightGeometry.h"
#include "core/Clock.h"
#include "core/TaskSlot.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRectF>

#include <QCoro/QCoroTask>

#include <optional>

namespace nimbel {

class ElementLocator;
class WindowWatch;

// The window the ring is drawn in, on top of everything, letting every click through.
class HighlightSurface
{
public:
    virtual ~HighlightSurface() = default;
    // Shows the ring around `target` (surface units) with the step's number,
    // or moves it there when it shows already.
    virtual void show(const QRect &target, int number) = 0;
    virtual void hide() = 0;
    // Screen pixels per surface unit.
    virtual double scale() const = 0;
};

// What to point out, and on which window.
struct HighlightRequest
{
    quint32 window = 0;
    QRectF capturedFrame; // the window's frame when the screenshot was taken
    highlight::Target target;
    // The window's process; with it the control is looked up by its label in
    // the accessibility tree, whose extents are exact and follow scrolling.
    std::optional<qint64> processIdentifier;
};

// Decides when the ring shows, where, and when it goes: it shows while the
// window is on screen and nothing else covers the spot, follows the window
// (and the control, when the accessibility tree knows it) and goes for good
// when the window closes, is minimised or covered, when dismissed, and once
// it has shown for `lifetime`.
class HighlightController final : public QObject
{
    Q_OBJECT
public:
    static constexpr Milliseconds lifetime{8000};
    static constexpr Milliseconds pollInterval{100};
    static constexpr Milliseconds elementRefresh{500};

    // `locator` may be absent: the screenshot's rectangle is then all there is.
    HighlightController(Clock &clock, WindowWatch &watch, HighlightSurface &surface, ElementLocator *locator,
                        QObject *parent = nullptr);
    ~HighlightController() override;

    // Replaces whatever shows.
    void present(HighlightRequest request);
    void dismiss();
    bool isShowing() const { return m_showing; }

signals:
    void showingChanged(bool showing);

private:
    static QCoro::Task<void> follow(QPointer<HighlightController> self, HighlightRequest request,
                                    TaskSlot::Ticket ticket);
    void setShowing(bool showing);

    Clock &m_clock;
    WindowWatch &m_watch;
    HighlightSurface &m_surface;
    ElementLocator *m_locator;
    TaskSlot m_task;
    bool m_showing = false;
};

} // namespace nimbel
