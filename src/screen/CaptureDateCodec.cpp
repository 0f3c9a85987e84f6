#include "screen/CaptureDateCodec.h"

#include <QRegularExpression>

namespace nimbel {

QString CaptureDateCodec::encode(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
}

std::optional<QDateTime> CaptureDateCodec::decode(QStringView text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.(\d{1,9})Z$)"));
    const auto match = form.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&](int group) { return match.capturedView(group).toInt(); };
    const QDate day(number(1), number(2), number(3));
    // Fractions are read as a decimal fraction: ".5" is 500 ms, ".123456" is 123 ms.
    const QString fraction = match.captured(7).leftJustified(3, u'0').left(3);
    const QTime time(number(4), number(5), number(6), fraction.toInt());
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(day, time, Qt::UTC);
}

} // namespace nimbel
