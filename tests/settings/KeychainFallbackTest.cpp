#include "settings/KeychainTokenStore.h"
#include "settings/Localized.h"
#include "settings/SecretServiceSession.h"
#include "support/LogCapture.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace nimbel;
using namespace Qt::StringLiterals;

namespace {

// The key store on a session bus where no secret service answers.
class KeychainWithoutSecretService : public ::testing::Test
{
public:
    static void SetUpTestSuite()
    {
        session = new test::SecretServiceSession;
        setupError = session->startBus();
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
        installTranslations(AppLanguage::en);
        fallback = session->scratchPath(u"data-%1/platform-api-key"_s.arg(++cases));
    }

    KeychainTokenStore store(const QString &path = {}) const
    {
        return KeychainTokenStore({}, u"app.nimbel.test.fallback"_s, path.isEmpty() ? fallback : path);
    }

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    static int mode(const QString &path)
    {
        struct stat info{};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return -1;
        return int(info.st_mode & 07777);
    }

    static inline test::SecretServiceSession *session = nullptr;
    static inline QString setupError;
    static inline int cases = 0;
    QString fallback;
};

TEST_F(KeychainWithoutSecretService, KeyGoesToAFileOnlyTheOwnerCanReadAndAnEmptyKeyRecordsTheDeletion)
{
    test::LogCapture capture;
    KeychainTokenStore keys = store();
    EXPECT_EQ(keys.read(), QString()); // nothing stored anywhere yet
    const QString key = QString::fromUtf8("zk-κλειδί-42");
    EXPECT_EQ(keys.write(key), std::nullopt);
    ASSERT_TRUE(test::waitUntilStored(keys));
    EXPECT_EQ(keys.keyLocation(), KeychainTokenStore::KeyLocation::privateFile);
    EXPECT_EQ(contents(fallback), key.toUtf8());
    EXPECT_EQ(mode(fallback), 0600);
    EXPECT_FALSE(QFileInfo::exists(fallback + u".tmp"_s));
    EXPECT_EQ(keys.read(), key);

    // A replacement keeps the file private and is what the next launch reads.
    EXPECT_EQ(keys.write(u"zk-second"_s), std::nullopt);
    ASSERT_TRUE(test::waitUntilStored(keys));
    EXPECT_EQ(mode(fallback), 0600);
    EXPECT_EQ(store().read(), u"zk-second"_s);
    EXPECT_FALSE(capture.all().contains(key));
    EXPECT_FALSE(capture.all().contains(u"zk-second"_s));

    // An empty key, even right after a write still being stored, is written as an empty file.
    ASSERT_EQ(keys.write(u"zk-to-delete"_s), std::nullopt);
    EXPECT_EQ(keys.write(QString()), std::nullopt);
    ASSERT_TRUE(test::waitUntilStored(keys));
    EXPECT_TRUE(QFileInfo::exists(fallback));
    EXPECT_EQ(contents(fallback), QByteArray());
    EXPECT_EQ(keys.keyLocation(), KeychainTokenStore::KeyLocation::none);
    EXPECT_EQ(store().read(), QString());
}

TEST_F(KeychainWithoutSecretService, FileThatCannotBeWrittenFailsWithTheSaveMessage)
{
    // The data folder's place is taken by a plain file.
    const QString blocker = session->scratchPath(u"blocker-%1"_s.arg(cases));
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    test::LogCapture capture;
    KeychainTokenStore keys = store(blocker + u"/platform-api-key"_s);
    std::optional<KeychainError> error;
    QObject::connect(&keys, &KeychainTokenStore::storeFailed, [&error](const KeychainError &e) { error = e; });
    EXPECT_EQ(keys.write(u"zk-unsaved"_s), std::nullopt);
    ASSERT_TRUE(test::waitUntilStored(keys));
    ASSERT_TRUE(error.has_value());
    // Kept for this session, and the settings say so.
    EXPECT_EQ(keys.read(), u"zk-unsaved"_s);
    EXPECT_EQ(keys.keyLocation(), KeychainTokenStore::KeyLocation::memoryOnly);
    EXPECT_EQ(error->toDescription().message, u"Could not save the Zelm API key to the key store."_s);
    EXPECT_EQ(error->toDescription().recovery, ZelmRecovery::none);
    EXPECT_FALSE(error->description.contains(u"zk-unsaved"_s));
    EXPECT_FALSE(capture.all().contains(u"zk-unsaved"_s));
}

TEST_F(KeychainWithoutSecretService, ServiceThatNeverAnswersWithinTheBoundLeavesTheKeyInTheFile)
{
    const QString hungError = session->startHungService(QStringLiteral(NIMBEL_HUNG_SECRET_SERVICE));
    ASSERT_TRUE(hungError.isEmpty()) << hungError.toStdString();
    KeychainTokenStore keys({}, u"app.nimbel.test.fallback"_s, fallback, std::chrono::milliseconds(300));
    EXPECT_EQ(keys.write(u"zk-patient"_s), std::nullopt);
    ASSERT_TRUE(test::waitUntilStored(keys));
    EXPECT_EQ(contents(fallback), QByteArray("zk-patient"));
    EXPECT_EQ(keys.keyLocation(), KeychainTokenStore::KeyLocation::privateFile);
    // The abandoned call ends when its service goes away.
    session->stopHungService();
}

} // namespace
