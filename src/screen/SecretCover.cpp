#include "screen/SecretCover.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace nimbel {

QImage coverWithheldLines(QImage image, const std::vector<NormalizedRect> &lines)
{
    if (lines.empty() || image.isNull())
        return image;
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_RGB32);
    QPainter painter(&image);
    for (const NormalizedRect &line : lines) {
        const QRectF place(line.x * image.width(), line.y * image.height(), line.width * image.width(),
                           line.height * image.height());
        const double margin = std::max(2.0, 0.3 * place.height());
        const QRect covered = place.adjusted(-margin, -margin, margin, margin).toAlignedRect();
        painter.fillRect(covered.intersected(image.rect()), Qt::black);
    }
    return image;
}

} // namespace nimbel
