#pragma once

#include "conversation/SharedOutcome.h"

#include <memory>
#include <optional>
#include <stop_token>

namespace nimbel {

// A preparation running in the background that others may join instead of
// doing the same work again. Cancelling it stops the work and hands its
// joiners nothing; otherwise they get what the work delivers. Main thread only.
template<typename T>
class WarmUp
{
public:
    using Outcome = SharedOutcome<std::optional<T>>;

    explicit WarmUp(Clock &clock)
        : m_outcome(std::make_shared<Outcome>(clock))
    {
    }

    std::stop_token token() const { return m_stop.get_token(); }
    bool isCancelled() const { return m_stop.stop_requested(); }
    // Shared, so a joiner still holds it when the warm-up has been dropped.
    std::shared_ptr<Outcome> outcome() const { return m_outcome; }

    void deliver(std::optional<T> value) { m_outcome->set(std::move(value)); }
    void cancel()
    {
        m_stop.request_stop();
        m_outcome->set(std::nullopt);
    }

private:
    std::stop_source m_stop;
    std::shared_ptr<Outcome> m_outcome;
};

} // namespace nimbel
