#include "app/Appcast.h"

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

TEST(UpdateFeed, FeedComesFromTheEnvironmentElseTheStoredAddressElseTheDefault)
{
    const QString origin = QStringLiteral("https://platform.example");
    struct Case
    {
        const char *environment;
        const char *stored;
        const char *feed; // empty: no feed
    };
    const Case cases[] = {
        // Any non-empty text in the environment is the feed, unvalidated.
        {"not even a url", "https://a.example", "not even a url"},
        {"http://127.0.0.1:4100/x.xml", "", "http://127.0.0.1:4100/x.xml"},
        {"", "", "https://platform.example/desktop-agent/updates/appcast.xml"},
        // Only scheme, host and port of the stored address are kept.
        {"", "https://user:pw@zelm.example:8443/some/path?q=1#frag",
         "https://zelm.example:8443/desktop-agent/updates/appcast.xml"},
        {"", "HTTP://127.0.0.1:4100/desktop-agent", "http://127.0.0.1:4100/desktop-agent/updates/appcast.xml"},
        {"", "ftp://zelm.example", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.environment) + " | " + c.stored);
        const QUrl feed = updateFeed::feedURL(QString::fromUtf8(c.environment), QString::fromUtf8(c.stored), origin);
        EXPECT_EQ(feed.toString(), QString::fromUtf8(c.feed));
    }
}

TEST(UpdateFeed, PlainHttpOnlyOnLoopback)
{
    const std::pair<const char *, bool> cases[] = {
        {"https://updates.example/appcast.xml", true},
        {"http://updates.example/appcast.xml", false},
        {"http://127.0.0.1:4100/appcast.xml", true},
        {"http://[::1]:4100/appcast.xml", true},
        {"http://127.0.0.1.example/appcast.xml", false},
        {"file:///etc/passwd", false},
    };
    for (const auto &[url, allowed] : cases)
        EXPECT_EQ(updateFeed::isAllowedTransport(QUrl(QString::fromLatin1(url))), allowed) << url;
}

QByteArray feedWith(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
           "xmlns:nimbel=\"https://nimbel.app/xml-namespaces/appcast\"><channel><title>t</title>"
        + items + "</channel></rss>";
}

QByteArray item(const char *version, const char *extra = " nimbel:edSignature=\"c2lnbmF0dXJl\"")
{
    return QByteArray("<item><title>Nimbel</title><link>https://zelm.example/releases/") + version
        + "</link><description>Fixes &amp; <b>speed</b>.</description><nimbel:releaseNotesLink>"
          "https://zelm.example/notes</nimbel:releaseNotesLink><enclosure url=\"https://dl.example/nimbel-"
        + version + ".tar\" length=\"1234\" type=\"application/x-tar\" nimbel:version=\"" + version
        + "\" nimbel:shortVersionString=\"" + version + " beta\"" + extra + "/></item>";
}

// What a release offers and how it is checked are the update checks' against the
// local platform's signed feed (UpdateServiceTest); here, what is read from
// other feeds and how versions compare.
TEST(Appcast, ReadsEveryReleaseAndOffersOnlyANewerOne)
{
    const auto parsed = appcast::parse(feedWith(item("1.2.0") + item("1.10.0", "")));
    ASSERT_TRUE(std::holds_alternative<QList<AppcastRelease>>(parsed));
    const auto &releases = std::get<QList<AppcastRelease>>(parsed);
    ASSERT_EQ(releases.size(), 2);
    EXPECT_EQ(releases[0].displayVersion(), QStringLiteral("1.2.0 beta"));
    EXPECT_EQ(releases[0].signature, QByteArray("signature"));
    EXPECT_EQ(releases[0].notes, QStringLiteral("Fixes & speed."));
    EXPECT_TRUE(releases[1].signature.isEmpty());
    // Versions compare as numbers, part by part.
    EXPECT_EQ(appcast::newestNewerThan(releases, QStringLiteral("1.9.3"))->version, QStringLiteral("1.10.0"));
    for (const char *current : {"1.10.0", "1.10", "1.11.0", "2"}) {
        QString newest;
        EXPECT_FALSE(appcast::newestNewerThan(releases, QString::fromLatin1(current), &newest).has_value()) << current;
        EXPECT_EQ(newest, QStringLiteral("1.10.0 beta"));
    }
}

TEST(Appcast, FeedsThatCannotBeUsedSayWhy)
{
    using P = appcast::Problem;
    QByteArray huge = feedWith(item("9.0.0"));
    huge.insert(huge.indexOf("<channel>"), QByteArray(appcast::maximumFeedBytes, ' '));
    const std::pair<QByteArray, P> cases[] = {
        {"", P::malformed},
        {feedWith(item("1.0.0")).chopped(10), P::malformed},
        {"<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaa\">]><rss><channel>&a;</channel></rss>",
         P::malformed},
        // An item without a version or with a version that is not a number cannot be compared.
        {feedWith("<item><enclosure url=\"https://dl.example/x.tar\"/></item>"), P::malformed},
        {feedWith(item("1.0.0-beta")), P::malformed},
        {feedWith(QByteArray(item("1.0.0")).replace("https://dl.example", "file:///tmp")), P::malformed},
        {feedWith(""), P::noRelease},
        {huge, P::tooLarge},
    };
    for (const auto &[feed, problem] : cases) {
        SCOPED_TRACE(feed.left(120).toStdString());
        const auto parsed = appcast::parse(feed);
        ASSERT_TRUE(std::holds_alternative<P>(parsed));
        EXPECT_EQ(std::get<P>(parsed), problem);
    }
}

TEST(Appcast, SignatureOrKeyOfTheWrongLengthIsRefusedUnread)
{
    // (A good signature, a wrong one and the wrong key: UpdateCheck.ReleasesThatCannotBeTrustedAreRefusedAndSayWhy.)
    EXPECT_FALSE(appcast::verifySignature("the release archive", QByteArray(63, 's'), QByteArray(32, 'k')));
    EXPECT_FALSE(appcast::verifySignature("the release archive", QByteArray(64, 's'), QByteArray()));
}

} // namespace
