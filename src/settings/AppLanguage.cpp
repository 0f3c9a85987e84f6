#include "settings/AppLanguage.h"

#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QLocale>

namespace nimbel::appLanguage {

QString rawValue(LanguagePreference preference)
{
    switch (preference) {
    case LanguagePreference::en:
        return QStringLiteral("en");
    case LanguagePreference::ru:
        return QStringLiteral("ru");
    case LanguagePreference::system:
        break;
    }
    return QStringLiteral("system");
}

LanguagePreference preferenceFromRawValue(QStringView raw)
{
    if (raw == u"en")
        return LanguagePreference::en;
    if (raw == u"ru")
        return LanguagePreference::ru;
    return LanguagePreference::system;
}

LanguagePreference storedPreference(const PreferencesStore &prefs)
{
    return preferenceFromRawValue(prefs.string(keys::zelmAppLanguage).value_or(QString()));
}

AppLanguage resolve(LanguagePreference preference, const QStringList &bundleLocalizations)
{
    switch (preference) {
    case LanguagePreference::en:
        return AppLanguage::en;
    case LanguagePreference::ru:
        return AppLanguage::ru;
    case LanguagePreference::system:
        break;
    }
    if (!bundleLocalizations.isEmpty() && bundleLocalizations.first().left(2).toLower() == u"ru")
        return AppLanguage::ru;
    return AppLanguage::en;
}

AppLanguage current(const PreferencesStore &prefs, const QStringList &bundleLocalizations)
{
    return resolve(storedPreference(prefs), bundleLocalizations);
}

AppLanguage current(const PreferencesStore &prefs)
{
    return current(prefs, bundleLocalizations(prefs));
}

bool setPreference(LanguagePreference preference, PreferencesStore &prefs)
{
    if (storedPreference(prefs) == preference)
        return false;
    if (preference == LanguagePreference::system) {
        prefs.remove(keys::zelmAppLanguage);
        prefs.remove(keys::appleLanguages);
    } else {
        const QString raw = rawValue(preference);
        prefs.setString(keys::zelmAppLanguage, raw);
        prefs.setStringList(keys::appleLanguages, QStringList{raw});
    }
    return true;
}

QString code(AppLanguage language)
{
    return language == AppLanguage::ru ? QStringLiteral("ru") : QStringLiteral("en");
}

QString speechLocale(AppLanguage language)
{
    return language == AppLanguage::ru ? QStringLiteral("ru-RU") : QStringLiteral("en-US");
}

QStringList shippedLocalizations()
{
    return {QStringLiteral("en"), QStringLiteral("ru")};
}

QStringList preferredLocalizations(const QStringList &shipped, const QStringList &preferredLanguages)
{
    QStringList ordered;
    for (const QString &language : preferredLanguages) {
        const QString base = language.section(u'-', 0, 0).section(u'_', 0, 0).toLower();
        for (const QString &candidate : shipped) {
            if (candidate.toLower() == base && !ordered.contains(candidate))
                ordered.append(candidate);
        }
    }
    for (const QString &candidate : shipped) {
        if (!ordered.contains(candidate))
            ordered.append(candidate);
    }
    return ordered;
}

QStringList preferredLanguages(const PreferencesStore &prefs)
{
    if (const auto stored = prefs.stringList(keys::appleLanguages); stored && !stored->isEmpty())
        return *stored;
    return QLocale::system().uiLanguages();
}

QStringList bundleLocalizations(const PreferencesStore &prefs)
{
    return preferredLocalizations(shippedLocalizations(), preferredLanguages(prefs));
}

} // namespace nimbel::appLanguage
