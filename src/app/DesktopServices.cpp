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

} // namespace nimbel
