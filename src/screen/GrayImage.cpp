#include "screen/GrayImage.h"

#include <cstring>

namespace nimbel {

GrayImage GrayImage::fromImage(const QImage &image)
{
    GrayImage gray;
    if (image.isNull())
        return gray;
    const QImage rgb = (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
        ? image
        : image.convertToFormat(QImage::Format_RGB32);
    gray.width = rgb.width();
    gray.height = rgb.height();
    gray.pixels.resize(static_cast<std::size_t>(gray.width) * gray.height);
    for (int y = 0; y < gray.height; ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        std::uint8_t *out = gray.pixels.data() + static_cast<std::size_t>(y) * gray.width;
        for (int x = 0; x < gray.width; ++x) {
            const QRgb p = in[x];
            out[x] = static_cast<std::uint8_t>((299 * qRed(p) + 587 * qGreen(p) + 114 * qBlue(p) + 500) / 1000);
        }
    }
    return gray;
}

QImage GrayImage::toImage() const
{
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), row(y), static_cast<std::size_t>(width));
    return image;
}

} // namespace nimbel
