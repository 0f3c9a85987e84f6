#include "app/SentContextSheet.h"

#include "conversation/ChatMessageListModel.h"

namespace nimbel {

namespace {

QString joined(const QStringList &parts)
{
    QStringList present = parts;
    present.removeIf([](const QString &part) { return part.isEmpty(); });
    return present.join(QStringLiteral(" · "));
}

QString enabledWord(const std::optional<bool> &enabled)
{
    if (!enabled)
        return {};
    return *enabled ? QStringLiteral("enabled") : QStringLiteral("disabled");
}

} // namespace

SentContextSheet::SentContextSheet(QObject *parent)
    : QObject(parent)
{
}

void SentContextSheet::setMessages(ChatMessageListModel *messages)
{
    if (m_messages == messages)
        return;
    m_messages = messages;
    watch();
    emit sourceChanged();
    emit contentChanged();
}

void SentContextSheet::setMessageId(const QString &id)
{
    if (m_messageId == id)
        return;
    m_messageId = id;
    emit sourceChanged();
    emit contentChanged();
}

void SentContextSheet::watch()
{
    disconnect(m_changed);
    disconnect(m_removed);
    disconnect(m_reset);
    if (!m_messages)
        return;
    // Any change of the rows may attach, replace or drop the record.
    const auto refresh = [this] { emit contentChanged(); };
    m_changed = connect(m_messages, &QAbstractItemModel::dataChanged, this, refresh);
    m_removed = connect(m_messages, &QAbstractItemModel::rowsRemoved, this, refresh);
    m_reset = connect(m_messages, &QAbstractItemModel::modelReset, this, refresh);
}

const SentScreenContext *SentContextSheet::record() const
{
    if (!m_messages)
        return nullptr;
    const ChatMessage *message = m_messages->find(m_messageId);
    return message && message->sentContext ? &*message->sentContext : nullptr;
}

QString SentContextSheet::pictureSource() const
{
    return available() ? QStringLiteral("image://sent/") + m_messageId : QString();
}

int SentContextSheet::pixelWidth() const
{
    const SentScreenContext *sent = record();
    return sent ? sent->pixelSize.width() : 0;
}

int SentContextSheet::pixelHeight() const
{
    const SentScreenContext *sent = record();
    return sent ? sent->pixelSize.height() : 0;
}

int SentContextSheet::byteCount() const
{
    // Gateway bodies are bounded far below 2 GiB.
    const SentScreenContext *sent = record();
    return sent ? int(sent->jpeg.size()) : 0;
}

QString SentContextSheet::digest() const
{
    const SentScreenContext *sent = record();
    return sent ? sent->jpegDigest() : QString();
}

QString SentContextSheet::screenSummary() const
{
    const SentScreenContext *sent = record();
    return sent && sent->prepared ? sent->prepared->screenSummary : QString();
}

QStringList SentContextSheet::visibleText() const
{
    const SentScreenContext *sent = record();
    return sent && sent->prepared ? sent->prepared->visibleText : QStringList();
}

QStringList SentContextSheet::controls() const
{
    const SentScreenContext *sent = record();
    QStringList lines;
    if (!sent || !sent->prepared)
        return lines;
    for (const PreparedScreenControl &control : sent->prepared->controls)
        lines.append(joined({control.label, control.role.value_or(QString()), control.state.value_or(QString())}));
    return lines;
}

QStringList SentContextSheet::accessibility() const
{
    const SentScreenContext *sent = record();
    QStringList lines;
    if (!sent || !sent->accessibility)
        return lines;
    const AccessibilityContext &context = *sent->accessibility;
    const QString heading = joined({context.applicationName.value_or(QString()), context.focusedWindowTitle.value_or(QString())});
    if (!heading.isEmpty())
        lines.append(heading);
    for (const AccessibilityElementSummary &element : context.elements)
        lines.append(joined({element.role, element.label.value_or(QString()), enabledWord(element.enabled)}));
    return lines;
}

QString SentContextSheet::pageAddress() const
{
    const SentScreenContext *sent = record();
    return sent ? sent->pageAddress().value_or(QString()) : QString();
}

int SentContextSheet::withheldLines() const
{
    const SentScreenContext *sent = record();
    return sent ? sent->withheldLines() : 0;
}

} // namespace nimbel
