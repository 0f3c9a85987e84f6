#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace nimbel::test {

// Collects the log records written while it is alive (category, level, text).
class LogCapture
{
public:
    struct Entry
    {
        QString category;
        QtMsgType type;
        QString text;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    const QList<Entry> &entries() const { return m_entries; }
    // Texts of the records whose category ends with `categorySuffix`.
    QStringList texts(const QString &categorySuffix = {}) const;
    // Everything written, one record a line, for searching secrets in logs.
    QString all() const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QList<Entry> m_entries;
    QtMessageHandler m_previous;
    LogCapture *m_outer;
};

} // namespace nimbel::test
