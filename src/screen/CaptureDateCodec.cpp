#include "screen/CaptureDateCodec.h"

namespace nimbel {

QString CaptureDateCodec::encode(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
}

} // namespace nimbel
