#include "settings/KeychainTokenStore.h"
#include "settings/PreferencesStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

QProcessEnvironment withVariable(const char *name, const char *value)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), QStringLiteral("/home/owner"));
    if (name)
        env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return env;
}

TEST(KeychainTokenStore, IsDisabledExactlyUnderAUnitTestHost)
{
    EXPECT_FALSE(KeychainTokenStore::isUnitTestHost(withVariable(nullptr, nullptr)));
    EXPECT_TRUE(KeychainTokenStore::isUnitTestHost(withVariable("XCTestConfigurationFilePath", "/tmp/x.xctestconfiguration")));
    EXPECT_FALSE(KeychainTokenStore::isUnitTestHost(withVariable("XCTestBundlePathX", "1")));
    EXPECT_FALSE(KeychainTokenStore(withVariable("XCTestBundlePath", "")).isEnabled());
}

TEST(KeychainTokenStore, FallbackFileLivesApartFromThePreferences)
{
    const auto preferences = PreferencesStore::openUserSettings();
    const QFileInfo preferencesFile(preferences->fileName());
    const QFileInfo fallbackFile(KeychainTokenStore::defaultFallbackPath());
    EXPECT_NE(fallbackFile.absoluteFilePath(), preferencesFile.absoluteFilePath());
    EXPECT_NE(fallbackFile.absolutePath(), preferencesFile.absolutePath());
}

TEST(KeychainTokenStore, DisabledStoreNeitherReadsNorWritesAnything)
{
    QTemporaryDir dir;
    const QString fallback = dir.filePath(QStringLiteral("platform-api-key"));
    {
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left-by-an-earlier-run");
    }
    KeychainTokenStore store(withVariable("XCTestConfigurationFilePath", "/tmp/x"), QStringLiteral("nimbel.test.disabled"),
                             fallback);
    EXPECT_EQ(store.read(), QString());
    EXPECT_EQ(store.write(QStringLiteral("new-key")), std::nullopt);
    EXPECT_EQ(store.write(QString()), std::nullopt);
    QFile file(fallback);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("left-by-an-earlier-run"));
}

} // namespace
