#pragma once

#include "gateway/WireJson.h"
#include "core/NormalizedRect.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace nimbel {

struct NavigationStep
{
    QString instruction;
    std::optional<QString> targetLabel;
    std::optional<NormalizedRect> targetRect;

    // For lists: the instruction followed directly by the label.
    QString identity() const { return instruction + targetLabel.value_or(QString()); }

    wire::OrderedJson toJson() const;
    bool operator==(const NavigationStep &) const = default;
};

// The answer of the screen-analysis endpoint.
struct NavigationResponse
{
    static constexpr double defaultConfidence = 0.75;

    QString summary;
    QList<NavigationStep> steps;
    double confidence = defaultConfidence;
    bool needsFreshCapture = false;
    std::optional<QString> safetyNote;
    QStringList screenFacts;

    // Nullopt for anything but an object with a string "summary" whose steps
    // each carry a string "instruction", or with a value of the wrong type.
    // Screen facts are trimmed and blank ones dropped; nothing else is normalised.
    static std::optional<NavigationResponse> decode(QByteArrayView body);
    // Same keys in the same order; "safety_note" only when present.
    wire::OrderedJson toJson() const;

    bool operator==(const NavigationResponse &) const = default;
};

} // namespace nimbel
