#include "gateway/GatewayFailure.h"

namespace nimbel {

ErrorDescription GatewayFailure::toDescription() const
{
    switch (kind()) {
    case Kind::gateway:
        return gatewayError()->toDescription();
    case Kind::transport:
        return {transportError()->text, ZelmRecovery::none, false};
    case Kind::cancelled:
        return {QStringLiteral("The request was cancelled."), ZelmRecovery::none, false};
    case Kind::invalidAudio:
        return {QStringLiteral("Zelm Platform returned audio we could not play."), ZelmRecovery::none, false};
    }
    return {};
}

} // namespace nimbel
