#include "core/NormalizedRect.h"

namespace nimbel {

NormalizedRect NormalizedRect::fromPixels(const QRect &pixels, QSize imageSize)
{
    if (imageSize.isEmpty())
        return {};
    const QRect inside = pixels.intersected(QRect(QPoint(0, 0), imageSize));
    if (inside.isEmpty())
        return {};
    const double w = imageSize.width();
    const double h = imageSize.height();
    return {inside.x() / w, inside.y() / h, inside.width() / w, inside.height() / h};
}

nlohmann::ordered_json NormalizedRect::toJson() const
{
    nlohmann::ordered_json json;
    json["x"] = x;
    json["y"] = y;
    json["width"] = width;
    json["height"] = height;
    return json;
}

NormalizedRect NormalizedRect::fromJson(const nlohmann::ordered_json &json)
{
    return {json.at("x").get<double>(), json.at("y").get<double>(), json.at("width").get<double>(),
            json.at("height").get<double>()};
}

} // namespace nimbel
