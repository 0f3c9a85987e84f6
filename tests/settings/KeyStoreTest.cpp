// The key store on a private session bus: first without any secret service,
// then against a real Secret Service (gnome-keyring), stopped for a while,
// whose prompts a scripted prompter answers.
#include "settings/KeychainTokenStore.h"
#include "settings/Localized.h"
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
using Location = KeychainTokenStore::KeyLocation;

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

int mode(const QString &path)
{
    struct stat info{};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

class KeyStore : public ::testing::Test
{
public:
    static void SetUpTestSuite()
    {
        session = new test::SecretServiceSession;
        setupError = session->startBus();
    }

    static void TearDownTestSuite()
    {
        if (keyringStarted)
            test::scriptedPrompter::stop();
        delete session;
        session = nullptr;
        keyringStarted = false;
    }

protected:
    void SetUp() override
    {
        ASSERT_TRUE(setupError.isEmpty()) << setupError.toStdString();
        installTranslations(AppLanguage::en);
        // A service name of its own keeps each case's item apart.
        service = u"app.nimbel.test."_s + QUuid::createUuid().toString(QUuid::Id128);
        fallback = session->scratchPath(service + u"/platform-api-key"_s);
    }

    // gnome-keyring takes the bus for the rest of the process.
    static void startKeyring()
    {
        if (!std::exchange(keyringStarted, true))
            keyringError = session->startGnomeKeyring(test::scriptedPrompter::start());
        ASSERT_TRUE(keyringError.isEmpty()) << keyringError.toStdString();
    }

    std::unique_ptr<KeychainTokenStore> store(const QString &path = {},
                                              std::chrono::milliseconds bound = KeychainTokenStore::defaultPromptBound) const
    {
        return std::make_unique<KeychainTokenStore>(QProcessEnvironment(), service, path.isEmpty() ? fallback : path,
                                                    bound);
    }

    // Locks the keyring; its next prompt is answered with the password or dismissed.
    static void lockKeyring(bool ownerUnlocks)
    {
        const QString lockError = session->lockLoginKeyring();
        ASSERT_TRUE(lockError.isEmpty()) << lockError.toStdString();
        if (ownerUnlocks)
            test::scriptedPrompter::expectPassword(test::SecretServiceSession::keyringPassword);
        else
            test::scriptedPrompter::expectDismissal();
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
    static inline bool keyringStarted = false;
    static inline QString keyringError;
    QString service;
    QString fallback;
};

// First in the file: the bus has no secret service until its last step.
TEST_F(KeyStore, WithoutASecretServiceTheKeyIsKeptInTheOwnersFileUntilAWriteReachesTheKeyring)
{
    test::LogCapture capture;
    auto keys = store();
    EXPECT_EQ(keys->read(), QString()); // nothing stored anywhere yet
    const QString key = QString::fromUtf8("zk-κλειδί-42");
    writeAndWait(*keys, key);
    EXPECT_EQ(keys->keyLocation(), Location::privateFile);
    EXPECT_EQ(contents(fallback), key.toUtf8());
    EXPECT_EQ(mode(fallback), 0600);
    EXPECT_FALSE(QFileInfo::exists(fallback + u".tmp"_s));

    // An empty key, even right after a write still being stored, is written as an empty file.
    ASSERT_EQ(keys->write(u"zk-to-delete"_s), std::nullopt);
    writeAndWait(*keys, QString());
    EXPECT_EQ(contents(fallback), QByteArray());
    EXPECT_EQ(keys->keyLocation(), Location::none);
    EXPECT_EQ(store()->read(), QString());

    // A file that cannot be written (a plain file holds the folder's place):
    // kept for this session, and the settings say so.
    ASSERT_TRUE(QFile(session->scratchPath(u"blocker"_s)).open(QIODevice::WriteOnly));
    auto unsaved = store(session->scratchPath(u"blocker/platform-api-key"_s));
    std::optional<KeychainError> error;
    QObject::connect(unsaved.get(), &KeychainTokenStore::storeFailed, [&error](const KeychainError &e) { error = e; });
    writeAndWait(*unsaved, u"zk-unsaved"_s);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(unsaved->read(), u"zk-unsaved"_s);
    EXPECT_EQ(unsaved->keyLocation(), Location::memoryOnly);
    EXPECT_EQ(error->toDescription().message, u"Could not save the Zelm API key to the key store."_s);
    EXPECT_EQ(error->toDescription().recovery, ZelmRecovery::none);
    EXPECT_FALSE(error->description.contains(u"zk-unsaved"_s));

    // The keyring comes, but stops answering: a write not taken within the
    // bound is left in the file. (A store of its own keeps the call abandoned
    // here, answered once the keyring wakes, away from the item below.)
    ASSERT_NO_FATAL_FAILURE(startKeyring());
    session->freezeKeyring(true);
    auto patient = std::make_unique<KeychainTokenStore>(QProcessEnvironment(), service + u".patient"_s, fallback,
                                                        std::chrono::milliseconds(300));
    writeAndWait(*patient, u"zk-patient"_s);
    session->freezeKeyring(false);
    EXPECT_EQ(contents(fallback), QByteArray("zk-patient"));
    EXPECT_EQ(patient->keyLocation(), Location::privateFile);

    // Awake, holding an older key: the file's newer one wins until the next
    // write reaches the keyring, which removes the file.
    ASSERT_EQ(storeOutside("older-in-keyring"), 0);
    keys = store();
    EXPECT_EQ(keys->read(), u"zk-patient"_s);
    EXPECT_EQ(keys->keyLocation(), Location::privateFile);
    writeAndWait(*keys, u"fresh"_s);
    EXPECT_FALSE(QFileInfo::exists(fallback));
    EXPECT_EQ(keys->keyLocation(), Location::secretService);
    EXPECT_EQ(lookup().output, QByteArray("fresh"));
    EXPECT_EQ(store()->read(), u"fresh"_s);

    for (const char *written : {"κλειδί", "zk-unsaved", "zk-patient", "fresh"})
        EXPECT_FALSE(capture.all().contains(QString::fromUtf8(written))) << written;
}

TEST_F(KeyStore, WritesReplaceTheOneItemWithTheLatestKeyAndAnEmptyKeyDeletesIt)
{
    ASSERT_NO_FATAL_FAILURE(startKeyring());
    test::LogCapture capture;
    // An item stored by another program under service and account is read.
    ASSERT_EQ(storeOutside("from-outside"), 0);
    auto keys = store();
    EXPECT_EQ(keys->read(), u"from-outside"_s);
    EXPECT_EQ(keys->keyLocation(), Location::secretService);

    const QString first = QString::fromUtf8("zk-ключ-1");
    writeAndWait(*keys, first);
    EXPECT_EQ(lookup().output, first.toUtf8());
    EXPECT_EQ(itemCount(), 1);
    EXPECT_EQ(keys->keyLocation(), Location::secretService);
    EXPECT_EQ(store()->read(), first);

    // Writes made while one is being stored end with the latest.
    for (const QString &key : {u"zk-first"_s, u"zk-middle"_s, u"zk-latest"_s})
        EXPECT_EQ(keys->write(key), std::nullopt);
    EXPECT_EQ(keys->read(), u"zk-latest"_s);
    ASSERT_TRUE(test::waitUntilStored(*keys));
    EXPECT_EQ(lookup().output, QByteArray("zk-latest"));
    EXPECT_EQ(itemCount(), 1);

    writeAndWait(*keys, QString());
    EXPECT_NE(lookup().exitCode, 0);
    EXPECT_EQ(itemCount(), 0);
    EXPECT_EQ(keys->keyLocation(), Location::none);
    EXPECT_EQ(store()->read(), QString());

    // The service answered throughout: no file, no fallback, and no key in any log line.
    EXPECT_FALSE(QFileInfo::exists(fallback));
    EXPECT_FALSE(capture.all().contains(u"fallback"_s));
    EXPECT_FALSE(capture.all().contains(first));
    EXPECT_FALSE(capture.all().contains(u"zk-latest"_s));
}

// A locked keyring: storing shows the owner the keyring's password prompt.
// The key is usable at once, and the outcome follows the owner's answer.
TEST_F(KeyStore, LockedKeyringWaitsForTheOwnersAnswerWithTheKeyInMemory)
{
    ASSERT_NO_FATAL_FAILURE(startKeyring());
    // Unlocked last: the keyring is left open for the next test in this process.
    for (const bool ownerUnlocks : {false, true}) {
        SCOPED_TRACE(ownerUnlocks ? "owner types the password" : "owner declines");
        SetUp();
        test::LogCapture capture;
        ASSERT_NO_FATAL_FAILURE(lockKeyring(ownerUnlocks));

        auto keys = store();
        const QString key = u"zk-while-prompting"_s;
        EXPECT_EQ(keys->write(key), std::nullopt);
        // The prompt is open; the key is there for the next question already.
        EXPECT_EQ(keys->read(), key);
        EXPECT_EQ(keys->keyLocation(), Location::storing);

        ASSERT_TRUE(test::waitUntilStored(*keys));
        EXPECT_FALSE(test::scriptedPrompter::isExpecting()) << "the keyring never asked";
        EXPECT_EQ(keys->keyLocation(), ownerUnlocks ? Location::secretService : Location::privateFile);
        EXPECT_EQ(store()->read(), key);
        EXPECT_EQ(mode(fallback), ownerUnlocks ? -1 : 0600);
        EXPECT_FALSE(capture.all().contains(key));
    }
}

TEST_F(KeyStore, StartUpLoadLeavesTheLockedKeyringsPromptToTheOwnerWithoutWaitingForIt)
{
    ASSERT_NO_FATAL_FAILURE(startKeyring());
    const QString stored = u"zk-stored-before"_s;
    const QString paired = u"zk-paired-meanwhile"_s;
    for (const bool pairsMeanwhile : {false, true}) {
        SCOPED_TRACE(pairsMeanwhile ? "a pairing stores a key while the prompt is open" : "the owner unlocks");
        SetUp();
        writeAndWait(*store(), stored);
        ASSERT_NO_FATAL_FAILURE(lockKeyring(true));

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
