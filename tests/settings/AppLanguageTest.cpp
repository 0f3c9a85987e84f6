#include "settings/AppLanguage.h"
#include "settings/PreferenceKeys.h"
#include "settings/TemporaryPreferences.h"

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;
namespace lang = nimbel::appLanguage;

namespace {

class LanguageSettings : public ::testing::Test, protected test::TemporaryPreferences {};

TEST(AppLanguageRules, ResolutionFollowsTheChoiceOrTheFirstPreferredLocalization)
{
    struct Case { LanguagePreference preference; QStringList localizations; AppLanguage expected; };
    const QList<Case> cases = {
        {LanguagePreference::en, {"ru-RU"}, AppLanguage::en},
        {LanguagePreference::ru, {"en-GB"}, AppLanguage::ru},
        {LanguagePreference::system, {"ru-RU"}, AppLanguage::ru},
        {LanguagePreference::system, {"en-GB", "ru"}, AppLanguage::en},
        {LanguagePreference::system, {}, AppLanguage::en},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lang::resolve(c.preference, c.localizations), c.expected)
            << lang::rawValue(c.preference).toStdString() << " [" << c.localizations.join(u',').toStdString() << "]";
}

TEST(AppLanguageRules, ShippedLanguagesAreOrderedByTheOwnersPreferredLanguages)
{
    const QStringList shipped = lang::shippedLocalizations();
    EXPECT_EQ(lang::preferredLocalizations(shipped, {"de-DE", "ru_RU.UTF-8"}), (QStringList{"ru", "en"}));
    // Nothing matches: the development language comes first.
    EXPECT_EQ(lang::preferredLocalizations(shipped, {"de-DE", "fr"}), (QStringList{"en", "ru"}));
}

TEST_F(LanguageSettings, CurrentReadsTheStoredPreferenceThenTheStoredLanguageList)
{
    EXPECT_EQ(lang::current(prefs, {"ru-RU"}), AppLanguage::ru);
    prefs.setString(keys::zelmAppLanguage, u"en"_s);
    EXPECT_EQ(lang::current(prefs, {"ru-RU"}), AppLanguage::en);
    prefs.setString(keys::zelmAppLanguage, u"ru"_s);
    EXPECT_EQ(lang::current(prefs, {"en-GB"}), AppLanguage::ru);
    // Only the exact raw values choose a language.
    for (const QString &raw : {u"system"_s, u"EN"_s}) {
        prefs.setString(keys::zelmAppLanguage, raw);
        EXPECT_EQ(lang::storedPreference(prefs), LanguagePreference::system) << raw.toStdString();
    }
    EXPECT_EQ(lang::current(prefs, {"ru-RU"}), AppLanguage::ru);

    // Without one, the stored language list leads the localization order.
    prefs.setStringList(keys::appleLanguages, {"ru"});
    EXPECT_EQ(lang::bundleLocalizations(prefs), (QStringList{"ru", "en"}));
    EXPECT_EQ(lang::current(prefs), AppLanguage::ru);
}

TEST_F(LanguageSettings, SetPreferenceStoresBothKeysAndReportsWhetherAnythingChanged)
{
    // Absent is `system` already.
    EXPECT_FALSE(lang::setPreference(LanguagePreference::system, prefs));
    EXPECT_TRUE(settings.allKeys().isEmpty());

    EXPECT_TRUE(lang::setPreference(LanguagePreference::ru, prefs));
    EXPECT_EQ(prefs.string(keys::zelmAppLanguage), u"ru"_s);
    EXPECT_EQ(prefs.stringList(keys::appleLanguages), QStringList{"ru"});
    EXPECT_FALSE(lang::setPreference(LanguagePreference::ru, prefs));

    EXPECT_TRUE(lang::setPreference(LanguagePreference::system, prefs));
    EXPECT_FALSE(prefs.contains(keys::zelmAppLanguage));
    EXPECT_FALSE(prefs.contains(keys::appleLanguages));

    // An unknown stored value already means `system`: nothing changes.
    prefs.setString(keys::zelmAppLanguage, u"de"_s);
    EXPECT_FALSE(lang::setPreference(LanguagePreference::system, prefs));
    EXPECT_EQ(prefs.string(keys::zelmAppLanguage), u"de"_s);
}

} // namespace
