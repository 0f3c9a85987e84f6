#include "app/Appcast.h"
#include "app/UpdateService.h"
#include "conversation/ConversationFakes.h"
#include "local-platform/LocalPlatformProcess.h"
#include "settings/Localized.h"
#include "settings/PreferencesStore.h"
#include "support/VirtualClock.h"

#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

// An update check end to end: the real local platform serves the feed and the
// signed download over loopback; the service reads, downloads and verifies.
class UpdateCheck : public ::testing::Test
{
protected:
    void SetUp() override { installTranslations(AppLanguage::en); }

    // Starts the platform with `arguments` and a service reading its feed with the platform's release key.
    void start(const QStringList &arguments)
    {
        service.reset(); // its connections first, so that the platform stops at once
        platform = std::make_unique<test::LocalPlatformProcess>(arguments);
        ASSERT_TRUE(platform->started()) << platform->errors().toStdString();
        const auto answer = platform->client()->Get("/debug/update-key");
        ASSERT_TRUE(answer && answer->status == 200);
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ZELM_DESKTOP_UPDATE_FEED_URL"),
                           QString::fromStdString(platform->baseURL()) + QStringLiteral("/desktop-agent/updates/appcast.xml"));
        environment.insert(QStringLiteral("ZELM_DESKTOP_UPDATE_PUBLIC_KEY"),
                           QString::fromStdString(answer->body));
        service = std::make_unique<UpdateService>(UpdateService::configure(environment, preferences), clock, preferences, links);
    }

    void check()
    {
        ASSERT_TRUE(service->canCheckForUpdates());
        QEventLoop loop;
        QObject::connect(service.get(), &UpdateService::checkFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit); // a hang guard, not a speed goal
        service->checkForUpdates();
        EXPECT_TRUE(service->isChecking());
        loop.exec();
        ASSERT_FALSE(service->isChecking());
    }

    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat};
    PreferencesStore preferences{&settings};
    test::VirtualClock clock;
    test::FakeLinkOpener links;
    std::unique_ptr<test::LocalPlatformProcess> platform;
    std::unique_ptr<UpdateService> service;
};

TEST_F(UpdateCheck, ReleasesThatCannotBeTrustedAreRefusedAndSayWhy)
{
    const std::pair<const char *, const char *> cases[] = {
        {"wrong", "The download of version 9.0.0 is not signed with the release key."},
        {"none", "Version 9.0.0 is offered without a signature."},
    };
    for (const auto &[signing, error] : cases) {
        SCOPED_TRACE(error);
        start({QStringLiteral("--update-version"), QStringLiteral("9.0.0"), QStringLiteral("--update-signing"),
               QString::fromLatin1(signing)});
        check();
        EXPECT_FALSE(service->updateAvailable());
        EXPECT_EQ(service->lastUpdateError(), QString::fromUtf8(error));
        EXPECT_EQ(service->lastError(), std::optional(QString::fromUtf8(error)));
        EXPECT_FALSE(service->openDownloadPage());
    }
}

TEST_F(UpdateCheck, CheckThatFindsNothingNewerClearsAnEarlierError)
{
    // The first answer is not a feed; the next one is the real, empty-handed feed.
    test::ScriptFile script(R"({"faults": {"/desktop-agent/updates/appcast.xml":
                                  {"status": 200, "body": "<html>maintenance</html>", "times": 1}}})");
    QStringList arguments = script.arguments();
    arguments << QStringLiteral("--update-version") << QStringLiteral("0.1.0");
    start(arguments);
    check();
    EXPECT_EQ(service->lastUpdateError(), QStringLiteral("The update feed could not be read."));
    check();
    EXPECT_EQ(service->lastUpdateError(), QString());
    EXPECT_EQ(service->lastError(), std::nullopt);
    EXPECT_EQ(service->statusText(), QStringLiteral("Nimbel 0.1.0 is up to date."));
}

