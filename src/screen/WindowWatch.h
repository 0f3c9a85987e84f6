#pragma once

#include <QRect>
#include <QRegion>
#include <QtGlobal>

namespace nimbel {

// How one window shows on the screen at this moment.
struct WindowSight
{
    enum class State { shown, hidden, gone };

    State state = State::gone;
    QRect frame;        // screen coordinates of its contents (shown or hidden)
    QRegion coveredBy;  // what other applications' windows above it hide of the screen
};

// Looks at a window of another application, on demand, on the main thread.
class WindowWatch
{
public:
    virtual ~WindowWatch() = default;
    // Closed or unknown windows are `gone`; minimised ones and those on
    // another workspace `hidden`.
    virtual WindowSight look(quint32 window) = 0;
};

} // namespace nimbel
