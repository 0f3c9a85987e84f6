#pragma once

#include "screen/AccessibilityContext.h"
#include "screen/PreparedScreenContext.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

namespace nimbel {

// What left the device for one screen question, kept with the question's
// message so the owner can see it: the picture exactly as uploaded, and the
// records the request's JSON part was written from. Held in memory only; it
// goes when its message goes.
struct SentScreenContext
{
    QByteArray jpeg;  // the image part, byte for byte
    QSize pixelSize;  // of that JPEG, read from its header
    // The prepared screen context, when it went with the request (a context
    // of another capture is left out of it, and so out of here).
    std::optional<PreparedScreenContext> prepared;
    std::optional<AccessibilityContext> accessibility;

    bool operator==(const SentScreenContext &) const = default;

    // The page address as sent (the accessibility summary's), if any.
    std::optional<QString> pageAddress() const;
    // How many recognised lines were withheld as secrets; the number only.
    int withheldLines() const { return prepared ? int(prepared->withheldLines.size()) : 0; }
    // Lower-case hexadecimal SHA-256 of the JPEG, for comparing it elsewhere.
    QString jpegDigest() const;

    // The record of a request with this picture and these contexts;
    // `prepared` is kept only when `sendsPrepared` (the request's own rule).
    static SentScreenContext of(QByteArray jpeg, std::optional<AccessibilityContext> accessibility,
                                std::optional<PreparedScreenContext> prepared, bool sendsPrepared);
};

} // namespace nimbel
