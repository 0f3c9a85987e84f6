#pragma once

#include "core/ErrorDescription.h"

#include <QString>

namespace nimbel {

// The error of every platform call. The user-facing descriptions are fixed
// Russian texts: they do not follow the interface language.
struct VisionGatewayError
{
    // In declaration order; the order is part of the contract with callers
    // that switch over it.
    enum class Kind {
        skillDisabled,
        server,
        agentUnavailable,
        invalidBaseURL,
        notConnected,
        imageEncodingFailed,
        invalidResponse,
        connectionFailed,
    };

    Kind kind = Kind::invalidResponse;
    // HTTP status of a `server` error, 0 otherwise.
    int status = 0;
    // Carried by `skillDisabled`, `server` and `agentUnavailable`.
    QString message;

    static VisionGatewayError skillDisabled(QString message) { return {Kind::skillDisabled, 0, std::move(message)}; }
    static VisionGatewayError server(int status, QString message) { return {Kind::server, status, std::move(message)}; }
    static VisionGatewayError agentUnavailable(QString message)
    {
        return {Kind::agentUnavailable, 0, std::move(message)};
    }
    static VisionGatewayError invalidBaseURL() { return {Kind::invalidBaseURL, 0, {}}; }
    static VisionGatewayError notConnected() { return {Kind::notConnected, 0, {}}; }
    static VisionGatewayError imageEncodingFailed() { return {Kind::imageEncodingFailed, 0, {}}; }
    static VisionGatewayError invalidResponse() { return {Kind::invalidResponse, 0, {}}; }
    static VisionGatewayError connectionFailed() { return {Kind::connectionFailed, 0, {}}; }

    // The text shown to the owner.
    QString description() const;
    ErrorDescription toDescription() const;

    bool operator==(const VisionGatewayError &) const = default;
};

} // namespace nimbel
