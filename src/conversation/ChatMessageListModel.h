#pragma once

#include "conversation/ChatMessage.h"

#include <QAbstractListModel>
#include <QList>

namespace nimbel {

// The displayed part of the conversation for the views: user and assistant
// messages only. Each new message list is compared with the rows shown, and
// the difference is reported as row insertions, removals and changes, so a
// streamed answer growing one message updates that one row.
class ChatMessageListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Roles {
        IdRole = Qt::UserRole + 1,
        RoleRole,
        TextRole,
        HasAttachmentRole,
        TimestampRole,
        // A connection waiting for the owner's Connect or Cancel.
        PendingConnectionRole,
        PendingPlatformHostRole,
        ConnectTitleRole,
        CancelTitleRole,
        // What left the device for this screen question can be shown.
        HasSentContextRole,
    };

    explicit ChatMessageListModel(QObject *parent = nullptr);

    void setMessages(const QList<ChatMessage> &messages);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const ChatMessage &at(int row) const { return m_rows.at(row); }
    // The shown message with this identifier (text form, as the views have it); null when none.
    const ChatMessage *find(const QString &id) const;

private:
    void removeVanished(const QList<ChatMessage> &shown);
    bool keepsOrder(const QList<ChatMessage> &shown) const;
    void insertAndUpdate(const QList<ChatMessage> &shown);

    QList<ChatMessage> m_rows;
};

} // namespace nimbel
