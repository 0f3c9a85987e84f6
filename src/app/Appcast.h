#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <variant>

namespace nimbel {

// One release offered by an update feed: an RSS <item> whose <enclosure> names
// the download and carries our appcast attributes (namespace `appcastNamespace`):
// version (the build number compared with ours), shortVersionString (shown),
// edSignature (base64 Ed25519 signature of the download's bytes).
struct AppcastRelease
{
    QString version;
    QString shortVersion;
    QUrl downloadURL;
    qint64 length = 0;
    QByteArray signature; // decoded; empty when the item carries none
    QUrl pageURL;         // <link>: the release's web page
    QString notes;        // <description>, plain text
    QUrl notesURL;        // <releaseNotesLink>

    // What the owner is shown: the short version, else the version.
    QString displayVersion() const { return shortVersion.isEmpty() ? version : shortVersion; }
    // Where the owner is sent to get it.
    QUrl downloadPage() const { return pageURL.isValid() && !pageURL.isEmpty() ? pageURL : downloadURL; }
};

namespace appcast {

inline constexpr char appcastNamespace[] = "https://nimbel.app/xml-namespaces/appcast";
// A feed larger than this is refused unread.
inline constexpr qint64 maximumFeedBytes = 1 << 20;
// A download larger than this is not fetched for verification.
inline constexpr qint64 maximumDownloadBytes = qint64(512) << 20;

enum class Problem { malformed, tooLarge, noRelease };

// Every release in the feed, in feed order, or why the feed cannot be used.
std::variant<QList<AppcastRelease>, Problem> parse(const QByteArray &feed);

// Dotted numeric versions ("1.10.2" > "1.9"); missing parts count as 0.
// Empty when either side is not such a version.
std::optional<int> compareVersions(const QString &a, const QString &b);

// The release with the highest version, when it is higher than `current`.
// `newest` receives the highest version seen (to say why nothing is offered).
std::optional<AppcastRelease> newestNewerThan(const QList<AppcastRelease> &releases, const QString &current,
                                              QString *newest = nullptr);

// True when `signature` (64 bytes) is a valid Ed25519 signature of `data`
// by `publicKey` (32 bytes).
bool verifySignature(const QByteArray &data, const QByteArray &signature, const QByteArray &publicKey);

} // namespace appcast

namespace updateFeed {

// The feed to read: the environment's text unchanged when set; else the
// appcast path on the stored platform address (or `defaultOrigin`), keeping
// only scheme, host and port. Empty when the address is not an http(s) URL
// with a host.
QUrl feedURL(const QString &environmentValue, const QString &storedBaseURL, const QString &defaultOrigin);

// A feed is read over HTTPS; plain http only on the loopback interface
// (a development platform on this machine).
bool isAllowedTransport(const QUrl &url);
bool isLoopback(const QUrl &url);

inline constexpr char feedPath[] = "/desktop-agent/updates/appcast.xml";
inline constexpr char feedVariable[] = "ZELM_DESKTOP_UPDATE_FEED_URL";

} // namespace updateFeed

} // namespace nimbel
