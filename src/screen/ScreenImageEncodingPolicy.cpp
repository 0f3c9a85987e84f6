#include "screen/ScreenImageEncodingPolicy.h"

namespace nimbel {

ScreenImageEncodingPolicy ScreenImageEncodingPolicy::detailedVision()
{
    return {1600, 0.78, {0.70, 0.62, 0.54}, 380000};
}

ScreenImageEncodingPolicy ScreenImageEncodingPolicy::vision()
{
    return {1440, 0.72, {0.62, 0.52, 0.44}, 240000};
}

CapturePixelSize ScreenImageEncodingPolicy::fittedSize(int sourceWidth, int sourceHeight) const
{
    return CapturePixelSize::shrunk(sourceWidth, sourceHeight, maximumDimension);
}

QList<double> ScreenImageEncodingPolicy::qualityLadder() const
{
    QList<double> ladder{quality};
    ladder.append(fallbackQualities);
    return ladder;
}

} // namespace nimbel
