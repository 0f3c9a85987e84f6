#pragma once

#include "conversation/ChatMessage.h"
#include "gateway/AnalyzeRequest.h"
#include "gateway/ChatWire.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace nimbel {

// Turns the conversation into what a platform request carries, and keeps a
// long conversation bounded. The platform keeps no conversation of its own:
// every request brings the part the agent needs. Hidden analyst notes and
// screen facts reach the platform only through here, tagged so the agent can
// tell them from what the owner said.
namespace ConversationWindow {

// A conversation is full beyond either limit.
inline constexpr qsizetype fullMessageCount = 61;
inline constexpr qsizetype fullCharacterCount = 24'001;
// What compaction keeps.
inline constexpr qsizetype keptScreenFacts = 16;
inline constexpr qsizetype keptOtherMessages = 12;
// What a screen question sends.
inline constexpr qsizetype establishedLimit = 12;
inline constexpr qsizetype recentTurnLimit = 6;

// User-perceived characters (grapheme clusters), not code units.
qsizetype characterCount(QStringView text);
// The characters of every message text together.
qsizetype totalCharacters(const QList<ChatMessage> &messages);

// The chat history: trimmed, empty messages skipped, hidden messages sent as
// tagged user messages, and never starting with an assistant message.
QList<DesktopChatMessage> wire(const QList<ChatMessage> &messages);

bool isFull(const QList<ChatMessage> &messages);

// The most recent distinct screen facts and other messages, in their order;
// a conversation that is not full comes back unchanged.
QList<ChatMessage> compacted(const QList<ChatMessage> &messages);

// The last `limit` distinct lines of all screen facts.
QStringList established(const QList<ChatMessage> &messages, qsizetype limit = establishedLimit);

// The last `limit` owner and assistant messages ("owner" / "assistant"),
// without those whose text is blank.
QList<RecentTurn> recentTurns(const QList<ChatMessage> &messages, qsizetype limit = recentTurnLimit);

// The text of the screen-fact message of an analysis: its facts, one a line,
// each ending in punctuation; without facts, what the capture showed; nothing
// when there is neither.
std::optional<QString> findingNote(const QStringList &facts, const std::optional<QString> &applicationName,
                                   const std::optional<QString> &windowTitle);

} // namespace ConversationWindow
} // namespace nimbel
