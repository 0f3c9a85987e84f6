#include "app/HandOverMessage.h"

namespace nimbel::handOverMessage {

namespace {
constexpr QByteArrayView greeting("nimbel-activate 1");
} // namespace

QByteArray encode(const QStringList &links)
{
    QByteArray message = greeting.toByteArray() + '\n';
    for (QString link : links) {
        link.remove(u'\n').remove(u'\r');
        message += link.toUtf8() + '\n';
    }
    return message;
}

std::optional<QStringList> decode(QByteArrayView message)
{
    if (message.size() > maximumBytes)
        return std::nullopt;
    const QList<QByteArray> lines = message.toByteArray().split('\n');
    if (lines.first() != greeting)
        return std::nullopt;
    QStringList links;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QString link = QString::fromUtf8(lines[i]).remove(u'\r');
        if (!link.isEmpty())
            links << link;
    }
    return links;
}

} // namespace nimbel::handOverMessage
