#include "core/SystemClock.h"

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
    while (!cancelled && elapsed.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    EXPECT_EQ(cancelled, false);
}
