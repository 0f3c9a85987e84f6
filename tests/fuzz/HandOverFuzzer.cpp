// Anything of this user's may write to the single-instance socket. The decoder
// accepts only a hand-over message, yields links without line breaks, and
// reads back exactly what a later launch wrote.

#include "FuzzCheck.h"
#include "app/HandOverMessage.h"

using namespace nimbel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto links = handOverMessage::decode(input)) {
        for (const QString &link : *links)
            check(!link.isEmpty() && !link.contains(u'\n'));
        check(handOverMessage::decode(handOverMessage::encode(*links)) == links);
    }

    // The input read as links (one per NUL-separated piece) survives the trip.
    QStringList links;
    for (const QByteArray &piece : input.toByteArray().split('\0'))
        links << QString::fromUtf8(piece);
    const QByteArray message = handOverMessage::encode(links);
    const auto decoded = handOverMessage::decode(message);
    if (message.size() > handOverMessage::maximumBytes) {
        check(!decoded);
        return 0;
    }
    check(decoded.has_value());
    QStringList expected;
    for (QString link : links) {
        link.remove(u'\n').remove(u'\r');
        if (!link.isEmpty())
            expected << link;
    }
    check(*decoded == expected);
    return 0;
}
