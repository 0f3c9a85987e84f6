#include "screen/JpegQualityLadder.h"

#include <algorithm>

namespace nimbel {

std::optional<JpegLadderOutcome>
runJpegQualityLadder(const QList<double> &qualities, qint64 maximumBytes,
                     const std::function<std::optional<QByteArray>(double quality)> &encode)
{
    std::optional<JpegLadderOutcome> last;
    QList<std::pair<double, qint64>> attempts;
    for (const double requested : qualities) {
        const double quality = std::clamp(requested, 0.1, 1.0);
        auto encoded = encode(quality);
        attempts.append({quality, encoded ? encoded->size() : -1});
        if (!encoded)
            continue; // an earlier good result stays the fallback
        const bool fits = encoded->size() <= maximumBytes;
        last = JpegLadderOutcome{std::move(*encoded), quality, fits, {}};
        if (fits)
            break;
    }
    if (last)
        last->attempts = std::move(attempts);
    return last;
}

} // namespace nimbel
