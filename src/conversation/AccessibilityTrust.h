#pragma once

namespace nimbel {

// Whether this process may read other applications' accessibility trees.
class AccessibilityTrust
{
public:
    virtual ~AccessibilityTrust() = default;
    // The plain check: never asks the owner for anything.
    virtual bool isTrusted() const = 0;
};

} // namespace nimbel
