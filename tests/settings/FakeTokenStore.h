#pragma once

#include "settings/TokenStore.h"

namespace nimbel::test {

// An in-memory key store that counts what it is asked; `failWrites` refuses every write.
class FakeTokenStore final : public TokenStore
{
public:
    QString read() const override
    {
        ++reads;
        return key;
    }
    std::optional<KeychainError> write(const QString &value) override
    {
        ++writes;
        if (failWrites)
            return KeychainError{-25299, QStringLiteral("Could not save the Zelm API key to the key store.")};
        key = value;
        return std::nullopt;
    }

    QString key;
    bool failWrites = false;
    int writes = 0;
    mutable int reads = 0;
};

} // namespace nimbel::test
