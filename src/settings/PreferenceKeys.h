#pragma once

#include "core/BuildInfo.h"

#include <QString>

// Every key of the per-user preferences store, with the defaults that apply
// when a key is absent (or holds a value of the wrong type).
namespace nimbel::keys {

// Platform address chosen by the owner or by pairing.
inline constexpr char desktopPlatformBaseURL[] = "desktopPlatformBaseURL";
// Address key of earlier releases: read once at start-up, never written or removed.
inline constexpr char desktopGatewayBaseURL[] = "desktopGatewayBaseURL";
inline constexpr char desktopConnectedAgentID[] = "desktopConnectedAgentID";
inline constexpr char desktopConnectedAgentName[] = "desktopConnectedAgentName";
inline constexpr char desktopGreetingRU[] = "desktopGreetingRU";
inline constexpr char desktopGreetingEN[] = "desktopGreetingEN";
// Absent means true; a stored false stays false.
inline constexpr char voiceOutputEnabled[] = "voiceOutputEnabled";
// The input source the owner chose; absent or empty follows the system's default.
inline constexpr char microphoneSource[] = "microphoneSource";
inline constexpr char accessibilityContextEnabled[] = "accessibilityContextEnabled";
// Whether a screen answer's target is pointed out on the screen; absent means true.
inline constexpr char screenHighlightEnabled[] = "screenHighlightEnabled";
inline constexpr char desktopFirstRunCompletedVersion[] = "desktopFirstRunCompletedVersion";
// Whether the update feed is checked on a schedule; absent means true.
inline constexpr char desktopAutomaticallyChecksForUpdates[] = "desktopAutomaticallyChecksForUpdates";
// "system", "en" or "ru"; anything else counts as "system".
inline constexpr char zelmAppLanguage[] = "ZelmAppLanguage";
// The owner's preferred languages for this application, ["en"] or ["ru"].
inline constexpr char appleLanguages[] = "AppleLanguages";
inline constexpr char overlayHasSavedLauncherAnchor[] = "overlayHasSavedLauncherAnchor";
inline constexpr char overlayLauncherAnchorX[] = "overlayLauncherAnchorX";
inline constexpr char overlayLauncherAnchorY[] = "overlayLauncherAnchorY";
inline constexpr char overlayHasSavedOrigin[] = "overlayHasSavedOrigin";
inline constexpr char overlayOriginX[] = "overlayOriginX";
inline constexpr char overlayOriginY[] = "overlayOriginY";
// The key combination that starts and ends a voice session from any application,
// as portable text ("Ctrl+Alt+Space", the default when absent or unusable).
inline constexpr char voiceSessionShortcut[] = "voiceSessionShortcut";

} // namespace nimbel::keys

namespace nimbel::defaults {

inline constexpr char greetingRU[] = "Чем могу помочь?";
inline constexpr char greetingEN[] = "How can I help?";
inline constexpr bool voiceOutputEnabled = true;
inline constexpr bool accessibilityContextEnabled = true;
inline constexpr bool screenHighlightEnabled = true;
inline constexpr qint64 firstRunCompletedVersion = 0;
inline constexpr char languagePreference[] = "system";
inline constexpr bool overlayHasSavedLauncherAnchor = false;
inline constexpr bool overlayHasSavedOrigin = false;
inline constexpr double overlayCoordinate = 0.0;
// The local development address of earlier releases; it is not carried over
// from the older address key.
inline constexpr char legacyLocalGatewayURL[] = "http://127.0.0.1:8787";

} // namespace nimbel::defaults

namespace nimbel {

// The platform's public HTTPS origin, a build option (NIMBEL_DEFAULT_PLATFORM_URL).
inline QString defaultPlatformURL()
{
    return QString::fromUtf8(build::defaultPlatformURL);
}

} // namespace nimbel
