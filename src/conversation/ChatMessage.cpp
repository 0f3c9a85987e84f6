#include "conversation/ChatMessage.h"

namespace nimbel {

ChatMessage ChatMessage::create(Role role, QString text, QDateTime timestamp, QImage attachment)
{
    return ChatMessage{QUuid::createUuid(), role, std::move(text), std::move(attachment), std::move(timestamp),
                       std::nullopt};
}

QString rawValue(ChatMessage::Role role)
{
    switch (role) {
    case ChatMessage::Role::user:
        return QStringLiteral("user");
    case ChatMessage::Role::assistant:
        return QStringLiteral("assistant");
    case ChatMessage::Role::analyst:
        return QStringLiteral("analyst");
    case ChatMessage::Role::screenFact:
        break;
    }
    return QStringLiteral("screenFact");
}

} // namespace nimbel
