#pragma once

namespace nimbel {

// Starting the assistant when the owner logs in.
class LoginItem
{
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
};

} // namespace nimbel
