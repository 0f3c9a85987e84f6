#pragma once

#include "screen/AccessibilityContextService.h"
#include "screen/linux/AccessibilityBusStatus.h"

namespace nimbel {

// The accessibility summary on AT-SPI. Walks run on the one libatspi worker
// thread of the process; the answer comes back to the main thread.
class AtspiAccessibilityContextService final : public AccessibilityContextService
{
public:
    // `sessionBusAddress` names the session whose accessibility status counts;
    // absent means this process's own session.
    explicit AtspiAccessibilityContextService(std::optional<std::string> sessionBusAddress = std::nullopt);

    QCoro::Task<std::optional<AccessibilityContext>> collect(qint32 processIdentifier,
                                                             std::optional<QString> applicationName,
                                                             std::optional<QString> bundleIdentifier,
                                                             std::stop_token stop = {}) override;

    bool isProcessTrusted() override;
    // Switches toolkit accessibility on for the session (applications that
    // follow it start exposing their trees), then checks again.
    bool promptForTrust() override;

private:
    std::optional<std::string> m_sessionBusAddress;
    AccessibilityBusStatus m_status;
};

} // namespace nimbel
