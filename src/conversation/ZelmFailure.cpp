#include "conversation/ZelmFailure.h"

#include "settings/Localized.h"

namespace nimbel {

ZelmFailure ZelmFailure::from(const ErrorDescription &description)
{
    return ZelmFailure{description.message, description.recovery, description.isPermissionProblem};
}

QString ZelmFailure::title() const
{
    return isPermissionProblem ? L::text("error.title.permission") : L::text("error.title.general");
}

std::optional<QString> ZelmFailure::actionTitle() const
{
    switch (recovery) {
    case ZelmRecovery::none:
        return std::nullopt;
    case ZelmRecovery::restart:
        return L::text("error.action.restart");
    case ZelmRecovery::screenRecordingSettings:
        return L::text("error.action.screenSettings");
    case ZelmRecovery::voicePrivacySettings:
        return L::text("error.action.voiceSettings");
    }
    return std::nullopt;
}

} // namespace nimbel
