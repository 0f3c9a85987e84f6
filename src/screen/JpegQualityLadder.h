#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace nimbel {

// The outcome of trying JPEG qualities in order against a byte budget.
struct JpegLadderOutcome
{
    QByteArray jpeg;
    double quality = 0; // the clamped quality that produced `jpeg`
    bool withinBudget = false;
    // Every quality tried (clamped), in order, with its encoded size; -1 when
    // that encoding failed.
    QList<std::pair<double, qint64>> attempts;
};

// Tries each quality (clamped to 0.1...1.0) in order and returns the first
// encoding within `maximumBytes`. When all overshoot, the last successful
// encoding is returned anyway; when none could be made, nothing.
std::optional<JpegLadderOutcome>
runJpegQualityLadder(const QList<double> &qualities, qint64 maximumBytes,
                     const std::function<std::optional<QByteArray>(double quality)> &encode);

} // namespace nimbel
