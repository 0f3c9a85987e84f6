#pragma once

#include "core/ErrorDescription.h"

#include <QString>

#include <optional>

namespace nimbel {

// A failed write to the key store: `code` is the store's status (a QtKeychain
// error code, or the errno of the fallback file), `description` the owner-facing
// text. Neither ever contains the key.
struct KeychainError
{
    int code = 0;
    QString description;

    ErrorDescription toDescription() const;
};

// Where the platform API key lives (the one secret; never in the preferences).
class TokenStore
{
public:
    virtual ~TokenStore() = default;

    // The stored key; empty when there is none, the lookup fails or the store is disabled.
    virtual QString read() const = 0;
    // Deletes the stored key, then stores `key` when it is not empty
    // (writing an empty key removes the stored one).
    virtual std::optional<KeychainError> write(const QString &key) = 0;
};

} // namespace nimbel