TEST_F(UpdateCheck, AutomaticChecksFindTheSignedNewerReleaseOnTheScheduleUntilSwitchedOff)
{
    start({QStringLiteral("--update-version"), QStringLiteral("9.4.2")});
    EXPECT_FALSE(service->openDownloadPage());
    ASSERT_TRUE(service->automaticallyChecksForUpdates());
    clock.advance(UpdateService::firstAutomaticCheck - std::chrono::milliseconds(1));
    EXPECT_FALSE(service->isChecking());
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(service->isChecking());
    QEventLoop loop;
    QObject::connect(service.get(), &UpdateService::checkFinished, &loop, &QEventLoop::quit);
    loop.exec();
    // Offered with its notes; its page opens.
    EXPECT_EQ(service->lastUpdateError(), QString());
    ASSERT_TRUE(service->updateAvailable());
    EXPECT_EQ(service->availableVersion(), QStringLiteral("9.4.2"));
    EXPECT_FALSE(service->releaseNotes().isEmpty());
    EXPECT_TRUE(service->openDownloadPage());
    EXPECT_EQ(links.opened, QList<QUrl>{QUrl(QString::fromStdString(platform->baseURL()) + QStringLiteral("/desktop-agent/updates/9.4.2"))});

    clock.advance(UpdateService::checkInterval);
    EXPECT_TRUE(service->isChecking());
    loop.exec();
    service->setAutomaticallyChecksForUpdates(false);
    clock.advance(UpdateService::checkInterval * 2);
    EXPECT_FALSE(service->isChecking());
    // The choice is kept for the next launch.
    UpdateService next(service->configuration(), clock, preferences, links);
    EXPECT_FALSE(next.automaticallyChecksForUpdates());
    clock.advance(UpdateService::checkInterval * 2);
    EXPECT_FALSE(next.isChecking());
}

TEST(UpdateConfiguration, DevelopmentKeyIsTakenOnlyForAFeedOnThisMachine)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
    PreferencesStore preferences(&settings);
    const QString key = QString(QByteArray(43, 'B') + "=");
    const auto taken = [&](const char *feed) {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ZELM_DESKTOP_UPDATE_FEED_URL"), QString::fromLatin1(feed));
        environment.insert(QStringLiteral("ZELM_DESKTOP_UPDATE_PUBLIC_KEY"), key);
        return UpdateService::configure(environment, preferences).publicKey == QByteArray::fromBase64(key.toLatin1());
    };
    EXPECT_TRUE(taken("http://127.0.0.1:4100/desktop-agent/updates/appcast.xml"));
    EXPECT_FALSE(taken("https://updates.example/appcast.xml"));
}

// The feed's own rules: where it is read from, and what is read from it.

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
        {"", "", "https://platform.example/desktop-agent/updates/appcast.xml"},
        // Only scheme, host and port of the stored address are kept.
        {"", "https://user:pw@zelm.example:8443/some/path?q=1#frag",
         "https://zelm.example:8443/desktop-agent/updates/appcast.xml"},
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
    const auto allowed = [](const char *url) { return updateFeed::isAllowedTransport(QUrl(QString::fromLatin1(url))); };
    EXPECT_TRUE(allowed("https://updates.example/appcast.xml"));
    EXPECT_FALSE(allowed("http://updates.example/appcast.xml"));
    EXPECT_TRUE(allowed("http://127.0.0.1:4100/appcast.xml"));
    EXPECT_FALSE(allowed("http://127.0.0.1.example/appcast.xml"));
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
// local platform's signed feed (UpdateCheck above); here, what is read from
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
        {"<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaa\">]><rss><channel>&a;</channel></rss>",
         P::malformed},
        // An item without a version or with a version that is not a number cannot be compared.
        {feedWith("<item><enclosure url=\"https://dl.example/x.tar\"/></item>"), P::malformed},
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
    // (A good signature and a wrong one: UpdateCheck.ReleasesThatCannotBeTrustedAreRefusedAndSayWhy.)
    EXPECT_FALSE(appcast::verifySignature("the release archive", QByteArray(63, 's'), QByteArray(32, 'k')));
    EXPECT_FALSE(appcast::verifySignature("the release archive", QByteArray(64, 's'), QByteArray()));
}

} // namespace
