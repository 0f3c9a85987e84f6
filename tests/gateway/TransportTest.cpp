// Transport failures against real sockets on loopback, and cancellation of requests in flight.

#include "gateway/GatewayTestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <string_view>
#include <thread>

using namespace nimbel;
using test::ScriptedResponse;
using test::StreamStep;
using namespace std::chrono_literals;

namespace {

using Kind = VisionGatewayError::Kind;

// Answers every request with fixed bytes, then closes the connection.
class RawServer
{
public:
    explicit RawServer(QByteArray answer)
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this, answer] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] {
                socket->readAll();
                socket->write(answer);
                socket->disconnectFromHost();
            });
        });
    }
    QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

private:
    QTcpServer m_server;
};

// An address on which nothing listens.
QString refusingBaseURL()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

using test::failureOf;

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
    GatewayFailure warmUp(const QString &base, std::stop_token stop = {})
    {
        return failureOf(test::finish(client().warmPublicPageContext("https://docs.example/a", base, "k", "a", stop)));
    }
};

} // namespace

TEST_F(TransportTest, transportFailuresAreConnectionFailedOrPassedOnUnchanged)
{
    test::TestServer plain;
    RawServer lengthCut("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"agent_id\":");
    // Not HTTP, then a hang-up: Qt sees only the closed connection.
    RawServer garbage("SSH-2.0-OpenSSH_9.2\r\n");
    struct Row
    {
        const char *name;
        QString base;
        // The error every operation but the warm-up passes on; none: they fail with connectionFailed.
        std::optional<QNetworkReply::NetworkError> passedOn;
        // The warm-up passes on every transport error.
        QNetworkReply::NetworkError warmUp;
    };
    const Row rows[] = {
        {"refused", refusingBaseURL(), {}, QNetworkReply::ConnectionRefusedError},
        {"TLS to a plain HTTP server", QString(plain.baseURL()).replace("http:", "https:"), QNetworkReply::SslHandshakeFailedError,
         QNetworkReply::SslHandshakeFailedError},
        {"shorter than announced", lengthCut.baseURL(), {}, QNetworkReply::RemoteHostClosedError},
        {"not HTTP", garbage.baseURL(), {}, QNetworkReply::RemoteHostClosedError},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        for (const GatewayFailure &failure : everyClassifiedOperation(row.base)) {
            if (!row.passedOn) {
                EXPECT_TRUE(failure.is(Kind::connectionFailed)) << int(failure.kind());
                continue;
            }
            ASSERT_EQ(failure.kind(), GatewayFailure::Kind::transport);
            EXPECT_EQ(failure.transportError()->code, *row.passedOn);
            EXPECT_EQ(failure.toDescription().message, failure.transportError()->text);
        }
        const GatewayFailure warm = warmUp(row.base);
        ASSERT_EQ(warm.kind(), GatewayFailure::Kind::transport);
        EXPECT_EQ(warm.transportError()->code, row.warmUp);
        EXPECT_FALSE(warm.transportError()->text.isEmpty());
    }
}

TEST_F(TransportTest, aServerSilentForLongerThanTheTimeoutTimesOut)
{
    // Wide margins: the machine may be busy.
    options.timeouts.configuration = 1000ms;
    options.timeouts.warmUp = 1000ms;
    options.timeouts.speech = 1000ms;
    test::TestServer server;

    ScriptedResponse late = ScriptedResponse::json(200, R"({"agent_id":"a","agent_name":"b","skills":{}})");
    late.delay = 3000ms;
    server.script("/v1/desktop/config", late);
    EXPECT_TRUE(failureOf(test::finish(client().fetchDesktopConfiguration(server.baseURL(), "k", {})))
                    .is(Kind::connectionFailed));

    server.script("/v1/desktop/context/warm", late);
    const GatewayFailure warm = warmUp(server.baseURL());
    ASSERT_EQ(warm.kind(), GatewayFailure::Kind::transport);
    EXPECT_EQ(warm.transportError()->code, QNetworkReply::TimeoutError);

    // Silent in the middle of the body.
    ScriptedResponse stalled = ScriptedResponse::events(
        {StreamStep::write("ID3 first part"), StreamStep::pause(3000ms), StreamStep::write("rest")});
    server.script("/v1/desktop/speech", stalled);
    EXPECT_TRUE(failureOf(test::finish(client().synthesizeSpeech("Hi", server.baseURL(), "k", "a", {}, {})))
                    .is(Kind::connectionFailed));
}

