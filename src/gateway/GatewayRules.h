#pragma once

#include <QByteArrayView>
#include <QNetworkReply>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

namespace nimbel {

// The endpoint `path` (beginning with "/") resolved against `baseURL` taken
// exactly as passed: the path replaces the base's own path, query and
// fragment. Nullopt when the base does not parse, or when the result is not
// an http(s) address with a host (nothing else could be sent).
std::optional<QUrl> endpointURL(const QString &baseURL, QStringView path);

// The message of a failed response: a non-empty string under "error", or
// under "error"."message"; otherwise "Request failed".
QString serverErrorMessage(QByteArrayView body);

// Whether a transport error means the platform could not be reached
// (refused, host not found, connection lost, network down, timed out): such
// errors become `connectionFailed`, every other one is passed on.
bool isConnectionError(QNetworkReply::NetworkError code);

// Whether an API key can travel in a header: control characters inside it
// would let it write headers of its own.
bool isTransmittableKey(QStringView key);

} // namespace nimbel
