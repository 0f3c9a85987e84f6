#include "screen/CaptureMetadata.h"

#include "screen/CaptureDateCodec.h"

#include <cstdint>
#include <limits>

namespace nimbel {

QString captureKindRawValue(CaptureKind kind)
{
    return kind == CaptureKind::window ? QStringLiteral("window") : QStringLiteral("display");
}

std::optional<CaptureKind> captureKindFromRawValue(QStringView raw)
{
    if (raw == u"window")
        return CaptureKind::window;
    if (raw == u"display")
        return CaptureKind::display;
    return std::nullopt;
}

namespace {
std::string utf8(const QString &text)
{
    return text.toStdString();
}

// A missing key and an explicit null both read as absent; any other
// non-string value makes the whole record unreadable.
bool readOptionalString(const nlohmann::ordered_json &json, const char *key,
                        std::optional<QString> &out)
{
    const auto it = json.find(key);
    if (it == json.end() || it->is_null())
        return true;
    if (!it->is_string())
        return false;
    out = QString::fromStdString(it->get<std::string>());
    return true;
}

std::optional<double> readNumber(const nlohmann::ordered_json &json, const char *key)
{
    const auto it = json.find(key);
    if (it == json.end() || !it->is_number())
        return std::nullopt;
    return it->get<double>();
}

std::optional<int> readInteger(const nlohmann::ordered_json &json, const char *key)
{
    const auto it = json.find(key);
    if (it == json.end() || !it->is_number_integer())
        return std::nullopt;
    const auto value = it->get<std::int64_t>();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}
} // namespace

nlohmann::ordered_json CaptureMetadata::toJson() const
{
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["kind"] = utf8(captureKindRawValue(kind));
    if (applicationName)
        json["application_name"] = utf8(*applicationName);
    if (bundleIdentifier)
        json["bundle_identifier"] = utf8(*bundleIdentifier);
    if (windowTitle)
        json["window_title"] = utf8(*windowTitle);
    json["logical_width"] = logicalWidth;
    json["logical_height"] = logicalHeight;
    json["pixel_width"] = pixelWidth;
    json["pixel_height"] = pixelHeight;
    json["captured_at"] = utf8(CaptureDateCodec::encode(capturedAt));
    return json;
}

std::optional<CaptureMetadata> CaptureMetadata::fromJson(const nlohmann::ordered_json &json)
{
    if (!json.is_object())
        return std::nullopt;
    CaptureMetadata metadata;

    const auto kind = json.find("kind");
    if (kind == json.end() || !kind->is_string())
        return std::nullopt;
    const auto parsedKind = captureKindFromRawValue(QString::fromStdString(kind->get<std::string>()));
    if (!parsedKind)
        return std::nullopt;
    metadata.kind = *parsedKind;

    if (!readOptionalString(json, "application_name", metadata.applicationName)
        || !readOptionalString(json, "bundle_identifier", metadata.bundleIdentifier)
        || !readOptionalString(json, "window_title", metadata.windowTitle))
        return std::nullopt;

    const auto logicalWidth = readNumber(json, "logical_width");
    const auto logicalHeight = readNumber(json, "logical_height");
    const auto pixelWidth = readInteger(json, "pixel_width");
    const auto pixelHeight = readInteger(json, "pixel_height");
    if (!logicalWidth || !logicalHeight || !pixelWidth || !pixelHeight)
        return std::nullopt;
    metadata.logicalWidth = *logicalWidth;
    metadata.logicalHeight = *logicalHeight;
    metadata.pixelWidth = *pixelWidth;
    metadata.pixelHeight = *pixelHeight;

    const auto capturedAt = json.find("captured_at");
    if (capturedAt == json.end() || !capturedAt->is_string())
        return std::nullopt;
    const auto date = CaptureDateCodec::decode(QString::fromStdString(capturedAt->get<std::string>()));
    if (!date)
        return std::nullopt;
    metadata.capturedAt = *date;
    return metadata;
}

} // namespace nimbel
