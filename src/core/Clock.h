#pragma once

#include <QDateTime>
#include <QtGlobal>
#include <QCoro/QCoroTask>

#include <chrono>
#include <coroutine>
#include <functional>
#include <optional>
#include <stop_token>

namespace nimbel {

using Milliseconds = std::chrono::milliseconds;

// The one source of time and delays. Production runs on Qt timers; tests use a
// virtual clock that advances on demand, so long waits are tested instantly.
class Clock
{
public:
    using TimerId = quint64;

    virtual ~Clock() = default;

    // Wall-clock time (message stamps, capture dates).
    virtual QDateTime now() const = 0;
    // Monotonic time since an arbitrary origin (throttles, durations).
    virtual Milliseconds uptime() const = 0;

    // Runs `fire` once on the main thread after `delay`. Cancelling a timer
    // that has fired or was cancelled already is harmless.
    virtual TimerId schedule(Milliseconds delay, std::function<void()> fire) = 0;
    virtual void cancel(TimerId id) = 0;
    // Runs `fire` on the main thread as soon as the current work has returned.
    virtual void post(std::function<void()> fire) = 0;

    class SleepAwaiter;
    // The only way to wait. Resumes with true when the delay elapsed and with
    // false as soon as `token` is stopped (the timer underneath is cancelled).
    SleepAwaiter sleep(Milliseconds delay, std::stop_token token = {});
};

class Clock::SleepAwaiter
{
public:
    SleepAwaiter(Clock &clock, Milliseconds delay, std::stop_token token);
    SleepAwaiter(const SleepAwaiter &) = delete;
    SleepAwaiter &operator=(const SleepAwaiter &) = delete;
    // Movable until it is awaited (coroutine machinery may move it into place).
    SleepAwaiter(SleepAwaiter &&other) noexcept
        : m_clock(other.m_clock)
        , m_delay(other.m_delay)
        , m_token(std::move(other.m_token))
    {
    }

    bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> handle);
    bool await_resume() noexcept;

private:
    struct OnStop
    {
        SleepAwaiter *self;
        void operator()() const noexcept;
    };

    Clock &m_clock;
    Milliseconds m_delay;
    std::stop_token m_token;
    std::coroutine_handle<> m_handle;
    TimerId m_timer = 0;
    bool m_stopped = false;
    std::optional<std::stop_callback<OnStop>> m_onStop;
};

inline Clock::SleepAwaiter Clock::sleep(Milliseconds delay, std::stop_token token)
{
    return SleepAwaiter(*this, delay, std::move(token));
}

} // namespace nimbel
