#pragma once

#include "conversation/SentScreenContext.h"

#include <QDateTime>
#include <QImage>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

namespace nimbel {

// A question put to the owner on an assistant message: whether to connect to
// another platform. The view shows Connect and Cancel; the choice goes to the
// view model by the message's identifier.
struct ConnectionChoice
{
    // The platform the link would connect to, as the owner recognises it.
    QString platformHost;
    // The agent named by the link; empty when it becomes known only after pairing.
    QString agentName;

    bool operator==(const ConnectionChoice &) const = default;
};

// One entry of the conversation. Only user and assistant messages are shown;
// analyst notes and screen facts stay in the list as context for later requests.
struct ChatMessage
{
    Q_GADGET
    Q_PROPERTY(QUuid id MEMBER id)
    Q_PROPERTY(nimbel::ChatMessage::Role role MEMBER role)
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(bool hasAttachment READ hasAttachment)
    Q_PROPERTY(QDateTime timestamp MEMBER timestamp)
    Q_PROPERTY(bool awaitsConnectionChoice READ awaitsConnectionChoice)
    Q_PROPERTY(bool hasSentContext READ hasSentContext)

public:
    enum class Role { user, assistant, analyst, screenFact };
    Q_ENUM(Role)

    QUuid id;
    Role role = Role::assistant;
    QString text;
    // The screenshot under the owner's question of a screen turn; null when none.
    QImage attachment;
    QDateTime timestamp;
    // Present while the message asks the owner to confirm a connection.
    std::optional<ConnectionChoice> pendingConnection;
    // What left the device for the screen question this message asked.
    std::optional<SentScreenContext> sentContext = std::nullopt;

    // A message with a fresh identifier.
    static ChatMessage create(Role role, QString text, QDateTime timestamp, QImage attachment = {});

    bool hasAttachment() const { return !attachment.isNull(); }
    bool awaitsConnectionChoice() const { return pendingConnection.has_value(); }
    bool hasSentContext() const { return sentContext.has_value(); }
    bool isDisplayed() const { return role == Role::user || role == Role::assistant; }

    bool operator==(const ChatMessage &) const = default;
};

// "user", "assistant", "analyst", "screenFact".
QString rawValue(ChatMessage::Role role);

} // namespace nimbel

Q_DECLARE_METATYPE(nimbel::ChatMessage)
