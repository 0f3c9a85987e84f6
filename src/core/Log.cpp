#include "core/Log.h"

#include "core/BuildInfo.h"

namespace nimbel::log {

namespace {
#define NIMBEL_CATEGORY(function, suffix)                                         \
    const QLoggingCategory &function()                                            \
    {                                                                             \
        static const QByteArray name = QByteArray(build::appId) + "." suffix;     \
        static const QLoggingCategory category(name.constData(), QtInfoMsg);      \
        return category;                                                          \
    }
} // namespace

NIMBEL_CATEGORY(requestRouting, "RequestRouting")
NIMBEL_CATEGORY(gatewayPerformance, "GatewayPerformance")
NIMBEL_CATEGORY(platformVoiceInput, "PlatformVoiceInput")
NIMBEL_CATEGORY(onDeviceStt, "on-device-stt")
NIMBEL_CATEGORY(general, "General")
#undef NIMBEL_CATEGORY

Record &Record::append(QStringView key, QStringView value)
{
    if (!m_text.isEmpty())
        m_text += u' ';
    m_text += key;
    m_text += u'=';
    m_text += value;
    return *this;
}

void info(const QLoggingCategory &category, const QString &line)
{
    qCInfo(category).noquote() << line;
}

void error(const QLoggingCategory &category, const QString &line)
{
    qCCritical(category).noquote() << line;
}

} // namespace nimbel::log
