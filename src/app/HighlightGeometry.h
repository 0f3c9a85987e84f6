#pragma once

#include "core/NormalizedRect.h"
#include "gateway/NavigationResponse.h"
#include "screen/PreparedScreenContext.h"

#include <QRect>
#include <QRectF>
#include <QString>

#include <optional>

namespace nimbel::highlight {

// What an answer points at on its screenshot: a step's number, its rectangle
// (fractions of the screenshot) and the label of the control, each as far as known.
struct Target
{
    int number = 1;
    std::optional<NormalizedRect> rect;
    std::optional<QString> label;

    bool operator==(const Target &) const = default;
};

// The first step that points at something: its own rectangle, else the
// rectangle the prepared context read for the control of that label. A step
// with only a label is still a target (the accessibility tree may know the
// control). Absent when no step points anywhere.
std::optional<Target> targetOf(const NavigationResponse &answer, const std::optional<PreparedScreenContext> &context);

// Whether a control's label names the target label: equal once case, runs of
// white space, mnemonic markers and a trailing colon or ellipsis are set aside.
bool sameLabel(const QString &controlLabel, const QString &targetLabel);

// Where a rectangle of the screenshot lies on the screen now: the screenshot
// covers `capturedFrame` (screen pixels, the window as captured, whatever the
// picture's own pixel size), the window's top-left corner is now at `origin`.
// The rectangle is kept inside the frame; absent when nothing of it is left or
// a value is not a number.
std::optional<QRect> onScreen(const NormalizedRect &rect, const QRectF &capturedFrame, QPoint origin);

// A screen rectangle in the units of a surface with `scale` screen pixels per
// unit (covering every pixel it touches).
QRect toSurface(const QRect &screen, double scale);

} // namespace nimbel::highlight
