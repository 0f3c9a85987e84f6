#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace nimbel::test {

// Sets environment variables for the life of a scope and restores them after.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;
    ~ScopedEnvironment();

    ScopedEnvironment &set(const char *name, const QByteArray &value);
    ScopedEnvironment &unset(const char *name);

private:
    void remember(const char *name);
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

} // namespace nimbel::test
