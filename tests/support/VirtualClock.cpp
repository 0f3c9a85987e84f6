#include "support/VirtualClock.h"

#include <QCoreApplication>

namespace nimbel::test {

VirtualClock::VirtualClock(QDateTime start)
    : m_start(std::move(start))
{
}

Clock::TimerId VirtualClock::schedule(Milliseconds delay, std::function<void()> fire)
{
    const TimerId id = ++m_next;
    m_timers.emplace(std::make_pair(m_elapsed + std::max(delay, Milliseconds(0)), id), std::move(fire));
    return id;
}

void VirtualClock::cancel(TimerId id)
{
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->first.second == id) {
            m_timers.erase(it);
            return;
        }
    }
}

void VirtualClock::post(std::function<void()> fire)
{
    m_posted.push_back(std::move(fire));
}

void VirtualClock::settle()
{
    for (int round = 0; round < 1000; ++round) {
        QCoreApplication::processEvents();
        if (m_posted.empty())
            break;
        auto posted = std::exchange(m_posted, {});
        for (auto &fire : posted)
            fire();
    }
    QCoreApplication::processEvents();
}

void VirtualClock::advance(Milliseconds by)
{
    const Milliseconds target = m_elapsed + by;
    settle();
    while (!m_timers.empty() && m_timers.begin()->first.first <= target) {
        auto node = m_timers.extract(m_timers.begin());
        m_elapsed = node.key().first;
        node.mapped()();
        settle();
    }
    m_elapsed = target;
    settle();
}

} // namespace nimbel::test
