#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringView>

#include <concepts>

namespace nimbel::log {

// Categories are named "<application id>.<Category>".
const QLoggingCategory &requestRouting();
const QLoggingCategory &gatewayPerformance();
const QLoggingCategory &platformVoiceInput();
const QLoggingCategory &onDeviceStt();
// Diagnostics of our own that belong to none of the above (key store fallback, start-up).
const QLoggingCategory &general();

// One log record: a line of key=value pairs in the order they were added.
class Record
{
public:
    Record &add(QStringView key, QStringView value) { return append(key, value); }
    Record &add(QStringView key, const QString &value) { return append(key, value); }
    Record &add(QStringView key, const char *value) { return append(key, QString::fromUtf8(value)); }
    Record &add(QStringView key, const char16_t *value) { return append(key, QStringView(value)); }
    template<std::same_as<bool> B>
    Record &add(QStringView key, B value)
    {
        return append(key, value ? u"true" : u"false");
    }
    template<std::integral T>
        requires(!std::same_as<T, bool>)
    Record &add(QStringView key, T value)
    {
        return append(key, QString::number(value));
    }
    Record &add(QStringView key, double value) { return append(key, QString::number(value, 'f', 3)); }

    const QString &text() const { return m_text; }

private:
    Record &append(QStringView key, QStringView value);
    QString m_text;
};

void info(const QLoggingCategory &category, const QString &line);
void error(const QLoggingCategory &category, const QString &line);
inline void info(const QLoggingCategory &category, const Record &record) { info(category, record.text()); }
inline void error(const QLoggingCategory &category, const Record &record) { error(category, record.text()); }

} // namespace nimbel::log
