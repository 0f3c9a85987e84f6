#pragma once

#include "settings/PreferencesStore.h"

#include <QSettings>
#include <QTemporaryDir>

namespace nimbel::test {

// Preferences in an INI file of a fresh temporary folder.
struct TemporaryPreferences
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("prefs.conf")), QSettings::IniFormat};
    PreferencesStore prefs{&settings};
};

} // namespace nimbel::test
