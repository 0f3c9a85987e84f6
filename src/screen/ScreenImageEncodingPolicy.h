#pragma once

#include "screen/CapturePixelSize.h"

#include <QList>
#include <QtGlobal>

namespace nimbel {

// How a capture is made small enough to upload: the longest side, the JPEG
// qualities to try in order, and the byte budget.
class ScreenImageEncodingPolicy
{
public:
    int maximumDimension = 0;
    double quality = 0;
    QList<double> fallbackQualities;
    qint64 maximumBytes = 0;

    // Right after a capture, when the upload is prepared ahead of the question.
    static ScreenImageEncodingPolicy detailedVision();
    // For an analysis request that was given no prepared picture.
    static ScreenImageEncodingPolicy vision();

    // Never enlarges; the longer side becomes at most `maximumDimension`.
    CapturePixelSize fittedSize(int sourceWidth, int sourceHeight) const;
    // `quality` followed by the fallback qualities.
    QList<double> qualityLadder() const;

    bool operator==(const ScreenImageEncodingPolicy &) const = default;
};

} // namespace nimbel
