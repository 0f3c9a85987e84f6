#include "app/DesktopServices.h"

#include "app/AppMetadata.h"
#include "screen/linux/AccessibilityBusStatus.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace nimbel {

BusAccessibilityTrust::BusAccessibilityTrust()
    : m_status(std::make_unique<AccessibilityBusStatus>())
{
}

BusAccessibilityTrust::~BusAccessibilityTrust() = default;

bool BusAccessibilityTrust::isTrusted() const
{
    return m_status->isTrusted();
}

LaunchAtLoginService::LaunchAtLoginService(QString autostartFolder)
    : m_folder(autostartFolder.isEmpty()
                   ? QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                         .filePath(QStringLiteral("autostart"))
                   : std::move(autostartFolder))
{
}

QString LaunchAtLoginService::entryPath() const
{
    return QDir(m_folder).filePath(QString::fromUtf8(appmeta::desktopFileName) + QStringLiteral(".desktop"));
}

bool LaunchAtLoginService::isEnabled() const
{
    return QFileInfo(entryPath()).isFile();
}

} // namespace nimbel
