#include "app/LanguageChoice.h"

#include "core/Log.h"
#include "settings/AppLanguage.h"

namespace nimbel {

LanguageChoice::LanguageChoice(PreferencesStore &preferences, std::function<void()> restart, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_restart(std::move(restart))
{
}

QString LanguageChoice::preference() const
{
    return appLanguage::rawValue(appLanguage::storedPreference(m_preferences));
}

bool LanguageChoice::choose(const QString &preference)
{
    // Only the three offered values; a stray value must not become "system" by accident.
    if (appLanguage::rawValue(appLanguage::preferenceFromRawValue(preference)) != preference)
        return false;
    if (!appLanguage::setPreference(appLanguage::preferenceFromRawValue(preference), m_preferences))
        return false;
    log::info(log::general(), log::Record().add(u"event", u"language_chosen").add(u"preference", preference));
    emit preferenceChanged();
    m_restart();
    return true;
}

} // namespace nimbel
