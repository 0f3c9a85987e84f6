#pragma once

#include "core/Result.h"
#include "gateway/GatewayFailure.h"

#include <QString>
#include <QStringView>
#include <QUrl>

namespace nimbel {

// Where one operation goes and as whom: the endpoint's address, the key for the
// "Authorization" header and the agent, checked once before anything is built.
struct GatewayEndpoint
{
    enum class Access {
        open,        // no key is sent (the pairing exchange)
        key,         // a usable key
        keyAndAgent, // a usable key and a non-blank agent
    };

    QUrl url;
    QString apiKey;  // trimmed; empty for open endpoints
    QString agentID; // trimmed

    // `notConnected` when the access asks for a key (or agent) that is blank or a
    // key that could not travel in a header, then `invalidBaseURL` when `path`
    // does not resolve against `baseURL`.
    static Result<GatewayEndpoint, GatewayFailure> resolve(const QString &baseURL, QStringView path, Access access,
                                                           const QString &apiKey = {}, const QString &agentID = {});
};

} // namespace nimbel
