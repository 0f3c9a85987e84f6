#include "app/StartupMode.h"

#include <QtGlobal>

#include <limits>

namespace nimbel {

StartupMode chooseStartupMode(const std::optional<QString> &modeVariable, const QStringList &arguments)
{
    if (modeVariable) {
        if (*modeVariable == u"expanded")
            return StartupMode::expanded;
        if (*modeVariable == u"capture")
            return StartupMode::capture;
        if (*modeVariable == u"ask")
            return StartupMode::ask;
        if (*modeVariable == u"selftest")
            return StartupMode::selftest;
        return StartupMode::ordinary;
    }
    if (arguments.contains(QStringLiteral("--zelm-qa-expanded")))
        return StartupMode::expanded;
    if (arguments.contains(QStringLiteral("--zelm-qa-capture")))
        return StartupMode::capture;
    if (arguments.contains(QStringLiteral("--zelm-qa-ask")))
        return StartupMode::ask;
    return StartupMode::ordinary;
}

namespace {

// Strict decimal parse: optional sign, at least one digit, nothing else, no overflow.
std::optional<qint64> parseDecimal(const QString &text)
{
    qsizetype index = 0;
    bool negative = false;
    if (index < text.size() && (text[index] == u'+' || text[index] == u'-')) {
        negative = text[index] == u'-';
        ++index;
    }
    if (index == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; index < text.size(); ++index) {
        const QChar c = text[index];
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

} // namespace

Milliseconds askDelay(const std::optional<QString> &delayVariable)
{
    if (!delayVariable || delayVariable->isEmpty())
        return startup::defaultAskDelay;
    const auto parsed = parseDecimal(*delayVariable);
    if (!parsed)
        return startup::defaultAskDelay;
    return std::max(Milliseconds(*parsed), startup::minimumAskDelay);
}

QString askQuestion(const std::optional<QString> &questionVariable)
{
    if (questionVariable)
        return *questionVariable;
    return QStringLiteral("Где на этом экране кнопка «Продолжить»?");
}

std::optional<QString> environmentValue(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

} // namespace nimbel
