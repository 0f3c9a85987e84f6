#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace nimbel {

// Baseline JPEG through libjpeg-turbo. Quality 0.78 is libjpeg quality 78.
// Alpha is dropped; the image is not scaled. Safe to call from any thread.
std::optional<QByteArray> encodeJpeg(const QImage &image, double quality);

} // namespace nimbel
