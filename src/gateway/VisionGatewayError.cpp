#include "gateway/VisionGatewayError.h"

#include "settings/Localized.h"

namespace nimbel {

// The platform's fixed descriptions are the Russian translations of these
// catalogue texts, word for word; an English interface shows the English ones.
QString VisionGatewayError::description() const
{
    switch (kind) {
    case Kind::skillDisabled:
        return message;
    case Kind::server:
        // Only "forbidden" and "not found" carry a message meant for the owner.
        return status == 403 || status == 404 ? message : L::text("error.gateway.generic");
    case Kind::agentUnavailable:
        return L::text("error.gateway.generic");
    case Kind::invalidBaseURL:
        return L::text("error.gateway.invalidBaseURL");
    case Kind::notConnected:
        return L::text("error.gateway.notConnected");
    case Kind::imageEncodingFailed:
        return L::text("error.gateway.imageEncoding");
    case Kind::invalidResponse:
        return L::text("error.gateway.invalidResponse");
    case Kind::connectionFailed:
        return L::text("error.gateway.connectionFailed");
    }
    return L::text("error.gateway.generic");
}

ErrorDescription VisionGatewayError::toDescription() const
{
    return {description(), ZelmRecovery::none, false};
}

} // namespace nimbel
