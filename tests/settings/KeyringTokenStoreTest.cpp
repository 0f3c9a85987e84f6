#include "settings/KeychainTokenStore.h"
#include "settings/ScriptedPrompter.h"
#include "settings/SecretServiceSession.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace nimbel;
using namespace Qt::StringLiterals;

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
            setupError = session->startGnomeKeyring(test::scriptedPrompter::start());
    }

    static void TearDownTestSuite()
    {
        test::scriptedPrompter::stop();
        delete session;
        session = nullptr;
    }

protected:
    void SetUp() override
    {
        ASSERT_TRUE(setupError.isEmpty()) << setupError.toStdString();
        // A service name of its own keeps each case's item apart.
        service = u"app.nimbel.test."_s + QUuid::createUuid().toString(QUuid::Id128);
        fallback = session->scratchPath(service + u".fallback"_s);
    }

    std::unique_ptr<KeychainTokenStore> store(const QProcessEnvironment &env = {}) const
    {
        return std::make_unique<KeychainTokenStore>(env, service, fallback);
    }

    // Writes and waits until the key has reached its store.
    static void writeAndWait(KeychainTokenStore &keys, const QString &key)
    {
        EXPECT_EQ(keys.write(key), std::nullopt);
        ASSERT_TRUE(test::waitUntilStored(keys));
    }

    // The item's attributes, as another program looks it up.
    QStringList attributes() const { return {u"server"_s, service, u"user"_s, u"platform-api-key"_s}; }
    auto lookup() const { return session->secretTool(QStringList{u"lookup"_s} + attributes()); }

    // Stores an item as another program would; its exit code.
    int storeOutside(const QByteArray &secret) const
    {
        const QStringList store{u"store"_s, u"--label=Nimbel"_s};
        return session->secretTool(store + attributes() + QStringList{u"type"_s, u"plaintext"_s}, secret).exitCode;
    }

    int itemCount() const
    {
        const auto found = session->secretTool(QStringList{u"search"_s, u"--all"_s} + attributes());
        return int(found.output.count("\n[/")) + (found.output.startsWith("[/") ? 1 : 0);
    }

    static inline test::SecretServiceSession *session = nullptr;
    static inline QString setupError;
    QString service;
    QString fallback;
};

TEST_F(KeyringTokenStore, WriteReplacesTheOneItemWithTheLatestKeyAndAnEmptyKeyDeletesIt)
{
    test::LogCapture capture;
    auto keys = store();
    const QString first = QString::fromUtf8("zk-ключ-1");
    writeAndWait(*keys, first);
    auto found = lookup();
    EXPECT_EQ(found.exitCode, 0);
    EXPECT_EQ(found.output, first.toUtf8());
    EXPECT_EQ(keys->keyLocation(), KeychainTokenStore::KeyLocation::secretService);
    EXPECT_EQ(store()->read(), first);

    writeAndWait(*keys, u"zk-second"_s);
    EXPECT_EQ(lookup().output, QByteArray("zk-second"));
    EXPECT_EQ(itemCount(), 1);
    EXPECT_EQ(store()->read(), u"zk-second"_s);

    // Writes made while one is being stored end with the latest.
    EXPECT_EQ(keys->write(u"zk-first"_s), std::nullopt);
    EXPECT_EQ(keys->write(u"zk-middle"_s), std::nullopt);
    EXPECT_EQ(keys->write(u"zk-latest"_s), std::nullopt);
    EXPECT_EQ(keys->read(), u"zk-latest"_s);
    ASSERT_TRUE(test::waitUntilStored(*keys));
    EXPECT_EQ(lookup().output, QByteArray("zk-latest"));
    EXPECT_EQ(itemCount(), 1);

    writeAndWait(*keys, QString());
    EXPECT_NE(lookup().exitCode, 0);
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(keys->keyLocation(), KeychainTokenStore::KeyLocation::none);
    EXPECT_EQ(store()->read(), QString());

    // The service answered throughout: no file, no fallback, and no key in any log line.
    EXPECT_FALSE(QFileInfo::exists(fallback));
    EXPECT_FALSE(capture.all().contains(u"fallback"_s));
    EXPECT_FALSE(capture.all().contains(first));
    EXPECT_FALSE(capture.all().contains(u"zk-second"_s));
}

TEST_F(KeyringTokenStore, ReadsAnItemStoredByAnotherProgramUnderServiceAndAccount)
{
    ASSERT_EQ(storeOutside("from-outside"), 0);
    auto keys = store();
    EXPECT_EQ(keys->read(), u"from-outside"_s);
    EXPECT_EQ(keys->keyLocation(), KeychainTokenStore::KeyLocation::secretService);

    // An item that is not UTF-8 is no key.
    ASSERT_EQ(storeOutside(QByteArray("\xff\xfe\xc3", 3)), 0);
    EXPECT_EQ(store()->read(), QString());
}

