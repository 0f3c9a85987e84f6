#pragma once

#include <QRect>
#include <QSize>

#include <nlohmann/json.hpp>

namespace nimbel {

// A rectangle in fractions (0…1) of the captured image, origin at the top-left
// corner, y growing downwards.
struct NormalizedRect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const NormalizedRect &) const = default;

    // `pixels` inside an image of `imageSize`, clamped to the image.
    static NormalizedRect fromPixels(const QRect &pixels, QSize imageSize);

    nlohmann::ordered_json toJson() const;
    // Throws nlohmann::json::exception when a key is missing or not a number.
    static NormalizedRect fromJson(const nlohmann::ordered_json &json);
};

} // namespace nimbel
