#pragma once

#include "core/Clock.h"
#include "gateway/TestServer.h"
#include "gateway/VisionGatewayClient.h"
#include "support/VirtualClock.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace nimbel::test {

namespace detail {
template<typename T>
QCoro::Task<void> storeResult(QCoro::Task<T> task, std::optional<T> &out)
{
    out.emplace(co_await std::move(task));
}
} // namespace detail

// Runs the event loop until `task` has finished and returns its result. (A call
// that hangs is ended by the test's time limit.)
template<typename T>
T finish(QCoro::Task<T> task)
{
    std::optional<T> result;
    auto waiter = detail::storeResult(std::move(task), result);
    while (!result)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return std::move(*result);
}

// A clock whose uptime moves by `step` every time it is read, so that a
// request timed between two readings always lasts exactly `step`.
class SteppingClock final : public VirtualClock
{
public:
    explicit SteppingClock(Milliseconds step)
        : m_step(step)
    {
    }
    Milliseconds uptime() const override { return m_uptime += m_step; }

private:
    Milliseconds m_step;
    mutable Milliseconds m_uptime{100'000};
};

// The failure of a call that was expected to fail.
template<typename T>
GatewayFailure failureOf(const Result<T, GatewayFailure> &result)
{
    EXPECT_FALSE(result.ok()) << "the call succeeded";
    return result.ok() ? GatewayFailure::cancelled() : result.error();
}

// The gateway error of a call that was expected to fail with one.
template<typename T>
VisionGatewayError gatewayError(const Result<T, GatewayFailure> &result)
{
    const GatewayFailure failure = failureOf(result);
    if (!failure.gatewayError()) {
        ADD_FAILURE() << "not a gateway error, kind " << int(failure.kind());
        return {};
    }
    return *failure.gatewayError();
}

// One client operation with made-up inputs, run against `base`.
struct GatewayOperation
{
    const char *name;
    bool sendsKey;
    bool needsAgent;
    std::function<GatewayFailure(VisionGatewayClient &, const QString &base, const QString &key, const QString &agent)> run;
};

inline std::vector<GatewayOperation> everyGatewayOperation()
{
    using C = VisionGatewayClient;
    return {
        {"analyze", true, true, [](C &c, auto b, auto k, auto a) {
             return failureOf(finish(c.analyze({}, QByteArray("\xff\xd8\xff\xd9", 4), "q", b, k, a, {}, {}, {})));
         }},
        {"chat", true, true, [](C &c, auto b, auto k, auto a) {
             return failureOf(finish(c.streamChat({{"user", "Hi"}}, b, k, a, "s", "chat", {}, {})));
         }},
        {"transcription", true, false, [](C &c, auto b, auto k, auto a) {
             return failureOf(finish(c.transcribeSpeech("RIFF", b, k, "en", "", a, {})));
         }},
        {"synthesis", true, true, [](C &c, auto b, auto k, auto a) {
             return failureOf(finish(c.synthesizeSpeech("Hi", b, k, a, {}, {})));
         }},
        {"configuration", true, false, [](C &c, auto b, auto k, auto) {
             return failureOf(finish(c.fetchDesktopConfiguration(b, k, {})));
         }},
        {"pairing", false, false, [](C &c, auto b, auto, auto) {
             return failureOf(finish(c.exchangeDesktopPairing(b, "Code_123", {})));
         }},
        {"warm-up", true, true, [](C &c, auto b, auto k, auto a) {
             return failureOf(finish(c.warmPublicPageContext("https://docs.example/a", b, k, a, {})));
         }},
    };
}

// A test server, and a client over a stepping clock built on first use so that a test can set `options` first.
class GatewayTest : public ::testing::Test
{
protected:
    VisionGatewayClient &client()
    {
        if (!m_client)
            m_client = std::make_unique<VisionGatewayClient>(clock, options);
        return *m_client;
    }

    SteppingClock clock{Milliseconds(37)};
    GatewayOptions options;
    TestServer server;

private:
    std::unique_ptr<VisionGatewayClient> m_client;
};

} // namespace nimbel::test
