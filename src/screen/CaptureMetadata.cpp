#include "screen/CaptureMetadata.h"

#include "screen/CaptureDateCodec.h"

namespace nimbel {

QString captureKindRawValue(CaptureKind kind)
{
    return kind == CaptureKind::window ? QStringLiteral("window") : QStringLiteral("display");
}

namespace {
std::string utf8(const QString &text)
{
    return text.toStdString();
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

} // namespace nimbel
