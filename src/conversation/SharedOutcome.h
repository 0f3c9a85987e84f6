#pragma once

#include "core/Clock.h"

#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

namespace nimbel {

// The outcome of one piece of work that several coroutines wait for: the
// first caller starts the work, later callers join it instead of starting
// another. Each waiter waits under its own stop token, so a waiter that is
// stopped leaves without disturbing the others. Waiters are always resumed
// from the event loop (through the clock), never from inside `set` or the
// canceller. Main thread only.
template<typename T>
class SharedOutcome
{
public:
    explicit SharedOutcome(Clock &clock)
        : m_clock(clock)
    {
    }
    SharedOutcome(const SharedOutcome &) = delete;
    SharedOutcome &operator=(const SharedOutcome &) = delete;

    bool isSet() const { return m_value.has_value(); }
    const T &value() const { return *m_value; }

    // Stores the outcome (once; later calls are ignored) and wakes every waiter.
    void set(T value)
    {
        if (m_value)
            return;
        m_value = std::move(value);
        for (const auto &waiter : std::exchange(m_waiters, {}))
            wake(waiter, false);
    }

    class Awaiter;
    // Resumes with true once the outcome is set, with false when `stop` was
    // stopped first. Await it into a local (`const bool arrived = co_await
    // …`): GCC 12 miscompiles an awaiter awaited inside an `if` condition.
    Awaiter wait(std::stop_token stop) { return Awaiter(*this, std::move(stop)); }

private:
    struct Waiter
    {
        std::coroutine_handle<> handle;
        bool woken = false;
        bool stopped = false;
    };

    void wake(const std::shared_ptr<Waiter> &waiter, bool stopped)
    {
        if (waiter->woken)
            return;
        waiter->woken = true;
        waiter->stopped = stopped;
        m_clock.post([waiter] { waiter->handle.resume(); });
    }

    Clock &m_clock;
    std::optional<T> m_value;
    std::vector<std::shared_ptr<Waiter>> m_waiters;
};

template<typename T>
class SharedOutcome<T>::Awaiter
{
public:
    Awaiter(SharedOutcome &outcome, std::stop_token stop)
        : m_outcome(outcome)
        , m_stop(std::move(stop))
    {
    }
    Awaiter(const Awaiter &) = delete;
    Awaiter &operator=(const Awaiter &) = delete;
    // Movable until it is awaited (coroutine machinery may move it into place).
    Awaiter(Awaiter &&other) noexcept
        : m_outcome(other.m_outcome)
        , m_stop(std::move(other.m_stop))
    {
    }

    bool await_ready() const noexcept { return m_outcome.isSet() || m_stop.stop_requested(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        m_waiter = std::make_shared<Waiter>();
        m_waiter->handle = handle;
        m_outcome.m_waiters.push_back(m_waiter);
        if (m_stop.stop_possible()) {
            m_onStop.emplace(m_stop, [outcome = &m_outcome, waiter = m_waiter] { outcome->wake(waiter, true); });
        }
    }

    bool await_resume() noexcept
    {
        m_onStop.reset();
        if (m_waiter)
            return !m_waiter->stopped;
        return m_outcome.isSet() && !m_stop.stop_requested();
    }

private:
    SharedOutcome &m_outcome;
    std::stop_token m_stop;
    std::shared_ptr<Waiter> m_waiter;
    std::optional<std::stop_callback<std::function<void()>>> m_onStop;
};

} // namespace nimbel
