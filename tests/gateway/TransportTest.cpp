// Transport failures against real sockets on loopback, and cancellation of requests in flight.

#include "gateway/GatewayTestSupport.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <string_view>

using namespace nimbel;
using test::ScriptedResponse;
using test::StreamStep;
using namespace std::chrono_literals;

namespace {

using Kind = VisionGatewayError::Kind;

using test::failureOf;

// The code of a transport error passed on unchanged; -1 for any other failure.
int transportCode(const GatewayFailure &failure)
{
    return failure.transportError() ? failure.transportError()->code : -1;
}

class TransportTest : public test::GatewayTest
{
protected:
    // Every operation but the warm-up, against `base`.
    std::vector<GatewayFailure> everyClassifiedOperation(const QString &base)
    {
        std::vector<GatewayFailure> failures;
        for (const auto &operation : test::everyGatewayOperation())
            if (operation.name != std::string_view("warm-up"))
                failures.push_back(operation.run(client(), base, "k", "a"));
        return failures;
    }
    GatewayFailure warmUp(const QString &base)
    {
        return failureOf(test::finish(client().warmPublicPageContext("https://docs.example/a", base, "k", "a", {})));
    }
};

} // namespace

TEST_F(TransportTest, aLostConnectionIsConnectionFailedAndOtherTransportErrorsArePassedOn)
{
    options.timeouts.warmUp = 1000ms;
    // Refused, or cut short of its announced length; the warm-up passes every transport error on.
    const QString refused = test::TestServer().baseURL(); // nothing listens there any more
    test::TestServer lengthCut;
    ScriptedResponse raw;
    raw.raw = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"agent_id\":";
    lengthCut.script("*", raw);
    const std::pair<QString, QNetworkReply::NetworkError> lost[] = {{refused, QNetworkReply::ConnectionRefusedError},
                                                                    {lengthCut.baseURL(), QNetworkReply::RemoteHostClosedError}};
    for (const auto &[base, warmUpError] : lost) {
        for (const GatewayFailure &failure : everyClassifiedOperation(base))
            EXPECT_TRUE(failure.is(Kind::connectionFailed)) << base.toStdString() << " " << int(failure.kind());
        EXPECT_EQ(transportCode(warmUp(base)), warmUpError) << base.toStdString();
    }

    // TLS spoken to a plain HTTP server: the handshake failure goes on unchanged, its own text shown.
    const QString tls = server.baseURL().replace(QStringLiteral("http:"), QStringLiteral("https:"));
    for (const GatewayFailure &failure : everyClassifiedOperation(tls)) {
        EXPECT_EQ(transportCode(failure), QNetworkReply::SslHandshakeFailedError);
        EXPECT_EQ(failure.toDescription().message, failure.transportError() ? failure.transportError()->text : "");
    }
    EXPECT_EQ(transportCode(warmUp(tls)), QNetworkReply::SslHandshakeFailedError);

    // Its timeout too (the other calls' inactivity timeout: see the chat stream test).
    ScriptedResponse late = ScriptedResponse::json(202, "");
    late.delay = 3000ms; // wide margins: the machine may be busy
    server.script("/v1/desktop/context/warm", late);
    EXPECT_EQ(transportCode(warmUp(server.baseURL())), QNetworkReply::TimeoutError);
}

TEST_F(TransportTest, cancellingOneCallLeavesAnotherInFlightAlone)
{
    server.script("/v1/desktop/speech", ScriptedResponse::events({StreamStep::write("ID3"), StreamStep::hold(),
                                                                  StreamStep::write(" audio")}));
    std::stop_source first;
    std::optional<Result<QByteArray, GatewayFailure>> firstResult;
    auto firstWaiter = test::detail::storeResult(
        client().synthesizeSpeech("One", server.baseURL(), "k", "a", {}, first.get_token()), firstResult);
    QTimer::singleShot(100ms, [&] {
        first.request_stop();
        server.release(); // both streams wait at their hold step
        server.release();
    });
    const auto second = test::finish(client().synthesizeSpeech("Two", server.baseURL(), "k", "a", {}, {}));
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.value(), "ID3 audio");
    while (!firstResult)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_TRUE(failureOf(*firstResult).isCancelled());
}

TEST_F(TransportTest, theKeyNeverFollowsARedirectToAnotherOriginAndNoCookiesAreKept)
{
    test::TestServer elsewhere;
    const std::string configuration = R"({"agent_id":"a","agent_name":"b","skills":{}})";
    elsewhere.script("/v1/desktop/config", ScriptedResponse::json(200, configuration));
    ScriptedResponse away = ScriptedResponse::json(307, "");
    away.headers = {{"Location", elsewhere.baseURL().toStdString() + "/v1/desktop/config"}};
    server.script("/v1/desktop/config", away);
    const GatewayFailure refused = failureOf(test::finish(client().fetchDesktopConfiguration(server.baseURL(), "zelm-secret", {})));
    EXPECT_EQ(transportCode(refused), QNetworkReply::InsecureRedirectError);
    EXPECT_EQ(refused.toDescription(), VisionGatewayError::invalidResponse().toDescription());
    EXPECT_TRUE(elsewhere.requests().empty());

    // Within the same origin a redirect is followed, with the key.
    ScriptedResponse moved = ScriptedResponse::json(307, "");
    moved.headers = {{"Location", "/v2/config"}, {"Set-Cookie", "session=abc; Path=/"}};
    server.script("/v1/desktop/config", moved);
    server.script("/v2/config", ScriptedResponse::json(200, configuration));
    EXPECT_TRUE(test::finish(client().fetchDesktopConfiguration(server.baseURL(), "zelm-secret", {})).ok());
    const auto followed = server.requests().back();
    EXPECT_EQ(followed.target, "/v2/config");
    EXPECT_EQ(followed.header("authorization"), "Bearer zelm-secret");
    // The cookie the server set is not sent back, then or later.
    EXPECT_EQ(followed.headers.count("cookie"), 0u);
    EXPECT_TRUE(test::finish(client().fetchDesktopConfiguration(server.baseURL(), "zelm-secret", {})).ok());
    EXPECT_EQ(server.requests().back().headers.count("cookie"), 0u);
}
