#pragma once

#include <QDateTime>
#include <QImage>
#include <QMetaType>
#include <QString>
#include <QUuid>

namespace nimbel {

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

public:
    enum class Role { user, assistant, analyst, screenFact };
    Q_ENUM(Role)

    QUuid id;
    Role role = Role::assistant;
    QString text;
    // The screenshot under the owner's question of a screen turn; null when none.
    QImage attachment;
    QDateTime timestamp;

    // A message with a fresh identifier.
    static ChatMessage create(Role role, QString text, QDateTime timestamp, QImage attachment = {});

    bool hasAttachment() const { return !attachment.isNull(); }
    bool isDisplayed() const { return role == Role::user || role == Role::assistant; }

    bool operator==(const ChatMessage &) const = default;
};

// "user", "assistant", "analyst", "screenFact".
QString rawValue(ChatMessage::Role role);

} // namespace nimbel

Q_DECLARE_METATYPE(nimbel::ChatMessage)
