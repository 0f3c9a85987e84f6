#include "screen/ScreenImageEncoder.h"

#include "screen/JpegWriter.h"

#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

namespace nimbel {

ScreenImageEncoder::ScreenImageEncoder()
{
    // One thread: images are encoded strictly one after the other, in order.
    m_executor.setMaxThreadCount(1);
    m_executor.setObjectName(QStringLiteral("ScreenImageEncoder"));
}

ScreenImageEncoder::~ScreenImageEncoder()
{
    m_executor.waitForDone();
}

QImage ScreenImageEncoder::resized(const QImage &image, CapturePixelSize size)
{
    if (image.width() == size.width() && image.height() == size.height())
        return image;
    return image.scaled(size.width(), size.height(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

std::optional<JpegLadderOutcome> ScreenImageEncoder::encode(const QImage &image,
                                                            const ScreenImageEncodingPolicy &policy)
{
    if (image.isNull())
        return std::nullopt;
    const QImage scaled = resized(image, policy.fittedSize(image.width(), image.height()));
    if (scaled.isNull())
        return std::nullopt;
    return runJpegQualityLadder(policy.qualityLadder(), policy.maximumBytes,
                                [&scaled](double quality) { return encodeJpeg(scaled, quality); });
}

QCoro::Task<std::optional<QByteArray>> ScreenImageEncoder::jpegData(QImage image,
                                                                   ScreenImageEncodingPolicy policy)
{
    // The future is a named local: GCC 12 mishandles a temporary QFuture
    // awaited in place (it is released twice).
    auto future = QtConcurrent::run(&m_executor, [image = std::move(image), policy = std::move(policy)] {
        return encode(image, policy);
    });
    auto outcome = co_await future;
    if (!outcome)
        co_return std::nullopt;
    co_return std::move(outcome->jpeg);
}

} // namespace nimbel
