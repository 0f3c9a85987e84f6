#pragma once

// Waiting for a coroutine's result from plain test or benchmark code.
#include <QCoro/QCoroTask>

#include <optional>

namespace nimbel::test {

// Runs `task` to its end in a local event loop and returns its result
// (QCoro::waitFor itself needs a default-constructible result type).
template<typename T>
T finish(QCoro::Task<T> task)
{
    std::optional<T> result;
    QCoro::waitFor([](QCoro::Task<T> inner, std::optional<T> *out) -> QCoro::Task<> {
        out->emplace(co_await std::move(inner));
    }(std::move(task), &result));
    return std::move(*result);
}

} // namespace nimbel::test
