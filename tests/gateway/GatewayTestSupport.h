#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace nimbel::test {

namespace detail {
template<typename T>
QCoro::Task<void> storeResult(QCoro::Task<T> task, std::optional<T> &out)
{
    out.emplace(co_await std::move(task));
}
} // namespace detail

// Runs the event loop until `task` has finished and returns its result.
// A task still running after `limit` is a hang: the test program stops there
// rather than leave a coroutine pointing into a dead stack frame.
template<typename T>
T finish(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    std::optional<T> result;
    auto waiter = detail::storeResult(std::move(task), result);
    QTimer tick;
    tick.start(10);
    QElapsedTimer elapsed;
    elapsed.start();
    while (!result) {
        if (elapsed.elapsed() > limit.count()) {
            std::fprintf(stderr, "gateway test: the call did not finish within %lld ms\n",
                         static_cast<long long>(limit.count()));
            std::abort();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::move(*result);
}

// Runs the event loop for `duration` (lets a started call make progress).
inline void spin(std::chrono::milliseconds duration)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;
    tick.start(5);
    while (elapsed.elapsed() < duration.count())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace nimbel::test
