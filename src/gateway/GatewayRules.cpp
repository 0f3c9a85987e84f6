#include "gateway/GatewayRules.h"

#include "gateway/WireJson.h"

namespace nimbel {

std::optional<QUrl> endpointURL(const QString &baseURL, QStringView path)
{
    const QUrl base(baseURL, QUrl::StrictMode);
    if (baseURL.isEmpty() || !base.isValid())
        return std::nullopt;
    const QUrl resolved = base.resolved(QUrl(path.toString(), QUrl::StrictMode));
    const QString scheme = resolved.scheme();
    if (!resolved.isValid() || (scheme != u"http" && scheme != u"https") || resolved.host().isEmpty())
        return std::nullopt;
    return resolved;
}

QString serverErrorMessage(QByteArrayView body)
{
    const QString fallback = QStringLiteral("Request failed");
    const auto json = wire::parse(body);
    if (!json || !json->is_object())
        return fallback;
    const auto error = json->find("error");
    if (error == json->end())
        return fallback;
    if (error->is_string() && !error->get_ref<const std::string &>().empty())
        return wire::toQString(error->get_ref<const std::string &>());
    if (error->is_object()) {
        const auto message = error->find("message");
        if (message != error->end() && message->is_string() && !message->get_ref<const std::string &>().empty())
            return wire::toQString(message->get_ref<const std::string &>());
    }
    return fallback;
}

bool isConnectionError(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return true;
    default:
        return false;
    }
}

bool isTransmittableKey(QStringView key)
{
    for (const QChar c : key) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

} // namespace nimbel
