#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace nimbel {

class ChatMessageListModel;
struct SentScreenContext;

// What left the device for one screen question, as the "what was sent" view
// shows it: the message's record read through the displayed conversation, so
// that it is gone as soon as the message is (a cleared conversation).
// Created by the view with the conversation and the message's identifier.
class SentContextSheet : public QObject
{
    Q_OBJECT
    Q_PROPERTY(nimbel::ChatMessageListModel *messages READ messages WRITE setMessages NOTIFY sourceChanged)
    Q_PROPERTY(QString messageId READ messageId WRITE setMessageId NOTIFY sourceChanged)

    Q_PROPERTY(bool available READ available NOTIFY contentChanged)
    // "image://sent/<message id>": the uploaded JPEG itself, decoded in memory.
    Q_PROPERTY(QString pictureSource READ pictureSource NOTIFY contentChanged)
    Q_PROPERTY(int pixelWidth READ pixelWidth NOTIFY contentChanged)
    Q_PROPERTY(int pixelHeight READ pixelHeight NOTIFY contentChanged)
    Q_PROPERTY(int byteCount READ byteCount NOTIFY contentChanged)
    Q_PROPERTY(QString digest READ digest NOTIFY contentChanged)
    // The prepared screen context: its summary, lines and controls
    // ("label · role · state"), or nothing when none went with the request.
    Q_PROPERTY(QString screenSummary READ screenSummary NOTIFY contentChanged)
    Q_PROPERTY(QStringList visibleText READ visibleText NOTIFY contentChanged)
    Q_PROPERTY(QStringList controls READ controls NOTIFY contentChanged)
    // The accessibility summary: application and window, then one
    // "role · label · enabled" line per element.
    Q_PROPERTY(QStringList accessibility READ accessibility NOTIFY contentChanged)
    Q_PROPERTY(QString pageAddress READ pageAddress NOTIFY contentChanged)
    Q_PROPERTY(int withheldLines READ withheldLines NOTIFY contentChanged)

public:
    explicit SentContextSheet(QObject *parent = nullptr);

    ChatMessageListModel *messages() const { return m_messages; }
    void setMessages(ChatMessageListModel *messages);
    const QString &messageId() const { return m_messageId; }
    void setMessageId(const QString &id);

    bool available() const { return record() != nullptr; }
    QString pictureSource() const;
    int pixelWidth() const;
    int pixelHeight() const;
    int byteCount() const;
    QString digest() const;
    QString screenSummary() const;
    QStringList visibleText() const;
    QStringList controls() const;
    QStringList accessibility() const;
    QString pageAddress() const;
    int withheldLines() const;

signals:
    void sourceChanged();
    void contentChanged();

private:
    const SentScreenContext *record() const;
    void watch();

    QPointer<ChatMessageListModel> m_messages;
    QString m_messageId;
    QMetaObject::Connection m_changed;
    QMetaObject::Connection m_removed;
    QMetaObject::Connection m_reset;
};

} // namespace nimbel
