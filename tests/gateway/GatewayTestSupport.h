#pragma once

#include "core/Clock.h"
#include "gateway/TestServer.h"
#include "support/VirtualClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stop_token>

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

// Stops `source` as soon as a stream of `server` waits at a hold step (polled
// from the event loop, so the call being tested is suspended at that moment).
inline std::unique_ptr<QTimer> stopWhenHolding(const TestServer &server, std::stop_source source)
{
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [&server, source, timer = timer.get()]() mutable {
        if (server.isHolding()) {
            timer->stop();
            source.request_stop();
        }
    });
    timer->start(5);
    return timer;
}

// A clock whose uptime moves by `step` every time it is read, so that a
// request timed between two readings always lasts exactly `step`.
class SteppingClock final : public Clock
{
public:
    explicit SteppingClock(Milliseconds step)
        : m_step(step)
    {
    }
    QDateTime now() const override { return m_timers.now(); }
    Milliseconds uptime() const override { return m_uptime += m_step; }
    TimerId schedule(Milliseconds delay, std::function<void()> fire) override
    {
        return m_timers.schedule(delay, std::move(fire));
    }
    void cancel(TimerId id) override { m_timers.cancel(id); }
    void post(std::function<void()> fire) override { m_timers.post(std::move(fire)); }

private:
    Milliseconds m_step;
    mutable Milliseconds m_uptime{100'000};
    VirtualClock m_timers;
};

} // namespace nimbel::test
