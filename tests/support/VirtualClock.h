#pragma once

#include "core/Clock.h"

#include <QDateTime>

#include <map>
#include <utility>

namespace nimbel::test {

// A clock whose time moves only when the test advances it. Timers due within
// an advance fire in deadline order, each at its own instant, with posted work
// and Qt events processed in between so that resumed coroutines run to their
// next await before the next timer fires.
class VirtualClock : public Clock
{
public:
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2026, 1, 15), QTime(9, 30), Qt::UTC));

    QDateTime now() const override { return m_start.addMSecs(m_elapsed.count()); }
    Milliseconds uptime() const override { return m_elapsed; }
    TimerId schedule(Milliseconds delay, std::function<void()> fire) override;
    void cancel(TimerId id) override;
    void post(std::function<void()> fire) override;

    void advance(Milliseconds by);
    // Runs posted work and pending Qt events without moving time.
    void settle();
    std::size_t pendingTimers() const { return m_timers.size(); }

private:
    QDateTime m_start;
    Milliseconds m_elapsed{0};
    TimerId m_next = 0;
    // (deadline, id) -> callback; the id keeps timers with one deadline in schedule order.
    std::map<std::pair<Milliseconds, TimerId>, std::function<void()>> m_timers;
    std::vector<std::function<void()>> m_posted;
};

} // namespace nimbel::test
