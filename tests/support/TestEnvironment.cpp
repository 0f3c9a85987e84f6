#include "support/TestEnvironment.h"

namespace nimbel::test {

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
        if (it->second)
            qputenv(it->first.constData(), *it->second);
        else
            qunsetenv(it->first.constData());
    }
}

void ScopedEnvironment::remember(const char *name)
{
    std::optional<QByteArray> old;
    if (qEnvironmentVariableIsSet(name))
        old = qgetenv(name);
    m_saved.append({QByteArray(name), old});
}

ScopedEnvironment &ScopedEnvironment::set(const char *name, const QByteArray &value)
{
    remember(name);
    qputenv(name, value);
    return *this;
}

ScopedEnvironment &ScopedEnvironment::unset(const char *name)
{
    remember(name);
    qunsetenv(name);
    return *this;
}

} // namespace nimbel::test
