#include "settings/SettingsLoader.h"

#include "settings/PreferenceKeys.h"

namespace nimbel {

namespace {
const QString qaModeVariable = QStringLiteral("ZELM_DESKTOP_QA_MODE");
const QString qaDeviceTokenVariable = QStringLiteral("ZELM_DESKTOP_QA_DEVICE_TOKEN");
const QString qaTokenOption = QStringLiteral("--zelm-qa-token");
const QString qaOptionPrefix = QStringLiteral("--zelm-qa-");
} // namespace

bool isTestMode(const QProcessEnvironment &env, const QStringList &arguments)
{
    if (env.contains(qaModeVariable))
        return true;
    for (const QString &argument : arguments) {
        if (argument.startsWith(qaOptionPrefix))
            return true;
    }
    return false;
}

std::optional<QString> testKeyCandidate(const QProcessEnvironment &env, const QStringList &arguments)
{
    std::optional<QString> candidate;
    const qsizetype option = arguments.indexOf(qaTokenOption);
    if (option >= 0 && option + 1 < arguments.size())
        candidate = arguments.at(option + 1);
    if (env.contains(qaDeviceTokenVariable))
        candidate = env.value(qaDeviceTokenVariable);
    return candidate;
}

QString resolveGatewayBaseURL(const PreferencesStore &prefs)
{
    if (const auto current = prefs.string(keys::desktopPlatformBaseURL); current && !current->isEmpty())
        return *current;
    if (const auto older = prefs.string(keys::desktopGatewayBaseURL);
        older && !older->isEmpty() && *older != QLatin1String(defaults::legacyLocalGatewayURL))
        return *older;
    return defaultPlatformURL();
}

LoadedSettings loadSettings(const PreferencesStore &prefs, const TokenStore &tokens,
                            const QProcessEnvironment &env, const QStringList &arguments)
{
    LoadedSettings loaded;
    loaded.gatewayBaseURL = resolveGatewayBaseURL(prefs);
    loaded.connectedAgentID = prefs.string(keys::desktopConnectedAgentID).value_or(QString());
    loaded.connectedAgentName = prefs.string(keys::desktopConnectedAgentName).value_or(QString());
    loaded.greetingRU = prefs.string(keys::desktopGreetingRU).value_or(QString::fromUtf8(defaults::greetingRU));
    loaded.greetingEN = prefs.string(keys::desktopGreetingEN).value_or(QString::fromUtf8(defaults::greetingEN));

    const std::optional<QString> candidate = testKeyCandidate(env, arguments);
    if (isTestMode(env, arguments) && candidate && !candidate->isEmpty())
        loaded.platformAPIKey = *candidate;
    else
        loaded.platformAPIKey = tokens.read();

    loaded.voiceOutputEnabled = prefs.boolean(keys::voiceOutputEnabled).value_or(defaults::voiceOutputEnabled);
    loaded.accessibilityContextEnabled =
        prefs.boolean(keys::accessibilityContextEnabled).value_or(defaults::accessibilityContextEnabled);
    return loaded;
}

} // namespace nimbel
