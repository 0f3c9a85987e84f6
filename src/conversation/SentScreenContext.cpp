#include "conversation/SentScreenContext.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>

namespace nimbel {

std::optional<QString> SentScreenContext::pageAddress() const
{
    return accessibility ? accessibility->pageURL : std::nullopt;
}

QString SentScreenContext::jpegDigest() const
{
    return QString::fromLatin1(QCryptographicHash::hash(jpeg, QCryptographicHash::Sha256).toHex());
}

SentScreenContext SentScreenContext::of(QByteArray jpeg, std::optional<AccessibilityContext> accessibility,
                                        std::optional<PreparedScreenContext> prepared, bool sendsPrepared)
{
    SentScreenContext sent;
    // The header alone gives the size; the picture itself is decoded only when shown.
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::ReadOnly);
    sent.pixelSize = QImageReader(&buffer, "jpeg").size();
    buffer.close();
    sent.jpeg = std::move(jpeg);
    sent.accessibility = std::move(accessibility);
    if (sendsPrepared)
        sent.prepared = std::move(prepared);
    return sent;
}

} // namespace nimbel
