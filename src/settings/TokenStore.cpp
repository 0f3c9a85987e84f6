#include "settings/TokenStore.h"

namespace nimbel {

ErrorDescription KeychainError::toDescription() const
{
    return ErrorDescription{description, ZelmRecovery::none, false};
}

} // namespace nimbel
