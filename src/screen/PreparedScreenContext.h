#pragma once

#include "core/NormalizedRect.h"

#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

namespace nimbel {

// An accessibility control paired with the recognised text line it shows.
struct PreparedScreenControl
{
    QString label;
    std::optional<QString> role;
    std::optional<QString> state; // "enabled", "disabled" or absent
    std::optional<NormalizedRect> targetRect;

    bool operator==(const PreparedScreenControl &) const = default;

    nlohmann::ordered_json toJson() const;
    static PreparedScreenControl fromJson(const nlohmann::ordered_json &json);
};

// What the device read on one capture, sent beside the picture.
struct PreparedScreenContext
{
    int version = 1;
    QString captureID; // the capture's date in the shared capture date form
    std::optional<QString> product;
    std::optional<QString> page;
    QString screenSummary;
    QStringList visibleText;
    std::vector<PreparedScreenControl> controls;
    QStringList statuses;
    // Where the recognised lines left out as secrets are. Never sent: they are
    // covered in the picture, and the owner sees their number beside what was
    // sent, never the text.
    std::vector<NormalizedRect> withheldLines;

    bool operator==(const PreparedScreenContext &) const = default;

    nlohmann::ordered_json toJson() const;
    // Throws nlohmann::json::exception on a missing required key or a wrong type.
    static PreparedScreenContext fromJson(const nlohmann::ordered_json &json);
};

} // namespace nimbel
