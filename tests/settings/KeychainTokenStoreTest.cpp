#include "settings/KeychainTokenStore.h"
#include "settings/PreferencesStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;

namespace {

QProcessEnvironment withVariable(const char *name, const char *value)
{
    QProcessEnvironment env;
    env.insert(u"HOME"_s, u"/home/owner"_s);
    if (name)
        env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return env;
}

TEST(KeychainTokenStore, FallbackFileLivesApartFromThePreferences)
{
    const QFileInfo preferencesFile(PreferencesStore::openUserSettings()->fileName());
    const QFileInfo fallbackFile(KeychainTokenStore::defaultFallbackPath());
    EXPECT_NE(fallbackFile.absoluteFilePath(), preferencesFile.absoluteFilePath());
    EXPECT_NE(fallbackFile.absolutePath(), preferencesFile.absolutePath());
}

TEST(KeychainTokenStore, UnderAUnitTestHostTheStoreNeitherReadsNorWritesAnything)
{
    EXPECT_FALSE(KeychainTokenStore::isUnitTestHost(withVariable(nullptr, nullptr)));
    EXPECT_FALSE(KeychainTokenStore::isUnitTestHost(withVariable("XCTestBundlePathX", "1")));
    EXPECT_FALSE(KeychainTokenStore(withVariable("XCTestBundlePath", "")).isEnabled());

    QTemporaryDir dir;
    const QString fallback = dir.filePath(u"platform-api-key"_s);
    {
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left-by-an-earlier-run");
    }
    KeychainTokenStore store(withVariable("XCTestConfigurationFilePath", "/tmp/x"), u"nimbel.test.disabled"_s, fallback);
    EXPECT_EQ(store.read(), QString());
    EXPECT_EQ(store.write(u"new-key"_s), std::nullopt);
    EXPECT_EQ(store.write(QString()), std::nullopt);
    QFile file(fallback);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("left-by-an-earlier-run"));
}

} // namespace
