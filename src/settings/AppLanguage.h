#pragma once

#include <QString>
#include <QStringList>

namespace nimbel {

class PreferencesStore;

// The interface language.
enum class AppLanguage { en, ru };
// What the owner chose: raw values "system", "en", "ru".
enum class LanguagePreference { system, en, ru };

namespace appLanguage {

QString rawValue(LanguagePreference preference);
// Anything but "en" or "ru" (including nothing) counts as `system`.
LanguagePreference preferenceFromRawValue(QStringView raw);
// The preference stored under "ZelmAppLanguage".
LanguagePreference storedPreference(const PreferencesStore &prefs);

// `en` and `ru` stand; `system` is `ru` when the first preferred localization
// starts with "ru" (any case), else `en` (also with none).
AppLanguage resolve(LanguagePreference preference, const QStringList &bundleLocalizations);
AppLanguage current(const PreferencesStore &prefs, const QStringList &bundleLocalizations);
// Same, with the localizations this installation offers to the owner.
AppLanguage current(const PreferencesStore &prefs);

// Stores a new preference; false (and nothing written) when it is already the
// stored one. `en`/`ru` store the raw value and the list ["en"]/["ru"] under
// "AppleLanguages"; `system` removes both keys. The caller then restarts.
bool setPreference(LanguagePreference preference, PreferencesStore &prefs);

// "en" or "ru".
QString code(AppLanguage language);
// "en-US" or "ru-RU".
QString speechLocale(AppLanguage language);

// The languages the application ships, the development language first.
QStringList shippedLocalizations();
// `shipped` ordered by the owner's preferred languages ("ru-RU", "en_GB", "de"
// match by their language part); shipped languages nobody asked for follow in
// their own order.
QStringList preferredLocalizations(const QStringList &shipped, const QStringList &preferredLanguages);
// The owner's preferred languages: the application's own "AppleLanguages"
// list when one is stored, else the desktop's UI languages.
QStringList preferredLanguages(const PreferencesStore &prefs);
// preferredLocalizations(shippedLocalizations(), preferredLanguages(prefs)).
QStringList bundleLocalizations(const PreferencesStore &prefs);

} // namespace appLanguage
} // namespace nimbel
