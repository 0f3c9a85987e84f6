#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <vector>

namespace nimbel {

// An 8-bit luminance image: the form every recognition step works on.
struct GrayImage
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // row-major, no padding

    bool isEmpty() const { return width <= 0 || height <= 0; }
    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    const std::uint8_t *row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * width; }

    // Rec. 601 luma of any QImage (alpha ignored).
    static GrayImage fromImage(const QImage &image);
    QImage toImage() const;
};

} // namespace nimbel