TEST_F(KeyringTokenStore, KeyWrittenWhileTheServiceWasAwayWinsUntilTheNextWriteReachesIt)
{
    writeAndWait(*store(), u"older-in-keyring"_s);
    {
        // What a write made while no secret service answered leaves behind.
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("newer-in-file");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    auto keys = store();
    EXPECT_EQ(keys->read(), u"newer-in-file"_s);
    EXPECT_EQ(keys->keyLocation(), KeychainTokenStore::KeyLocation::privateFile);

    writeAndWait(*keys, u"fresh"_s);
    EXPECT_FALSE(QFileInfo::exists(fallback));
    EXPECT_EQ(lookup().output, QByteArray("fresh"));
    EXPECT_EQ(store()->read(), u"fresh"_s);
}

// A locked keyring: storing shows the owner the keyring's password prompt.
// The key is usable at once, and the outcome follows the owner's answer.
TEST_F(KeyringTokenStore, LockedKeyringWaitsForTheOwnersAnswerWithTheKeyInMemory)
{
    struct Case { const char *name; bool ownerUnlocks; KeychainTokenStore::KeyLocation location; };
    const Case cases[] = {
        {"owner types the password", true, KeychainTokenStore::KeyLocation::secretService},
        {"owner declines", false, KeychainTokenStore::KeyLocation::privateFile},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        test::LogCapture capture;
        const QString lockError = session->lockLoginKeyring();
        ASSERT_TRUE(lockError.isEmpty()) << lockError.toStdString();
        if (c.ownerUnlocks)
            test::scriptedPrompter::expectPassword(test::SecretServiceSession::keyringPassword);
        else
            test::scriptedPrompter::expectDismissal();

        auto keys = store();
        const QString key = u"zk-while-prompting"_s;
        EXPECT_EQ(keys->write(key), std::nullopt);
        // The prompt is open; the key is there for the next question already.
        EXPECT_EQ(keys->read(), key);
        EXPECT_EQ(keys->keyLocation(), KeychainTokenStore::KeyLocation::storing);

        ASSERT_TRUE(test::waitUntilStored(*keys));
        EXPECT_FALSE(test::scriptedPrompter::isExpecting()) << "the keyring never asked";
        EXPECT_EQ(keys->keyLocation(), c.location);
        EXPECT_EQ(keys->read(), key);
        EXPECT_EQ(store()->read(), key);
        EXPECT_EQ(QFileInfo::exists(fallback), !c.ownerUnlocks);
        if (!c.ownerUnlocks) {
            struct stat info{};
            ASSERT_EQ(::stat(QFile::encodeName(fallback).constData(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0600u);
        }
        EXPECT_FALSE(capture.all().contains(key));
    }
}

TEST_F(KeyringTokenStore, StartUpLoadLeavesTheLockedKeyringsPromptToTheOwnerWithoutWaitingForIt)
{
    const QString stored = u"zk-stored-before"_s;
    const QString paired = u"zk-paired-meanwhile"_s;
    for (const bool pairsMeanwhile : {false, true}) {
        SCOPED_TRACE(pairsMeanwhile ? "a pairing stores a key while the prompt is open" : "the owner unlocks");
        SetUp();
        writeAndWait(*store(), stored);
        const QString lockError = session->lockLoginKeyring();
        ASSERT_TRUE(lockError.isEmpty()) << lockError.toStdString();
        test::scriptedPrompter::expectPassword(test::SecretServiceSession::keyringPassword);

        auto keys = store();
        QStringList loaded;
        QObject::connect(keys.get(), &KeychainTokenStore::loaded, [&loaded](const QString &key) { loaded << key; });
        keys->loadInBackground();
        // The prompt is the owner's: the start-up read answers without it.
        EXPECT_TRUE(keys->isLoading());
        EXPECT_EQ(keys->read(), QString());
        if (pairsMeanwhile) {
            EXPECT_EQ(keys->write(paired), std::nullopt);
        }

        const QDeadlineTimer guard(120000);
        while ((keys->isLoading() || keys->isStoring()) && !guard.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        ASSERT_FALSE(keys->isLoading());
        ASSERT_TRUE(test::waitUntilStored(*keys));
        EXPECT_EQ(loaded, pairsMeanwhile ? QStringList() : QStringList{stored});
        EXPECT_EQ(keys->read(), pairsMeanwhile ? paired : stored);
    }
}

} // namespace
