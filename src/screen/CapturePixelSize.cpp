#include "screen/CapturePixelSize.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace nimbel {

namespace {
double atLeastOne(double value)
{
    // NaN, zero and negative sizes count as the smallest size.
    return value >= 1 ? value : 1.0;
}

int roundedDimension(double value)
{
    const double rounded = std::round(value); // halves away from zero
    if (!(rounded >= 1))
        return 1;
    return rounded >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                      : static_cast<int>(rounded);
}
} // namespace

CapturePixelSize CapturePixelSize::fitted(double logicalWidth, double logicalHeight, double scale,
                                          double maximumDimension)
{
    double width = logicalWidth;
    double height = logicalHeight;
    if (scale >= 1) {
        width *= scale;
        height *= scale;
    }
    return shrunk(width, height, maximumDimension);
}

CapturePixelSize CapturePixelSize::shrunk(double width, double height, double maximumDimension)
{
    width = atLeastOne(width);
    height = atLeastOne(height);
    double ratio = std::min(maximumDimension / std::max(width, height), 1.0);
    if (std::isnan(ratio))
        ratio = 1.0;
    return CapturePixelSize(roundedDimension(width * ratio), roundedDimension(height * ratio));
}

} // namespace nimbel
