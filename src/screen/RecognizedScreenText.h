#pragma once

#include "core/NormalizedRect.h"

#include <QRect>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

namespace nimbel {

// One recognised line: cleaned text (1 to 240 characters), its box, and the
// recogniser's confidence (0…1).
struct RecognizedScreenText
{
    QString text;
    NormalizedRect rect;
    double confidence = 0;

    bool operator==(const RecognizedScreenText &) const = default;
};

// A recognised line as it may be kept: cleaned, confident enough and not
// sensitive; absent otherwise.
std::optional<RecognizedScreenText> acceptedLine(const QString &text, double confidence, const QRect &box,
                                                 QSize imageSize, double minimumConfidence = 0.3);

// Whether a line would have been kept but for looking like a secret.
bool withheldAsSecret(const QString &text, double confidence, double minimumConfidence = 0.3);

// Reading order: rows top to bottom (lines whose tops differ by at most 0.025
// of the image height share a row), left to right within a row. Stable.
bool readsBefore(const RecognizedScreenText &a, const RecognizedScreenText &b);
std::vector<RecognizedScreenText> inReadingOrder(std::vector<RecognizedScreenText> lines);

} // namespace nimbel
