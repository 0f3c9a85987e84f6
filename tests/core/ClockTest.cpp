#include "core/SystemClock.h"
#include "support/VirtualClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace nimbel;
using namespace std::chrono_literals;

namespace {

QCoro::Task<> sleeper(Clock &clock, Milliseconds delay, std::stop_token token, std::optional<bool> &result)
{
    result = co_await clock.sleep(delay, token);
}

} // namespace

TEST(VirtualClock, SleepResumesAtItsDeadlineAndTimersFireInOrder)
{
    test::VirtualClock clock;
    std::optional<bool> first, second;
    sleeper(clock, 5500ms, {}, first);
    sleeper(clock, 350ms, {}, second);

    clock.advance(349ms);
    EXPECT_FALSE(second.has_value());
    clock.advance(1ms);
    EXPECT_EQ(second, true);
    EXPECT_FALSE(first.has_value());
    clock.advance(5149ms);
    EXPECT_FALSE(first.has_value());
    clock.advance(1ms);
    EXPECT_EQ(first, true);
    EXPECT_EQ(clock.uptime(), 5500ms);
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST(SystemClock, SleepsOnRealTimersAndCancels)
{
    SystemClock clock;
    std::optional<bool> done;
    QElapsedTimer elapsed;
    elapsed.start();
    sleeper(clock, 30ms, {}, done);
    while (!done && elapsed.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    EXPECT_EQ(done, true);
    EXPECT_GE(elapsed.elapsed(), 30);

    std::stop_source stop;
    std::optional<bool> cancelled;
    sleeper(clock, 60s, stop.get_token(), cancelled);
    stop.request_stop();
    elapsed.restart();
    while (!cancelled && elapsed.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    EXPECT_EQ(cancelled, false);
    EXPECT_LT(elapsed.elapsed(), 1000);
}
