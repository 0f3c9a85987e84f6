#include "screen/SanitizedURL.h"

#include "screen/AccessibilityContext.h"

#include <QList>
#include <QUrl>
#include <QUrlQuery>

#include <array>
#include <utility>

namespace nimbel {

bool isBlockedQueryName(QStringView name)
{
    static constexpr std::array<std::u16string_view, 12> blocked{
        u"access_token", u"api_key", u"apikey",  u"auth",   u"authorization", u"code",
        u"key",          u"password", u"secret", u"session", u"signature",    u"token",
    };
    const QString normalised = name.toString().toLower().replace(QLatin1Char('-'), QLatin1Char('_'));
    for (std::u16string_view candidate : blocked) {
        if (normalised == QStringView(candidate.data(), qsizetype(candidate.size())))
            return true;
    }
    return false;
}

std::optional<QString> sanitizedURL(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https")
        return std::nullopt;
    if (url.host().isEmpty())
        return std::nullopt;

    url.setUserInfo(QString());
    url.setFragment(QString());

    if (url.hasQuery()) {
        const QUrlQuery query(url);
        QList<std::pair<QString, QString>> kept;
        for (const auto &item : query.queryItems(QUrl::FullyEncoded)) {
            const QString name = QUrl::fromPercentEncoding(item.first.toUtf8());
            if (!isBlockedQueryName(name))
                kept.append(item);
        }
        if (kept.isEmpty()) {
            // A bare "?" would tell nothing but that something was removed.
            url.setQuery(QString());
        } else {
            QUrlQuery rebuilt;
            rebuilt.setQueryItems(kept);
            url.setQuery(rebuilt.query(QUrl::FullyEncoded), QUrl::StrictMode);
        }
    }
    if (!url.isValid())
        return std::nullopt;
    return url.toString(QUrl::FullyEncoded).left(AccessibilityLimits::pageAddressLength);
}

} // namespace nimbel
