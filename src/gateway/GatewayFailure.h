#pragma once

#include "core/ErrorDescription.h"
#include "gateway/VisionGatewayError.h"

#include <QNetworkReply>
#include <QString>

#include <variant>

namespace nimbel {

// A transport failure that the gateway does not classify, passed on as Qt
// reported it (for example a TLS handshake failure).
struct TransportError
{
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    QString text;

    bool operator==(const TransportError &) const = default;
};

// How a gateway call fails:
// - `gateway`: a classified VisionGatewayError (the usual case);
// - `transport`: a transport error the gateway does not map, passed on unchanged;
// - `cancelled`: the caller's stop token was stopped; the request was aborted
//   and no partial result exists. Callers drop it silently;
// - `invalidAudio`: the speech endpoint produced no audio (or was handed no
//   text); the voice output maps it onto its own invalid-audio error.
class GatewayFailure
{
public:
    enum class Kind { gateway, transport, cancelled, invalidAudio };

    GatewayFailure(VisionGatewayError error)
        : m_data(std::move(error))
    {
    }
    static GatewayFailure transport(QNetworkReply::NetworkError code, QString text)
    {
        return GatewayFailure(TransportError{code, std::move(text)});
    }
    static GatewayFailure cancelled() { return GatewayFailure(Cancelled{}); }
    static GatewayFailure invalidAudio() { return GatewayFailure(InvalidAudio{}); }

    Kind kind() const { return static_cast<Kind>(m_data.index()); }
    bool isCancelled() const { return kind() == Kind::cancelled; }
    // Whether this is the gateway error of the given kind.
    bool is(VisionGatewayError::Kind errorKind) const
    {
        const auto *error = gatewayError();
        return error && error->kind == errorKind;
    }
    // Null unless kind() is `gateway`.
    const VisionGatewayError *gatewayError() const { return std::get_if<VisionGatewayError>(&m_data); }
    // Null unless kind() is `transport`.
    const TransportError *transportError() const { return std::get_if<TransportError>(&m_data); }

    // The owner-facing description: the gateway error's fixed text, the
    // transport error's own text (a refused redirect reads as an invalid
    // response), or a plain English text for the other two
    // (the voice output substitutes its catalogue text for invalid audio).
    ErrorDescription toDescription() const;

    bool operator==(const GatewayFailure &) const = default;

private:
    struct Cancelled
    {
        bool operator==(const Cancelled &) const = default;
    };
    struct InvalidAudio
    {
        bool operator==(const InvalidAudio &) const = default;
    };
    explicit GatewayFailure(TransportError error)
        : m_data(std::move(error))
    {
    }
    explicit GatewayFailure(Cancelled cancelled)
        : m_data(cancelled)
    {
    }
    explicit GatewayFailure(InvalidAudio invalid)
        : m_data(invalid)
    {
    }

    // Alternative order matches Kind.
    std::variant<VisionGatewayError, TransportError, Cancelled, InvalidAudio> m_data;
};

} // namespace nimbel
