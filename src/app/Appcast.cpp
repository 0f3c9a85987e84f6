#include "app/Appcast.h"

#include <QHostAddress>
#include <QStringList>
#include <QXmlStreamReader>

#include <sodium.h>

namespace nimbel {

namespace appcast {

namespace {

QString ours(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(appcastNamespace), QLatin1String(name)).toString().trimmed();
}

bool isOurs(const QXmlStreamReader &xml, const char *name)
{
    return xml.namespaceUri() == QLatin1String(appcastNamespace) && xml.name() == QLatin1String(name);
}

bool isPlain(const QXmlStreamReader &xml, const char *name)
{
    return xml.namespaceUri().isEmpty() && xml.name() == QLatin1String(name);
}

// An item is usable when it names an http(s) download and a version.
bool isUsable(const AppcastRelease &release)
{
    const QString scheme = release.downloadURL.scheme();
    return !release.version.isEmpty() && release.downloadURL.isValid() && !release.downloadURL.host().isEmpty()
        && (scheme == u"https" || scheme == u"http") && compareVersions(release.version, release.version).has_value();
}

} // namespace

std::variant<QList<AppcastRelease>, Problem> parse(const QByteArray &feed)
{
    if (feed.size() > maximumFeedBytes)
        return Problem::tooLarge;
    QXmlStreamReader xml(feed);
    QList<AppcastRelease> releases;
    std::optional<AppcastRelease> item;
    bool sawRss = false;
    bool badItem = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.tokenType() == QXmlStreamReader::DTD) {
            // No entity definitions: nothing may expand behind the size check.
            return Problem::malformed;
        }
        if (xml.isStartElement()) {
            if (isPlain(xml, "rss")) {
                sawRss = true;
            } else if (isPlain(xml, "item")) {
                item.emplace();
            } else if (item && isPlain(xml, "enclosure")) {
                const QXmlStreamAttributes attributes = xml.attributes();
                item->downloadURL = QUrl(attributes.value(QLatin1String("url")).toString().trimmed(), QUrl::StrictMode);
                item->length = attributes.value(QLatin1String("length")).toLongLong();
                item->version = ours(attributes, "version");
                item->shortVersion = ours(attributes, "shortVersionString");
                const QString signature = ours(attributes, "edSignature");
                if (!signature.isEmpty()) {
                    const auto decoded = QByteArray::fromBase64Encoding(signature.toLatin1(),
                                                                        QByteArray::AbortOnBase64DecodingErrors);
                    // An unreadable signature is a wrong one, never a missing one.
                    item->signature = decoded ? *decoded : QByteArray("\0", 1);
                }
            } else if (item && isPlain(xml, "link")) {
                item->pageURL = QUrl(xml.readElementText().trimmed(), QUrl::StrictMode);
            } else if (item && isPlain(xml, "description")) {
                item->notes = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            } else if (item && isOurs(xml, "releaseNotesLink")) {
                item->notesURL = QUrl(xml.readElementText().trimmed(), QUrl::StrictMode);
            } else if (item && isOurs(xml, "version") && item->version.isEmpty()) {
                item->version = xml.readElementText().trimmed();
            } else if (item && isOurs(xml, "shortVersionString") && item->shortVersion.isEmpty()) {
                item->shortVersion = xml.readElementText().trimmed();
            }
        } else if (xml.isEndElement() && item && isPlain(xml, "item")) {
            if (isUsable(*item))
                releases.append(*item);
            else
                badItem = true;
            item.reset();
        }
    }
    if (xml.hasError() || !sawRss)
        return Problem::malformed;
    if (releases.isEmpty())
        return badItem ? Problem::malformed : Problem::noRelease;
    return releases;
}

std::optional<int> compareVersions(const QString &a, const QString &b)
{
    const QStringList left = a.split(u'.');
    const QStringList right = b.split(u'.');
    const qsizetype parts = std::max(left.size(), right.size());
    int order = 0;
    for (qsizetype i = 0; i < parts; ++i) {
        bool okLeft = true;
        bool okRight = true;
        const qulonglong l = i < left.size() ? left[i].toULongLong(&okLeft) : 0;
        const qulonglong r = i < right.size() ? right[i].toULongLong(&okRight) : 0;
        if (!okLeft || !okRight)
            return std::nullopt;
        if (order == 0 && l != r)
            order = l < r ? -1 : 1;
    }
    return order;
}

std::optional<AppcastRelease> newestNewerThan(const QList<AppcastRelease> &releases, const QString &current,
                                              QString *newest)
{
    const AppcastRelease *best = nullptr;
    for (const AppcastRelease &release : releases) {
        if (!best || compareVersions(release.version, best->version).value_or(0) > 0)
            best = &release;
    }
    if (!best)
        return std::nullopt;
    if (newest)
        *newest = best->displayVersion();
    if (compareVersions(best->version, current).value_or(0) <= 0)
        return std::nullopt;
    return *best;
}

bool verifySignature(const QByteArray &data, const QByteArray &signature, const QByteArray &publicKey)
{
    if (signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    if (sodium_init() < 0)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(data.constData()),
                                       static_cast<unsigned long long>(data.size()),
                                       reinterpret_cast<const unsigned char *>(publicKey.constData()))
        == 0;
}

} // namespace appcast

namespace updateFeed {

QUrl feedURL(const QString &environmentValue, const QString &storedBaseURL, const QString &defaultOrigin)
{
    if (!environmentValue.isEmpty())
        return QUrl(environmentValue);
    const QString base = storedBaseURL.trimmed().isEmpty() ? defaultOrigin : storedBaseURL.trimmed();
    QUrl url(base, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"https" && scheme != u"http"))
        return QUrl();
    url.setScheme(scheme);
    url.setUserInfo(QString());
    url.setPath(QString::fromLatin1(feedPath));
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

bool isLoopback(const QUrl &url)
{
    const QString host = url.host();
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isAllowedTransport(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (url.host().isEmpty())
        return false;
    return scheme == u"https" || (scheme == u"http" && isLoopback(url));
}

} // namespace updateFeed

} // namespace nimbel
