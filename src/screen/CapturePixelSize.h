#pragma once

namespace nimbel {

// Pixel dimensions of a capture, each at least 1. Built only by `fitted`.
class CapturePixelSize
{
public:
    // Scales logical dimensions by `scale` (only when it is at least 1), then
    // shrinks them, never enlarges, so that the longer side is at most
    // `maximumDimension`. Rounding is to nearest, halves away from zero.
    static CapturePixelSize fitted(double logicalWidth, double logicalHeight, double scale,
                                   double maximumDimension);

    int width() const { return m_width; }
    int height() const { return m_height; }

    bool operator==(const CapturePixelSize &) const = default;

private:
    friend class ScreenImageEncodingPolicy;
    CapturePixelSize(int width, int height)
        : m_width(width)
        , m_height(height)
    {
    }
    // The shrinking step shared with the encoder's sizing.
    static CapturePixelSize shrunk(double width, double height, double maximumDimension);

    int m_width;
    int m_height;
};

} // namespace nimbel
