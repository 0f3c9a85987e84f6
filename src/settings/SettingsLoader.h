#pragma once

#include "settings/PreferencesStore.h"
#include "settings/TokenStore.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace nimbel {

// What the view model takes over from storage when it is built.
struct LoadedSettings
{
    QString gatewayBaseURL;
    QString connectedAgentID;
    QString connectedAgentName;
    QString greetingRU;
    QString greetingEN;
    QString platformAPIKey;
    bool voiceOutputEnabled = true;
    bool accessibilityContextEnabled = true;

    bool operator==(const LoadedSettings &) const = default;
};

// Test mode: `ZELM_DESKTOP_QA_MODE` is present or any argument begins with "--zelm-qa-".
bool isTestMode(const QProcessEnvironment &env, const QStringList &arguments);

// The test key: the argument after "--zelm-qa-token", replaced by the value of
// `ZELM_DESKTOP_QA_DEVICE_TOKEN` whenever that variable is present (even empty).
std::optional<QString> testKeyCandidate(const QProcessEnvironment &env, const QStringList &arguments);

// "desktopPlatformBaseURL" when it holds a non-empty string; else the older
// "desktopGatewayBaseURL" unless it is empty or the old local development
// address; else the build's default platform address.
QString resolveGatewayBaseURL(const PreferencesStore &prefs);

// The loading order of view-model construction. The key store is read only
// when no test key applies.
LoadedSettings loadSettings(const PreferencesStore &prefs, const TokenStore &tokens,
                            const QProcessEnvironment &env, const QStringList &arguments);

} // namespace nimbel
