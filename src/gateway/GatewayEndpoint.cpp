#include "gateway/GatewayEndpoint.h"

#include "gateway/GatewayRules.h"
#include "gateway/VisionGatewayError.h"

namespace nimbel {

Result<GatewayEndpoint, GatewayFailure> GatewayEndpoint::resolve(const QString &baseURL, QStringView path,
                                                                 Access access, const QString &apiKey,
                                                                 const QString &agentID)
{
    GatewayEndpoint endpoint;
    if (access != Access::open) {
        endpoint.apiKey = apiKey.trimmed();
        endpoint.agentID = agentID.trimmed();
        const bool keyUsable = !endpoint.apiKey.isEmpty() && isTransmittableKey(endpoint.apiKey);
        if (!keyUsable || (access == Access::keyAndAgent && endpoint.agentID.isEmpty()))
            return GatewayFailure(VisionGatewayError::notConnected());
    }
    const auto url = endpointURL(baseURL, path);
    if (!url)
        return GatewayFailure(VisionGatewayError::invalidBaseURL());
    endpoint.url = *url;
    return endpoint;
}

} // namespace nimbel
