#include "support/LogCapture.h"

#include <QMutex>

namespace nimbel::test {

namespace {
QMutex mutex;
LogCapture *active = nullptr;
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&mutex);
    m_outer = active;
    active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&mutex);
    qInstallMessageHandler(m_previous);
    active = m_outer;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QMutexLocker lock(&mutex);
    if (active)
        active->m_entries.append({QString::fromUtf8(context.category ? context.category : "default"), type, message});
}

QStringList LogCapture::texts(const QString &categorySuffix) const
{
    QMutexLocker lock(&mutex);
    QStringList result;
    for (const Entry &entry : m_entries) {
        if (categorySuffix.isEmpty() || entry.category.endsWith(categorySuffix))
            result.append(entry.text);
    }
    return result;
}

QString LogCapture::all() const
{
    QMutexLocker lock(&mutex);
    QString result;
    for (const Entry &entry : m_entries)
        result += entry.category + u' ' + entry.text + u'\n';
    return result;
}

} // namespace nimbel::test
