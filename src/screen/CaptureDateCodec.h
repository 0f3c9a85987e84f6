#pragma once

#include <QDateTime>
#include <QString>

namespace nimbel {

// The one date form of captures: ISO 8601 in UTC with milliseconds,
// "2026-12-05T15:09:25.123Z". Capture metadata and the prepared context's
// capture identifier are both written with it, so they always agree.
class CaptureDateCodec
{
public:
    static QString encode(const QDateTime &date);
};

} // namespace nimbel
