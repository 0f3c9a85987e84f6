#pragma once

#include <QString>

#include <optional>

namespace nimbel {

// What the updater reports about itself; the view model mirrors it.
class UpdateStatus
{
public:
    virtual ~UpdateStatus() = default;
    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual std::optional<QString> lastError() const = 0;
};

} // namespace nimbel
