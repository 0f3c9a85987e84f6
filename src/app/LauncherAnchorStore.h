#pragma once

#include "app/PanelGeometry.h"

class QSettings;

namespace nimbel {

// Where the launcher's place is remembered between runs.
namespace placementKeys {
inline constexpr char hasSavedLauncherAnchor[] = "overlayHasSavedLauncherAnchor";
inline constexpr char launcherAnchorX[] = "overlayLauncherAnchorX";
inline constexpr char launcherAnchorY[] = "overlayLauncherAnchorY";
// Written by older versions; still read, never written.
inline constexpr char hasSavedOrigin[] = "overlayHasSavedOrigin";
inline constexpr char originX[] = "overlayOriginX";
inline constexpr char originY[] = "overlayOriginY";
} // namespace placementKeys

panel::SavedPlacement readSavedPlacement(const QSettings &settings);
void saveLauncherAnchor(QSettings &settings, panel::Point anchor);

} // namespace nimbel
