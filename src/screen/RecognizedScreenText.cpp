#include "screen/RecognizedScreenText.h"

#include "screen/ScreenTextRules.h"

#include <cmath>

namespace nimbel {

namespace {

constexpr double sameRowTolerance = 0.025;

} // namespace

std::optional<RecognizedScreenText> acceptedLine(const QString &text, double confidence, const QRect &box,
                                                 QSize imageSize, double minimumConfidence)
{
    if (confidence < minimumConfidence)
        return std::nullopt;
    const std::optional<QString> cleaned = sanitized(text);
    if (!cleaned || isSensitive(*cleaned))
        return std::nullopt;
    return RecognizedScreenText{*cleaned, NormalizedRect::fromPixels(box, imageSize), confidence};
}

bool withheldAsSecret(const QString &text, double confidence, double minimumConfidence)
{
    if (confidence < minimumConfidence)
        return false;
    const std::optional<QString> cleaned = sanitized(text);
    return cleaned && isSensitive(*cleaned);
}

bool readsBefore(const RecognizedScreenText &a, const RecognizedScreenText &b)
{
    if (std::abs(a.rect.y - b.rect.y) > sameRowTolerance)
        return a.rect.y < b.rect.y;
    return a.rect.x < b.rect.x;
}

std::vector<RecognizedScreenText> inReadingOrder(std::vector<RecognizedScreenText> lines)
{
    // "Same row" is not transitive (0.100 ~ 0.120 ~ 0.140, yet 0.100 < 0.140),
    // so this is no strict weak ordering and std::stable_sort may not be given
    // it. A guarded insertion sort is stable, never leaves the range, and a
    // screen holds a few hundred lines at most.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        RecognizedScreenText moving = std::move(lines[i]);
        std::size_t j = i;
        while (j > 0 && readsBefore(moving, lines[j - 1])) {
            lines[j] = std::move(lines[j - 1]);
            --j;
        }
        lines[j] = std::move(moving);
    }
    return lines;
}

} // namespace nimbel
