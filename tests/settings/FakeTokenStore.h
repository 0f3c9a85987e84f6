#pragma once

#include "settings/TokenStore.h"

#include <QStringList>

namespace nimbel::test {

// An in-memory key store that records what it was asked.
class FakeTokenStore final : public TokenStore
{
public:
    QString read() const override
    {
        ++reads;
        return stored;
    }

    std::optional<KeychainError> write(const QString &key) override
    {
        writes.append(key);
        if (failure)
            return failure;
        stored = key;
        return std::nullopt;
    }

    QString stored;
    std::optional<KeychainError> failure;
    mutable int reads = 0;
    QStringList writes;
};

} // namespace nimbel::test
