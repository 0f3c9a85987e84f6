#include "conversation/ConversationWindow.h"

#include "settings/Localized.h"

#include <QSet>
#include <QTextBoundaryFinder>

namespace nimbel::ConversationWindow {

namespace {

QString tagged(const char *tagKey, const QString &text)
{
    return L::text(tagKey) + u'\n' + text;
}

// Text trimmed and lower-cased: two facts that differ only in case or
// surrounding space are the same fact.
QString factKey(const QString &text)
{
    return text.trimmed().toLower();
}

template<typename T>
QList<T> lastOf(const QList<T> &items, qsizetype limit)
{
    if (limit <= 0)
        return {};
    return items.size() <= limit ? items : items.mid(items.size() - limit);
}

} // namespace

qsizetype characterCount(QStringView text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

qsizetype totalCharacters(const QList<ChatMessage> &messages)
{
    qsizetype total = 0;
    for (const ChatMessage &message : messages)
        total += characterCount(message.text);
    return total;
}

QList<DesktopChatMessage> wire(const QList<ChatMessage> &messages)
{
    QList<DesktopChatMessage> result;
    result.reserve(messages.size());
    for (const ChatMessage &message : messages) {
        const QString text = message.text.trimmed();
        if (text.isEmpty())
            continue;
        switch (message.role) {
        case ChatMessage::Role::user:
            result.append({QStringLiteral("user"), text});
            break;
        case ChatMessage::Role::assistant:
            // The welcome text and any opening line before the first question
            // never start the history.
            if (!result.isEmpty())
                result.append({QStringLiteral("assistant"), text});
            break;
        case ChatMessage::Role::analyst:
            result.append({QStringLiteral("user"), tagged("context.tag.analyst", text)});
            break;
        case ChatMessage::Role::screenFact:
            result.append({QStringLiteral("user"), tagged("context.tag.screen", text)});
            break;
        }
    }
    return result;
}

bool isFull(const QList<ChatMessage> &messages)
{
    return messages.size() >= fullMessageCount || totalCharacters(messages) >= fullCharacterCount;
}

QList<ChatMessage> compacted(const QList<ChatMessage> &messages)
{
    if (messages.isEmpty() || !isFull(messages))
        return messages;

    QList<qsizetype> facts;
    QSet<QString> seen;
    QList<qsizetype> others;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const ChatMessage &message = messages.at(i);
        if (message.role != ChatMessage::Role::screenFact) {
            others.append(i);
            continue;
        }
        const QString key = factKey(message.text);
        if (key.isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        facts.append(i);
    }

    QSet<qsizetype> kept;
    for (qsizetype i : lastOf(facts, keptScreenFacts))
        kept.insert(i);
    for (qsizetype i : lastOf(others, keptOtherMessages))
        kept.insert(i);

    QList<ChatMessage> result;
    result.reserve(kept.size());
    for (qsizetype i = 0; i < messages.size(); ++i) {
        if (kept.contains(i))
            result.append(messages.at(i));
    }
    return result;
}

QStringList established(const QList<ChatMessage> &messages, qsizetype limit)
{
    QStringList lines;
    QSet<QString> seen;
    for (const ChatMessage &message : messages) {
        if (message.role != ChatMessage::Role::screenFact)
            continue;
        for (const QString &raw : message.text.split(u'\n')) {
            const QString line = raw.trimmed();
            const QString key = line.toLower();
            if (key.isEmpty() || seen.contains(key))
                continue;
            seen.insert(key);
            lines.append(line);
        }
    }
    return lastOf(lines, limit);
}

QList<RecentTurn> recentTurns(const QList<ChatMessage> &messages, qsizetype limit)
{
    QList<ChatMessage> spoken;
    for (const ChatMessage &message : messages) {
        if (message.isDisplayed())
            spoken.append(message);
    }
    QList<RecentTurn> turns;
    for (const ChatMessage &message : lastOf(spoken, limit)) {
        const QString text = message.text.trimmed();
        if (text.isEmpty())
            continue;
        turns.append({message.role == ChatMessage::Role::user ? QStringLiteral("owner") : QStringLiteral("assistant"),
                      text});
    }
    return turns;
}

std::optional<QString> findingNote(const QStringList &facts, const std::optional<QString> &applicationName,
                                   const std::optional<QString> &windowTitle)
{
    QStringList lines;
    for (const QString &raw : facts) {
        QString fact = raw.trimmed();
        if (fact.isEmpty())
            continue;
        if (!fact.endsWith(u'.') && !fact.endsWith(u'!') && !fact.endsWith(u'?'))
            fact += u'.';
        lines.append(fact);
    }
    if (!lines.isEmpty())
        return lines.join(u'\n');

    const QString application = applicationName.value_or(QString()).trimmed();
    const QString window = windowTitle.value_or(QString()).trimmed();
    if (!application.isEmpty() && !window.isEmpty())
        return L::contextScreenApplicationWindow(application, window);
    if (!application.isEmpty())
        return L::contextScreenApplication(application);
    if (!window.isEmpty())
        return L::contextScreenWindow(window);
    return std::nullopt;
}

} // namespace nimbel::ConversationWindow
