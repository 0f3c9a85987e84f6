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
    void SetUp() override
    {
        installTranslations(AppLanguage::en);
        ASSERT_TRUE(dir.isValid());
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat);
        preferences = std::make_unique<PreferencesStore>(settings.get());
    }

    // Starts the platform with `arguments` and a service reading its feed with
    // the platform's release key (or `key` when given).
    void start(const QStringList &arguments, std::optional<QByteArray> key = std::nullopt)
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
                           QString::fromLatin1(key ? *key : QByteArray::fromStdString(answer->body)));
        service = std::make_unique<UpdateService>(UpdateService::configure(environment, *preferences), clock,
                                                  *preferences, links);
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
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<PreferencesStore> preferences;
    test::VirtualClock clock;
    test::FakeLinkOpener links;
    std::unique_ptr<test::LocalPlatformProcess> platform;
    std::unique_ptr<UpdateService> service;
};

TEST_F(UpdateCheck, ReleasesThatCannotBeTrustedAreRefusedAndSayWhy)
{
    struct Case
    {
        QStringList arguments;
        bool wrongKey;
        const char *error;
    };
    const Case cases[] = {
        {{QStringLiteral("--update-version"), QStringLiteral("9.0.0"), QStringLiteral("--update-signing"),
          QStringLiteral("wrong")},
         false, "The download of version 9.0.0 is not signed with the release key."},
        {{QStringLiteral("--update-version"), QStringLiteral("9.0.0"), QStringLiteral("--update-signing"),
          QStringLiteral("none")},
         false, "Version 9.0.0 is offered without a signature."},
        // Signed well, but not by the key this application trusts.
        {{QStringLiteral("--update-version"), QStringLiteral("9.0.0")}, true,
         "The download of version 9.0.0 is not signed with the release key."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        start(c.arguments, c.wrongKey ? std::optional(QByteArray(44, 'A').replace(43, 1, "=")) : std::nullopt);
        check();
        EXPECT_FALSE(service->updateAvailable());
        EXPECT_EQ(service->lastUpdateError(), QString::fromUtf8(c.error));
        EXPECT_EQ(service->lastError(), std::optional(QString::fromUtf8(c.error)));
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
    EXPECT_EQ(service->statusText(), QStringLiteral("Updates unavailable: The update feed could not be read."));
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
    UpdateService next(service->configuration(), clock, *preferences, links);
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
    const std::pair<const char *, bool> cases[] = {
        {"http://127.0.0.1:4100/desktop-agent/updates/appcast.xml", true},
        {"https://updates.example/appcast.xml", false},
        {"http://updates.example/appcast.xml", false},
    };
    for (const auto &[feed, taken] : cases) {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ZELM_DESKTOP_UPDATE_FEED_URL"), QString::fromLatin1(feed));
        environment.insert(QStringLiteral("ZELM_DESKTOP_UPDATE_PUBLIC_KEY"), key);
        const auto configuration = UpdateService::configure(environment, preferences);
        EXPECT_EQ(configuration.publicKey == QByteArray::fromBase64(key.toLatin1()), taken) << feed;
    }
}

} // namespace
