#pragma once

#include "screen/JpegQualityLadder.h"
#include "screen/ScreenImageEncodingPolicy.h"

#include <QByteArray>
#include <QImage>
#include <QThreadPool>

#include <QCoro/QCoroTask>

#include <optional>

namespace nimbel {

// Turns a capture into JPEG bytes small enough to upload: scaled down once to
// the policy's size, then encoded at each quality of its ladder until one fits
// the byte budget. Encoding runs on the encoder's own worker thread, one image
// at a time; the result is handed back to the awaiting (main) thread.
class ScreenImageEncoder
{
public:
    ScreenImageEncoder();
    ScreenImageEncoder(const ScreenImageEncoder &) = delete;
    ScreenImageEncoder &operator=(const ScreenImageEncoder &) = delete;
    ~ScreenImageEncoder();

    // Absent when the image cannot be scaled or no quality could be encoded.
    QCoro::Task<std::optional<QByteArray>> jpegData(QImage image, ScreenImageEncodingPolicy policy);

    // The same work on the calling thread, with the ladder's trace.
    static std::optional<JpegLadderOutcome> encode(const QImage &image,
                                                   const ScreenImageEncodingPolicy &policy);
    // The image at exactly `size` (itself when it already is), smoothly scaled.
    static QImage resized(const QImage &image, CapturePixelSize size);

private:
    QThreadPool m_executor;
};

} // namespace nimbel
