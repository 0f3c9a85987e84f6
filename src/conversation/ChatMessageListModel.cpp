#include "conversation/ChatMessageListModel.h"

#include "settings/Localized.h"

#include <QHash>

namespace nimbel {

namespace {

QList<ChatMessage> displayedOnly(const QList<ChatMessage> &messages)
{
    QList<ChatMessage> shown;
    shown.reserve(messages.size());
    for (const ChatMessage &message : messages) {
        if (message.isDisplayed())
            shown.append(message);
    }
    return shown;
}

QList<int> changedRoles(const ChatMessage &before, const ChatMessage &after)
{
    QList<int> roles;
    if (before.role != after.role)
        roles.append(ChatMessageListModel::RoleRole);
    if (before.text != after.text) {
        roles.append(ChatMessageListModel::TextRole);
        roles.append(Qt::DisplayRole);
    }
    if (before.hasAttachment() != after.hasAttachment())
        roles.append(ChatMessageListModel::HasAttachmentRole);
    if (before.timestamp != after.timestamp)
        roles.append(ChatMessageListModel::TimestampRole);
    if (before.pendingConnection != after.pendingConnection) {
        roles.append({ChatMessageListModel::PendingConnectionRole, ChatMessageListModel::PendingPlatformHostRole,
                      ChatMessageListModel::ConnectTitleRole, ChatMessageListModel::CancelTitleRole});
    }
    if (before.sentContext != after.sentContext)
        roles.append(ChatMessageListModel::HasSentContextRole);
    return roles;
}

} // namespace

ChatMessageListModel::ChatMessageListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void ChatMessageListModel::setMessages(const QList<ChatMessage> &messages)
{
    const QList<ChatMessage> shown = displayedOnly(messages);
    // Messages are only ever appended, edited or dropped, so the rows that stay
    // keep their order. Anything else (reordering, repeated identifiers) is
    // shown afresh rather than guessed at.
    if (!keepsOrder(shown)) {
        beginResetModel();
        m_rows = shown;
        endResetModel();
        return;
    }
    removeVanished(shown);
    insertAndUpdate(shown);
}

bool ChatMessageListModel::keepsOrder(const QList<ChatMessage> &shown) const
{
    QHash<QUuid, qsizetype> position;
    position.reserve(shown.size());
    for (qsizetype i = 0; i < shown.size(); ++i)
        position.insert(shown.at(i).id, i);
    if (position.size() != shown.size())
        return false;

    qsizetype last = -1;
    for (const ChatMessage &row : m_rows) {
        const auto found = position.constFind(row.id);
        if (found == position.cend())
            continue;
        if (*found <= last)
            return false;
        last = *found;
    }
    return true;
}

void ChatMessageListModel::removeVanished(const QList<ChatMessage> &shown)
{
    QHash<QUuid, qsizetype> kept;
    kept.reserve(shown.size());
    for (const ChatMessage &message : shown)
        kept.insert(message.id, 0);

    // From the end, one removal per run of vanished rows.
    qsizetype row = m_rows.size() - 1;
    while (row >= 0) {
        if (kept.contains(m_rows.at(row).id)) {
            --row;
            continue;
        }
        const qsizetype last = row;
        while (row - 1 >= 0 && !kept.contains(m_rows.at(row - 1).id))
            --row;
        beginRemoveRows({}, int(row), int(last));
        m_rows.remove(row, last - row + 1);
        endRemoveRows();
        --row;
    }
}

void ChatMessageListModel::insertAndUpdate(const QList<ChatMessage> &shown)
{
    // Invariant: the first `row` rows already equal the first `row` messages shown.
    qsizetype row = 0;
    while (row < shown.size()) {
        if (row < m_rows.size() && m_rows.at(row).id == shown.at(row).id) {
            const QList<int> roles = changedRoles(m_rows.at(row), shown.at(row));
            m_rows[row] = shown.at(row);
            if (!roles.isEmpty())
                emit dataChanged(index(int(row)), index(int(row)), roles);
            ++row;
            continue;
        }
        // One insertion per run of new messages before the next row that stays.
        qsizetype end = row;
        while (end < shown.size() && (row >= m_rows.size() || shown.at(end).id != m_rows.at(row).id))
            ++end;
        beginInsertRows({}, int(row), int(end - 1));
        for (qsizetype i = row; i < end; ++i)
            m_rows.insert(i, shown.at(i));
        endInsertRows();
        row = end;
    }
}

int ChatMessageListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ChatMessageListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ChatMessage &message = m_rows.at(index.row());
    switch (role) {
    case IdRole:
        return message.id.toString(QUuid::WithoutBraces);
    case RoleRole:
        return rawValue(message.role);
    case Qt::DisplayRole:
    case TextRole:
        return message.text;
    case HasAttachmentRole:
        return message.hasAttachment();
    case TimestampRole:
        return message.timestamp;
    case PendingConnectionRole:
        return message.awaitsConnectionChoice();
    case PendingPlatformHostRole:
        return message.pendingConnection ? message.pendingConnection->platformHost : QString();
    case ConnectTitleRole:
        return message.pendingConnection ? L::text("chat.switchPlatform.connect") : QString();
    case CancelTitleRole:
        return message.pendingConnection ? L::text("chat.switchPlatform.cancel") : QString();
    case HasSentContextRole:
        return message.hasSentContext();
    default:
        return {};
    }
}

QHash<int, QByteArray> ChatMessageListModel::roleNames() const
{
    return {
        {IdRole, "id"},
        {RoleRole, "role"},
        {TextRole, "text"},
        {HasAttachmentRole, "hasAttachment"},
        {TimestampRole, "timestamp"},
        {PendingConnectionRole, "pendingConnection"},
        {PendingPlatformHostRole, "pendingPlatformHost"},
        {ConnectTitleRole, "connectTitle"},
        {CancelTitleRole, "cancelTitle"},
        {HasSentContextRole, "hasSentContext"},
    };
}

const ChatMessage *ChatMessageListModel::find(const QString &id) const
{
    const QUuid wanted = QUuid::fromString(id);
    if (wanted.isNull())
        return nullptr;
    for (const ChatMessage &row : m_rows) {
        if (row.id == wanted)
            return &row;
    }
    return nullptr;
}

} // namespace nimbel
