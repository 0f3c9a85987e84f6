#pragma once

#include <QDateTime>
#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

namespace nimbel {

enum class CaptureKind { window, display };

// "window" / "display".
QString captureKindRawValue(CaptureKind kind);

// What a capture shows and how large it is. Sizes are in logical points (the
// window or screen) and in pixels (the returned image).
struct CaptureMetadata
{
    CaptureKind kind = CaptureKind::window;
    std::optional<QString> applicationName;
    std::optional<QString> bundleIdentifier;
    std::optional<QString> windowTitle;
    double logicalWidth = 0;
    double logicalHeight = 0;
    int pixelWidth = 0;
    int pixelHeight = 0;
    QDateTime capturedAt;

    bool operator==(const CaptureMetadata &) const = default;

    // The wire form: keys in field order, absent optional strings omitted,
    // "captured_at" written by CaptureDateCodec.
    nlohmann::ordered_json toJson() const;
};

} // namespace nimbel
