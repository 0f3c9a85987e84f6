#include "conversation/PlatformConnectionLink.h"

#include <QRegularExpression>
#include <QUrlQuery>

#include <algorithm>
#include <map>

namespace nimbel {

namespace {

const QString defaultAgentName = QStringLiteral("Nimbel");

// The first valued item of each name, percent-decoded; items without a
// value do not count.
std::map<QString, QString> collectQueryItems(const QUrl &url)
{
    std::map<QString, QString> items;
    const QUrlQuery query(url);
    for (const auto &[name, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (value.isEmpty())
            continue;
        items.try_emplace(name, value);
    }
    return items;
}

std::optional<QString> item(const std::map<QString, QString> &items, const char *name)
{
    const auto found = items.find(QString::fromLatin1(name));
    if (found == items.end())
        return std::nullopt;
    return found->second;
}

// Values that end up in request headers, the key store or the preferences
// must not carry line breaks or other control characters, nor spaces.
bool isPlainToken(const QString &value)
{
    return std::none_of(value.cbegin(), value.cend(),
                        [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; });
}

bool isPairingCode(const QString &value)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_-]{24,160}")));
    return pattern.match(value).hasMatch();
}

int defaultPort(const QString &scheme)
{
    if (scheme == u"http")
        return 80;
    if (scheme == u"https")
        return 443;
    return -1;
}

struct Origin
{
    QString scheme;
    QString host;
    int port = -1;
    bool operator==(const Origin &) const = default;
};

std::optional<Origin> originOf(const QString &address)
{
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    return Origin{scheme, url.host().toLower(), url.port(defaultPort(scheme))};
}

} // namespace

std::optional<PlatformConnectionLink> PlatformConnectionLink::parse(const QUrl &url)
{
    if (!url.isValid() || url.toString(QUrl::FullyEncoded).size() > maxLinkLength)
        return std::nullopt;
    if (url.scheme().compare(u"zelmdesktop", Qt::CaseInsensitive) != 0
        || url.host().compare(u"connect", Qt::CaseInsensitive) != 0)
        return std::nullopt;

    const auto items = collectQueryItems(url);
    const auto platform = item(items, "platform_url");
    if (!platform || !isPlainToken(*platform) || !platformAddress::isAcceptable(QUrl(*platform, QUrl::StrictMode)))
        return std::nullopt;
    const QString address = platformAddress::withoutEdgeSlashes(*platform);

    if (const auto code = item(items, "code"); code && isPairingCode(*code))
        return PlatformConnectionLink{address, Pairing{*code}};

    const auto token = item(items, "token");
    const auto agentID = item(items, "agent_id");
    if (token && token->startsWith(u"zelm-") && isPlainToken(*token) && agentID && agentID->startsWith(u"dsa-")
        && isPlainToken(*agentID)) {
        return PlatformConnectionLink{address, Direct{*token, *agentID, item(items, "agent_name").value_or(defaultAgentName)}};
    }
    return std::nullopt;
}

namespace platformAddress {

QString withoutEdgeSlashes(QString text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u'/')
        ++begin;
    while (end > begin && text.at(end - 1) == u'/')
        --end;
    return text.mid(begin, end - begin);
}

bool isAcceptable(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https")
        return true;
    if (scheme != u"http")
        return false;
    const QString host = url.host().toLower();
    return host == u"127.0.0.1" || host == u"localhost";
}

bool sameOrigin(const QString &a, const QString &b)
{
    const auto first = originOf(a);
    const auto second = originOf(b);
    return first && second && *first == *second;
}

QString displayHost(const QString &address)
{
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return address.trimmed();
    const int port = url.port();
    if (port == -1 || port == defaultPort(url.scheme().toLower()))
        return url.host();
    return url.host() + u':' + QString::number(port);
}

} // namespace platformAddress
} // namespace nimbel
