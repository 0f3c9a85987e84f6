#pragma once

#include "screen/CaptureMetadata.h"

#include <QImage>
#include <QRectF>

#include <optional>

namespace nimbel {

// Where a capture came from on this desktop: the window (absent for a display
// capture), the frame the picture covers in screen coordinates and the owning
// process. Never sent anywhere; it lets an answer be pointed out on the screen.
struct CaptureSource
{
    std::optional<quint32> window;
    QRectF frame; // logical points, top-left origin
    std::optional<qint64> processIdentifier;

    bool operator==(const CaptureSource &) const = default;
};

// One captured picture and what it shows. QImage is implicitly shared, so
// copies of an artifact share the pixels; nobody writes to them after capture.
struct CaptureArtifact
{
    QImage image;
    CaptureMetadata metadata;
    std::optional<CaptureSource> source;
};

} // namespace nimbel