TEST_F(TransportTest, stoppingAbortsTheRequestInFlight)
{
    test::TestServer server;
    server.script("/v1/desktop/config", ScriptedResponse::events({StreamStep::write(R"({"agent_id":)"), StreamStep::hold(),
                                                                  StreamStep::write(R"("a","agent_name":"b","skills":{}})")}));
    std::stop_source stop;
    const auto stopper = test::stopWhenHolding(server, stop);
    const auto stopped = test::finish(client().fetchDesktopConfiguration(server.baseURL(), "k", stop.get_token()));
    EXPECT_TRUE(failureOf(stopped).isCancelled());
    // It did not wait for the server to finish.
    EXPECT_TRUE(server.isHolding());
    server.release();
    // That release is the held stream's: the streams below must not take it.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (server.isHolding() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_FALSE(server.isHolding());

    // Cancelling one call leaves another one in flight alone.
    server.script("/v1/desktop/speech", ScriptedResponse::events({StreamStep::write("ID3"), StreamStep::hold(),
                                                                  StreamStep::write(" audio")}));
    std::stop_source first;
    auto cancelled = client().synthesizeSpeech("One", server.baseURL(), "k", "a", {}, first.get_token());
    std::optional<Result<QByteArray, GatewayFailure>> firstResult;
    auto firstWaiter = test::detail::storeResult(std::move(cancelled), firstResult);
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
    test::TestServer platform;
    test::TestServer elsewhere;
    const std::string configuration = R"({"agent_id":"a","agent_name":"b","skills":{}})";
    elsewhere.script("/v1/desktop/config", ScriptedResponse::json(200, configuration));

    ScriptedResponse away = ScriptedResponse::json(307, "");
    away.headers = {{"Location", elsewhere.baseURL().toStdString() + "/v1/desktop/config"}};
    platform.script("/v1/desktop/config", away);
    const GatewayFailure refused =
        failureOf(test::finish(client().fetchDesktopConfiguration(platform.baseURL(), "zelm-secret", {})));
    ASSERT_EQ(refused.kind(), GatewayFailure::Kind::transport);
    EXPECT_EQ(refused.transportError()->code, QNetworkReply::InsecureRedirectError);
    EXPECT_EQ(refused.toDescription(), VisionGatewayError::invalidResponse().toDescription());
    EXPECT_TRUE(elsewhere.requests().empty());

    // Within the same origin a redirect is followed, with the key.
    ScriptedResponse moved = ScriptedResponse::json(307, "");
    moved.headers = {{"Location", "/v2/config"}, {"Set-Cookie", "session=abc; Path=/"}};
    platform.script("/v1/desktop/config", moved);
    platform.script("/v2/config", ScriptedResponse::json(200, configuration));
    EXPECT_TRUE(test::finish(client().fetchDesktopConfiguration(platform.baseURL(), "zelm-secret", {})).ok());
    const auto followed = *platform.lastRequest();
    EXPECT_EQ(followed.target, "/v2/config");
    EXPECT_EQ(followed.header("authorization"), "Bearer zelm-secret");
    // The cookie the server set is not sent back, then or later.
    EXPECT_EQ(followed.headerNames().count("cookie"), 0u);
    EXPECT_TRUE(test::finish(client().fetchDesktopConfiguration(platform.baseURL(), "zelm-secret", {})).ok());
    EXPECT_EQ(platform.lastRequest()->headerNames().count("cookie"), 0u);
}
