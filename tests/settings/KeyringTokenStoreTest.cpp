#include "settings/KeychainTokenStore.h"
#include "settings/SecretServiceSession.h"
#include "support/LogCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

// The key store against a real Secret Service: gnome-keyring on a private bus.
class KeyringTokenStore : public ::testing::Test
{
public:
    static void SetUpTestSuite()
    {
        session = new test::SecretServiceSession;
        setupError = session->startBus();
        if (setupError.isEmpty())
            setupError = session->startGnomeKeyring();
    }

    static void TearDownTestSuite()
    {
        delete session;
        session = nullptr;
    }

protected:
    void SetUp() override
    {
        ASSERT_TRUE(setupError.isEmpty()) << setupError.toStdString();
        // A service name of its own keeps each case's item apart.
        service = QStringLiteral("app.nimbel.test.") + QUuid::createUuid().toString(QUuid::Id128);
        fallback = session->scratchPath(service + QStringLiteral(".fallback"));
    }

    KeychainTokenStore store(const QProcessEnvironment &env = {}) const
    {
        return KeychainTokenStore(env, service, fallback);
    }

    // The item as another program sees it: looked up by service and account.
    test::SecretServiceSession::ToolResult lookup() const
    {
        return session->secretTool({QStringLiteral("lookup"), QStringLiteral("server"), service, QStringLiteral("user"),
                                    QStringLiteral("platform-api-key")});
    }

    int itemCount() const
    {
        const auto found = session->secretTool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("server"),
                                                service, QStringLiteral("user"), QStringLiteral("platform-api-key")});
        int items = 0;
        for (const QByteArray &line : found.output.split('\n'))
            items += line.startsWith("[/") ? 1 : 0;
        return items;
    }

    static inline test::SecretServiceSession *session = nullptr;
    static inline QString setupError;
    QString service;
    QString fallback;
};

TEST_F(KeyringTokenStore, WriteReplacesTheOneItemAndAnEmptyKeyDeletesIt)
{
    test::LogCapture capture;
    KeychainTokenStore keys = store();
    const QString first = QString::fromUtf8("zk-ключ-1");
    EXPECT_EQ(keys.write(first), std::nullopt);
    auto found = lookup();
    EXPECT_EQ(found.exitCode, 0);
    EXPECT_EQ(found.output, first.toUtf8());
    EXPECT_EQ(keys.read(), first);

    EXPECT_EQ(keys.write(QStringLiteral("zk-second")), std::nullopt);
    EXPECT_EQ(lookup().output, QByteArray("zk-second"));
    EXPECT_EQ(itemCount(), 1);
    EXPECT_EQ(keys.read(), QStringLiteral("zk-second"));

    EXPECT_EQ(keys.write(QString()), std::nullopt);
    EXPECT_NE(lookup().exitCode, 0);
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(keys.read(), QString());

    // The service answered throughout: no file, no fallback, and no key in any log line.
    EXPECT_FALSE(QFileInfo::exists(fallback));
    EXPECT_FALSE(capture.all().contains(QStringLiteral("fallback")));
    EXPECT_FALSE(capture.all().contains(first));
    EXPECT_FALSE(capture.all().contains(QStringLiteral("zk-second")));
}

TEST_F(KeyringTokenStore, ReadsAnItemStoredByAnotherProgramUnderServiceAndAccount)
{
    const auto stored = session->secretTool({QStringLiteral("store"), QStringLiteral("--label=Nimbel"), QStringLiteral("server"),
                                             service, QStringLiteral("user"), QStringLiteral("platform-api-key"),
                                             QStringLiteral("type"), QStringLiteral("plaintext")},
                                            "from-outside");
    ASSERT_EQ(stored.exitCode, 0);
    EXPECT_EQ(store().read(), QStringLiteral("from-outside"));

    // Another account or another service is a different item.
    const auto other = session->secretTool({QStringLiteral("store"), QStringLiteral("--label=Other"), QStringLiteral("server"),
                                            service + QStringLiteral(".other"), QStringLiteral("user"),
                                            QStringLiteral("platform-api-key"), QStringLiteral("type"),
                                            QStringLiteral("plaintext")},
                                           "not-ours");
    ASSERT_EQ(other.exitCode, 0);
    EXPECT_EQ(store().read(), QStringLiteral("from-outside"));
    EXPECT_EQ(KeychainTokenStore({}, service + QStringLiteral(".missing"), fallback).read(), QString());

    // An item that is not UTF-8 is no key.
    ASSERT_EQ(session->secretTool({QStringLiteral("store"), QStringLiteral("--label=Nimbel"), QStringLiteral("server"),
                                   service, QStringLiteral("user"), QStringLiteral("platform-api-key"),
                                   QStringLiteral("type"), QStringLiteral("plaintext")},
                                  QByteArray("\xff\xfe\xc3", 3))
                  .exitCode,
              0);
    EXPECT_EQ(store().read(), QString());
}

TEST_F(KeyringTokenStore, UnderAUnitTestHostTheKeyringIsLeftAlone)
{
    ASSERT_EQ(store().write(QStringLiteral("kept")), std::nullopt);
    QProcessEnvironment testHost;
    testHost.insert(QStringLiteral("XCTestBundlePath"), QStringLiteral("/tmp/tests.xctest"));
    KeychainTokenStore disabled = store(testHost);
    EXPECT_EQ(disabled.read(), QString());
    EXPECT_EQ(disabled.write(QStringLiteral("replaced")), std::nullopt);
    EXPECT_EQ(lookup().output, QByteArray("kept"));
    EXPECT_EQ(disabled.write(QString()), std::nullopt);
    EXPECT_EQ(lookup().output, QByteArray("kept"));
    EXPECT_FALSE(QFileInfo::exists(fallback));
}

TEST_F(KeyringTokenStore, KeyWrittenWhileTheServiceWasAwayWinsUntilTheNextWriteReachesIt)
{
    ASSERT_EQ(store().write(QStringLiteral("older-in-keyring")), std::nullopt);
    {
        // What a write made while no secret service answered leaves behind.
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("newer-in-file");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    KeychainTokenStore keys = store();
    EXPECT_EQ(keys.read(), QStringLiteral("newer-in-file"));

    EXPECT_EQ(keys.write(QStringLiteral("fresh")), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(fallback));
    EXPECT_EQ(lookup().output, QByteArray("fresh"));
    EXPECT_EQ(keys.read(), QStringLiteral("fresh"));
}

} // namespace
