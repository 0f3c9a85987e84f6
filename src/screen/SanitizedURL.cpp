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

namespace {

// The address without what must not leave, at whatever length.
std::optional<QString> cleanAddress(const QString &text)
{
    QUrl url(text, QUrl::StrictMode);
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
            // Empty pieces ("a=1&&b=2") say nothing; keeping them made every
            // further pass drop one more.
            if (item.first.isEmpty() && item.second.isEmpty())
                continue;
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
    return url.toString(QUrl::FullyEncoded);
}

} // namespace

std::optional<QString> sanitizedURL(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    const auto address = cleanAddress(*text);
    if (!address || address->size() <= AccessibilityLimits::pageAddressLength)
        return address;
    QString cut = address->left(AccessibilityLimits::pageAddressLength);
    // A cut through a "%XY" escape would leave an address that no longer parses.
    const qsizetype escape = cut.lastIndexOf(u'%');
    if (escape >= 0 && escape >= cut.size() - 2)
        cut.truncate(escape);
    // What the cut leaves at the end (a lone "&" or "?") is tidied like in any
    // other address, so that the result reads back as itself.
    const auto tidied = cleanAddress(cut);
    if (!tidied || tidied->size() > AccessibilityLimits::pageAddressLength)
        return std::nullopt;
    return tidied;
}

} // namespace nimbel
