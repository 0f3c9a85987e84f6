#pragma once

#include <QString>

namespace nimbel {

// What the owner can do about a failure; the failure's action button performs it.
enum class ZelmRecovery { none, restart, screenRecordingSettings, voicePrivacySettings };

// How an error presents itself to the owner. Every service error converts to
// this (its user-facing description and, for errors that offer one, a
// recovery), and the conversation turns it into a visible failure.
struct ErrorDescription
{
    QString message;
    ZelmRecovery recovery = ZelmRecovery::none;
    bool isPermissionProblem = false;

    bool operator==(const ErrorDescription &) const = default;
};

} // namespace nimbel
