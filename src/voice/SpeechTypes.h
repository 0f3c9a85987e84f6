#pragma once

#include "core/ErrorDescription.h"

#include <QString>

#include <cstdint>

namespace nimbel {

// Whether the assistant may use the microphone (and speech recognition).
enum class PermissionState : std::uint8_t { notDetermined = 0, authorized = 1, denied = 2, restricted = 3, unknown = 4 };

// The catalogue key of a permission state's label ("permission.allowed", …).
const char *permissionLabelKey(PermissionState state);

struct PermissionSnapshot
{
    PermissionState microphone = PermissionState::notDetermined;
    PermissionState speechRecognition = PermissionState::notDetermined;

    bool operator==(const PermissionSnapshot &) const = default;
};

// The microphone service's failures.
class SpeechError
{
public:
    enum Case { microphoneDenied, invalidAudioFormat, recordingFailed };

    SpeechError(Case value)
        : m_case(value)
    {
    }

    Case value() const { return m_case; }
    const char *localizationKey() const;
    QString message() const;
    ZelmRecovery recovery() const;
    bool isPermissionProblem() const { return m_case == microphoneDenied; }
    ErrorDescription toDescription() const;

    bool operator==(const SpeechError &) const = default;

private:
    Case m_case;
};

} // namespace nimbel
