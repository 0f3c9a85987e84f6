#include "gateway/VisionGatewayError.h"

namespace nimbel {

namespace {
const QString genericFailure = QStringLiteral("Не получилось, сейчас разберусь.");
} // namespace

QString VisionGatewayError::description() const
{
    switch (kind) {
    case Kind::skillDisabled:
        return message;
    case Kind::server:
        // Only "forbidden" and "not found" carry a message meant for the owner.
        return status == 403 || status == 404 ? message : genericFailure;
    case Kind::agentUnavailable:
        return genericFailure;
    case Kind::invalidBaseURL:
        return QStringLiteral("Проверьте адрес Zelm Platform.");
    case Kind::notConnected:
        return QStringLiteral("Подключите Tolvo Agent на странице Zelm Platform.");
    case Kind::imageEncodingFailed:
        return QStringLiteral("Не удалось подготовить скриншот.");
    case Kind::invalidResponse:
        return QStringLiteral("Zelm Platform вернула некорректный ответ.");
    case Kind::connectionFailed:
        return QStringLiteral("Не удалось подключиться к Zelm Platform. Для local beta запустите платформу на порту 4100.");
    }
    return genericFailure;
}

ErrorDescription VisionGatewayError::toDescription() const
{
    return {description(), ZelmRecovery::none, false};
}

} // namespace nimbel
