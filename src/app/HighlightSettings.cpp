#include "app/HighlightSettings.h"

#include "settings/Localized.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

namespace nimbel {

namespace {
HighlightSettings *current = nullptr;
}

HighlightSettings::HighlightSettings(PreferencesStore &preferences, bool available, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_available(available)
    , m_enabled(preferences.boolean(keys::screenHighlightEnabled).value_or(defaults::screenHighlightEnabled))
{
}

HighlightSettings *HighlightSettings::instance()
{
    return current;
}

void HighlightSettings::setInstance(HighlightSettings *settings)
{
    current = settings;
}

void HighlightSettings::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    m_preferences.setBoolean(keys::screenHighlightEnabled, enabled);
    emit enabledChanged();
}

QString HighlightSettings::title() const
{
    return L::text("settings.highlight");
}

QString HighlightSettings::hint() const
{
    return L::text("settings.highlight.hint");
}

QString HighlightSettings::unavailableReason() const
{
    return L::text("settings.highlight.unavailable");
}

} // namespace nimbel
