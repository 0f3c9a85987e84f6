// A page address leaves the device only through the address sanitiser: what it
// returns is an http(s) address without credentials, and sanitising it again
// changes nothing. A credential planted in the query, the user part or the
// fragment never survives.

#include "FuzzCheck.h"
#include "screen/AccessibilityContext.h"
#include "screen/SanitizedURL.h"

#include <QUrl>
#include <QUrlQuery>

using namespace nimbel;

namespace {

const QString planted = QStringLiteral("Qx7PlantedCredential9Zr");

void checkClean(const QString &address)
{
    check(address.size() <= AccessibilityLimits::pageAddressLength);
    const QUrl url(address, QUrl::StrictMode);
    check(url.isValid());
    const QString scheme = url.scheme().toLower();
    check(scheme == u"http" || scheme == u"https");
    check(url.userInfo().isEmpty() && !url.hasFragment());
    for (const auto &[name, value] : QUrlQuery(url).queryItems(QUrl::FullyEncoded))
        check(!isBlockedQueryName(QUrl::fromPercentEncoding(name.toUtf8())));
}

} // namespace

// Input: one byte choosing where a secret is planted, then the address text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    if (const auto once = sanitizedURL(text)) {
        checkClean(*once);
        check(sanitizedURL(*once) == once);
    }

    // The same address with a secret planted where credentials live.
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return 0;
    static const char *names[] = {"token", "api_key", "Access-Token", "PASSWORD", "code", "signature", "session", "auth"};
    switch (data[0] % 3) {
    case 0: {
        QUrlQuery query(url);
        query.addQueryItem(QString::fromLatin1(names[(data[0] / 3) % std::size(names)]), planted);
        url.setQuery(query);
        break;
    }
    case 1:
        url.setUserInfo(QStringLiteral("owner:") + planted);
        break;
    case 2:
        url.setFragment(planted);
        break;
    }
    if (const auto result = sanitizedURL(url.toString(QUrl::FullyEncoded)))
        check(!result->contains(planted));
    return 0;
}
