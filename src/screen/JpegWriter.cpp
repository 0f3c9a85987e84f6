#include "screen/JpegWriter.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace nimbel {

namespace {
struct HandleCloser
{
    void operator()(void *handle) const { tjDestroy(handle); }
};

// The TurboJPEG pixel format that reads `format` in place, if there is one.
std::optional<int> directPixelFormat(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        // 0xAARRGGBB words: B, G, R, A bytes on little-endian machines.
        return Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return TJPF_RGBX;
    case QImage::Format_RGB888:
        return TJPF_RGB;
    case QImage::Format_Grayscale8:
        return TJPF_GRAY;
    default:
        return std::nullopt;
    }
}
} // namespace

std::optional<QByteArray> encodeJpeg(const QImage &source, double quality)
{
    if (source.isNull())
        return std::nullopt;
    QImage image = source;
    auto pixelFormat = directPixelFormat(image.format());
    if (!pixelFormat) {
        image = source.convertToFormat(QImage::Format_RGB32);
        pixelFormat = directPixelFormat(image.format());
        if (image.isNull() || !pixelFormat)
            return std::nullopt;
    }

    std::unique_ptr<void, HandleCloser> handle(tjInitCompress());
    if (!handle)
        return std::nullopt;
    const int libjpegQuality = std::clamp(static_cast<int>(std::lround(quality * 100)), 1, 100);
    const int subsampling = *pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_420;
    unsigned char *output = nullptr;
    unsigned long outputSize = 0;
    const int status = tjCompress2(handle.get(), image.constBits(), image.width(),
                                   static_cast<int>(image.bytesPerLine()), image.height(), *pixelFormat,
                                   &output, &outputSize, subsampling, libjpegQuality, 0);
    std::unique_ptr<unsigned char, decltype(&tjFree)> owned(output, &tjFree);
    if (status != 0 || !output || outputSize == 0)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(output), static_cast<qsizetype>(outputSize));
}

} // namespace nimbel
