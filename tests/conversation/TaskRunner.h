#pragma once

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace nimbel::test {

namespace detail {
template<typename T>
QCoro::Task<void> keepResult(QCoro::Task<T> task, std::shared_ptr<std::optional<T>> out)
{
    out->emplace(co_await std::move(task));
}
} // namespace detail

// Starts `task` and returns where its result will be once it has finished
// (the virtual clock's settle or advance runs it on).
template<typename T>
std::shared_ptr<std::optional<T>> started(QCoro::Task<T> task)
{
    auto out = std::make_shared<std::optional<T>>();
    detail::keepResult(std::move(task), out);
    return out;
}

} // namespace nimbel::test
