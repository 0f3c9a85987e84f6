#include "gateway/GatewayFailure.h"

namespace nimbel {

ErrorDescription GatewayFailure::toDescription() const
{
    switch (kind()) {
    case Kind::gateway:
        return gatewayError()->toDescription();
    case Kind::transport:
        // A redirect we would not follow (to another origin, where the key
        // must not go, or round in circles) is the platform answering wrongly;
        // the toolkit's own words for it tell the owner nothing.
        if (transportError()->code == QNetworkReply::InsecureRedirectError
            || transportError()->code == QNetworkReply::TooManyRedirectsError)
            return VisionGatewayError::invalidResponse().toDescription();
        return {transportError()->text, ZelmRecovery::none, false};
    case Kind::cancelled:
        return {QStringLiteral("The request was cancelled."), ZelmRecovery::none, false};
    case Kind::invalidAudio:
        return {QStringLiteral("Zelm Platform returned audio we could not play."), ZelmRecovery::none, false};
    }
    return {};
}

} // namespace nimbel
