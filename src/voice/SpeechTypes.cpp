#include "voice/SpeechTypes.h"

#include "settings/Localized.h"

namespace nimbel {

const char *permissionLabelKey(PermissionState state)
{
    switch (state) {
    case PermissionState::notDetermined:
        return "permission.notRequested";
    case PermissionState::authorized:
        return "permission.allowed";
    case PermissionState::denied:
        return "permission.denied";
    case PermissionState::restricted:
        return "permission.restricted";
    case PermissionState::unknown:
        break;
    }
    return "permission.unknown";
}

const char *SpeechError::localizationKey() const
{
    switch (m_case) {
    case microphoneDenied:
        return "error.mic.denied";
    case invalidAudioFormat:
        return "error.mic.engine";
    case recordingFailed:
        break;
    }
    return "error.mic.recording";
}

QString SpeechError::message() const
{
    return L::text(localizationKey());
}

ZelmRecovery SpeechError::recovery() const
{
    return m_case == microphoneDenied ? ZelmRecovery::voicePrivacySettings : ZelmRecovery::none;
}

ErrorDescription SpeechError::toDescription() const
{
    return {message(), recovery(), isPermissionProblem()};
}

} // namespace nimbel
