#include "settings/FakeTokenStore.h"
#include "settings/PreferenceKeys.h"
#include "settings/SettingsLoader.h"
#include "settings/TemporaryPreferences.h"

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;

namespace {

class SettingsLoading : public ::testing::Test, protected test::TemporaryPreferences
{
protected:
    LoadedSettings load(const QProcessEnvironment &env = {}, const QStringList &arguments = {})
    {
        return loadSettings(prefs, tokens, env, arguments);
    }

    static QProcessEnvironment environment(std::initializer_list<std::pair<const char *, const char *>> variables)
    {
        QProcessEnvironment env;
        for (const auto &[name, value] : variables)
            env.insert(QString::fromLatin1(name), QString::fromUtf8(value));
        return env;
    }

    test::FakeTokenStore tokens;
};

TEST_F(SettingsLoading, EmptyProfileGivesTheDefaultsOfEveryField)
{
    tokens.key = u"stored-key"_s;
    const LoadedSettings loaded = load();
    EXPECT_EQ(loaded.gatewayBaseURL, QStringLiteral(NIMBEL_EXPECTED_PLATFORM_URL));
    EXPECT_EQ(loaded.platformAPIKey, u"stored-key"_s);
    EXPECT_EQ(tokens.reads, 1);
    // Loading writes nothing back.
    EXPECT_TRUE(settings.allKeys().isEmpty());
    EXPECT_TRUE(loaded.voiceOutputEnabled);
    EXPECT_TRUE(loaded.accessibilityContextEnabled);

    // Only a stored false switches off.
    prefs.setBoolean(keys::accessibilityContextEnabled, false);
    EXPECT_FALSE(load().accessibilityContextEnabled);
}

TEST_F(SettingsLoading, AddressComesFromTheCurrentKeyThenTheOlderOneThenTheBuildDefault)
{
    struct Case { std::optional<QString> platform; std::optional<QString> gateway; QString expected; };
    const QString fallback = defaultPlatformURL();
    const QList<Case> cases = {
        {std::nullopt, std::nullopt, fallback},
        {std::nullopt, u"http://127.0.0.1:8787"_s, fallback},
        {std::nullopt, u"https://old.example"_s, u"https://old.example"_s},
        {QString(), u"https://old.example"_s, u"https://old.example"_s},
        {u"https://new.example"_s, u"https://old.example"_s, u"https://new.example"_s},
    };
    for (const Case &c : cases) {
        settings.clear();
        if (c.platform)
            prefs.setString(keys::desktopPlatformBaseURL, *c.platform);
        if (c.gateway)
            prefs.setString(keys::desktopGatewayBaseURL, *c.gateway);
        const QString description = u"platform=%1 gateway=%2"_s
                                        .arg(c.platform.value_or(u"<absent>"_s), c.gateway.value_or(u"<absent>"_s));
        EXPECT_EQ(load().gatewayBaseURL, c.expected) << description.toStdString();
        // The older key is only read: it is neither moved nor removed.
        EXPECT_EQ(prefs.string(keys::desktopGatewayBaseURL), c.gateway) << description.toStdString();
        EXPECT_EQ(prefs.string(keys::desktopPlatformBaseURL), c.platform) << description.toStdString();
    }

    // A current key of the wrong type counts as absent.
    settings.clear();
    prefs.setStringList(keys::desktopPlatformBaseURL, {u"a"_s, u"b"_s});
    prefs.setString(keys::desktopGatewayBaseURL, u"https://old.example"_s);
    EXPECT_EQ(load().gatewayBaseURL, u"https://old.example"_s);
}

TEST_F(SettingsLoading, TestKeyAppliesOnlyInTestModeAndOnlyWhenNotEmpty)
{
    tokens.key = u"stored"_s;
    struct Case { const char *name; QProcessEnvironment env; QStringList arguments; QString expected; };
    const QString program = u"/usr/bin/nimbel"_s;
    const QList<Case> cases = {
        {"variable without test mode", environment({{"ZELM_DESKTOP_QA_DEVICE_TOKEN", "env"}}), {program}, "stored"},
        {"mode and variable", environment({{"ZELM_DESKTOP_QA_MODE", "ask"}, {"ZELM_DESKTOP_QA_DEVICE_TOKEN", "env"}}),
         {program}, "env"},
        {"token option is itself a test option", {}, {program, "--zelm-qa-token", "arg"}, "arg"},
        {"variable replaces the option", environment({{"ZELM_DESKTOP_QA_DEVICE_TOKEN", "env"}}),
         {program, "--zelm-qa-token", "arg"}, "env"},
        {"empty variable, no option", environment({{"ZELM_DESKTOP_QA_MODE", "ask"}, {"ZELM_DESKTOP_QA_DEVICE_TOKEN", ""}}),
         {program}, "stored"},
        {"option without a value", environment({{"ZELM_DESKTOP_QA_MODE", "ask"}}), {program, "--zelm-qa-token"}, "stored"},
    };
    for (const Case &c : cases) {
        tokens.reads = 0;
        const LoadedSettings loaded = load(c.env, c.arguments);
        EXPECT_EQ(loaded.platformAPIKey, c.expected) << c.name;
        // The key store is consulted only when the stored key is the one used.
        EXPECT_EQ(tokens.reads, c.expected == u"stored" ? 1 : 0) << c.name;
    }
}

} // namespace
