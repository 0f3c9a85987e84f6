#include "core/Clock.h"

namespace nimbel {

Clock::SleepAwaiter::SleepAwaiter(Clock &clock, Milliseconds delay, std::stop_token token)
    : m_clock(clock)
    , m_delay(delay)
    , m_token(std::move(token))
{
}

bool Clock::SleepAwaiter::await_ready() const noexcept
{
    return m_token.stop_requested();
}

void Clock::SleepAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_handle = handle;
    m_timer = m_clock.schedule(std::max(m_delay, Milliseconds(0)), [this] {
        m_onStop.reset();
        m_handle.resume();
    });
    if (m_token.stop_possible())
        m_onStop.emplace(m_token, OnStop{this});
}

void Clock::SleepAwaiter::OnStop::operator()() const noexcept
{
    // Runs inside request_stop(): never resume the waiting coroutine from
    // within the caller that cancels it, hand the resumption to the event loop.
    self->m_clock.cancel(self->m_timer);
    self->m_stopped = true;
    auto handle = self->m_handle;
    self->m_clock.post([handle] { handle.resume(); });
}

bool Clock::SleepAwaiter::await_resume() noexcept
{
    m_onStop.reset();
    return !(m_stopped || m_token.stop_requested());
}

} // namespace nimbel
