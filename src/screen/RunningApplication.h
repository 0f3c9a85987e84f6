#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace nimbel {

// An application as the desktop knows it: its desktop-file id (the bundle
// identifier), that file's localized Name, and its process.
struct RunningApplication
{
    std::optional<QString> bundleIdentifier;
    std::optional<QString> localizedName;
    std::optional<qint64> processIdentifier;
    // Docks, desktops and the like: windows the owner never works in.
    bool activationProhibited = false;

    bool operator==(const RunningApplication &) const = default;
};

// Who the assistant itself is, so that its own windows are never tracked or captured.
struct AssistantIdentity
{
    std::optional<QString> bundleIdentifier;
    std::optional<qint64> processIdentifier;

    // This process under the compiled-in application id.
    static AssistantIdentity current();

    // Whether `app` is the assistant: the same bundle identifier (two missing
    // identifiers count as the same) or the same process.
    bool isSelf(const RunningApplication &app) const;
};

} // namespace nimbel
