#include "conversation/VoiceGreetingPolicy.h"

#include <QLocale>

namespace nimbel::VoiceGreetingPolicy {

QString connectionGreeting(const QString &configuredGreeting, const QString &language)
{
    const QString greeting = configuredGreeting.trimmed();
    if (language == u"ru") {
        const QString lowered = QLocale(QLocale::Russian).toLower(greeting);
        if (lowered.contains(u"привет"))
            return greeting;
        if (greeting.isEmpty())
            return QStringLiteral("Привет, я здесь. Чем могу помочь?");
        return QStringLiteral("Привет, я здесь. ") + greeting;
    }
    const QString lowered = QLocale(QLocale::English).toLower(greeting);
    if (lowered.contains(u"hello") || lowered.contains(u"hi"))
        return greeting;
    if (greeting.isEmpty())
        return QStringLiteral("Hello, I’m here. How can I help?");
    return QStringLiteral("Hello, I’m here. ") + greeting;
}

} // namespace nimbel::VoiceGreetingPolicy
