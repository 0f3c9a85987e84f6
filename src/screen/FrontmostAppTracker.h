#pragma once

#include "screen/RunningApplication.h"

#include <optional>

namespace nimbel {

// Remembers the application the owner last worked in, so that a capture still
// targets it after the assistant's own panel has taken focus (platform boundary).
class FrontmostAppTracker
{
public:
    virtual ~FrontmostAppTracker() = default;
    virtual std::optional<RunningApplication> lastExternalApplication() const = 0;

    // The rule of what gets remembered: something present, not the assistant,
    // and an application that can be activated at all.
    static bool isExternal(const std::optional<RunningApplication> &app, const AssistantIdentity &self)
    {
        return app && !self.isSelf(*app) && !app->activationProhibited;
    }
};

} // namespace nimbel
