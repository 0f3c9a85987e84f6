#include "app/LauncherAnchorStore.h"

#include <QSettings>

namespace nimbel {

namespace {
double number(const QSettings &settings, const char *key)
{
    bool ok = false;
    const double value = settings.value(QLatin1String(key)).toDouble(&ok);
    return ok ? value : 0.0;
}
} // namespace

panel::SavedPlacement readSavedPlacement(const QSettings &settings)
{
    using namespace placementKeys;
    panel::SavedPlacement saved;
    saved.hasLauncherAnchor = settings.value(QLatin1String(hasSavedLauncherAnchor), false).toBool();
    saved.launcherAnchor = {number(settings, launcherAnchorX), number(settings, launcherAnchorY)};
    saved.hasOrigin = settings.value(QLatin1String(hasSavedOrigin), false).toBool();
    saved.origin = {number(settings, originX), number(settings, originY)};
    return saved;
}

void saveLauncherAnchor(QSettings &settings, panel::Point anchor)
{
    using namespace placementKeys;
    settings.setValue(QLatin1String(launcherAnchorX), anchor.x);
    settings.setValue(QLatin1String(launcherAnchorY), anchor.y);
    settings.setValue(QLatin1String(hasSavedLauncherAnchor), true);
}

} // namespace nimbel
