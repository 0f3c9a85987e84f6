#include "Credentials.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

namespace nimbel::localplatform {
namespace {

// Redeeming once only and the keys' acceptance are checked over HTTP in the server test.
TEST(LocalPlatformCredentials, CodesAndKeysAreUnguessableAndNeverRepeat)
{
    Credentials credentials;
    std::set<std::string> codes;
    std::set<std::string> keys;
    for (int i = 0; i < 200; ++i) {
        const auto pairing = credentials.issueCode("http://127.0.0.1:4100");
        EXPECT_TRUE(std::regex_match(pairing.code, std::regex("^[A-Za-z0-9_-]{24,160}$"))) << pairing.code;
        codes.insert(pairing.code);
        keys.insert(credentials.redeem(pairing.code)->token);
    }
    EXPECT_EQ(codes.size(), 200u);
    EXPECT_EQ(keys.size(), 200u);
    EXPECT_EQ(keys.begin()->rfind("zelm-", 0), 0u);
    EXPECT_EQ(credentials.issuedKeyCount(), 200u);
}

TEST(LocalPlatformCredentials, KeysPersistInTheStateDirectoryOnly)
{
    QTemporaryDir dir;
    const std::string state = dir.filePath(QStringLiteral("state")).toStdString();
    std::string token;
    {
        Credentials credentials(state);
        ASSERT_TRUE(credentials.restore().ok()); // nothing saved yet
        token = credentials.redeem(credentials.issueCode("http://127.0.0.1:1").code)->token;
    }
    const QString file = QString::fromStdString(state) + QStringLiteral("/keys.json");
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_FALSE(QFile::permissions(file).testAnyFlags(QFileDevice::ReadGroup | QFileDevice::ReadOther
                                                       | QFileDevice::WriteOther));

    Credentials restored(state);
    ASSERT_TRUE(restored.restore().ok());
    EXPECT_TRUE(restored.accepts(token));

    std::ofstream(file.toStdString(), std::ios::trunc) << "{\"keys\": 5}";
    Credentials corrupt(state);
    EXPECT_FALSE(corrupt.restore().ok());
}

} // namespace
} // namespace nimbel::localplatform
