#pragma once

#include "gateway/WireJson.h"

#include <QList>
#include <QString>

#include <optional>

namespace nimbel {

// One message of a chat request; built by the conversation window.
struct DesktopChatMessage
{
    QString role; // "user" or "assistant"
    QString content;

    bool operator==(const DesktopChatMessage &) const = default;
};

// The chat request sends at most this many of the caller's messages (the most recent).
inline constexpr qsizetype chatHistoryLimit = 14;

// The content of the last message whose role is exactly "user", or "".
QString lastUserContent(const QList<DesktopChatMessage> &messages);

// Body of "/v1/desktop/chat": "agent_id", "messages", "sessionId",
// "visitorId", "lang", "channel", in that order.
wire::OrderedJson chatRequestJson(const QList<DesktopChatMessage> &messages, const QString &agentID,
                                  const QString &sessionID, const QString &channel);

// One decoded "data:" payload of the chat stream.
struct ChatStreamEvent
{
    QString type; // "sentence", "done", "error"; others are ignored by the reader
    std::optional<QString> text;
    std::optional<QString> reply;
    std::optional<QString> error;

    // Nullopt unless the payload is a JSON object with a string "type" and
    // strings (or nothing) under "text", "reply" and "error".
    static std::optional<ChatStreamEvent> decode(const QString &payload);

    bool operator==(const ChatStreamEvent &) const = default;
};

// The reply as it is built from the events of one stream.
class ChatReplyAssembler
{
public:
    struct Step
    {
        enum class Kind {
            nothing,  // event ignored or only recorded
            sentence, // hand `text` to the caller now
            failed,   // the agent reported an error; `text` is its trimmed message (may be empty)
        };
        Kind kind = Kind::nothing;
        QString text;
    };

    Step handle(const ChatStreamEvent &event);
    // What the call returns when the body ends: the reply of the last "done"
    // event when it is not empty, else the sentences joined by single spaces;
    // nullopt when both are empty.
    std::optional<QString> reply() const;
    bool hasSentences() const { return !m_accumulated.isEmpty(); }
    // Whether the platform closed the reply with a "done" event.
    bool sawDone() const { return m_done; }

private:
    QString m_accumulated;
    QString m_final;
    bool m_done = false;
};

} // namespace nimbel
