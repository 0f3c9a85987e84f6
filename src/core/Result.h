#pragma once

#include <utility>
#include <variant>

namespace nimbel {

// A value or the error that prevented it (C++20 has no std::expected).
template<typename T, typename E>
class Result
{
public:
    Result(T value)
        : m_data(std::in_place_index<0>, std::move(value))
    {
    }
    Result(E error)
        : m_data(std::in_place_index<1>, std::move(error))
    {
    }

    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &value() & { return std::get<0>(m_data); }
    const T &value() const & { return std::get<0>(m_data); }
    T &&value() && { return std::get<0>(std::move(m_data)); }
    const E &error() const { return std::get<1>(m_data); }

    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

private:
    std::variant<T, E> m_data;
};

// For operations that produce nothing but may fail.
struct Done
{
    bool operator==(const Done &) const = default;
};

} // namespace nimbel
