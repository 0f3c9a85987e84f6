// The gateway client against a real HTTP server on loopback: bytes sent, answers classified, timings logged.

#include "gateway/GatewayTestSupport.h"
#include "settings/Localized.h"
#include "support/LogCapture.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace nimbel;
using test::ScriptedResponse;

namespace {

using Kind = VisionGatewayError::Kind;

QByteArray bytes(const std::string &text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// The boundary announced in a multipart Content-Type.
QByteArray boundaryOf(const test::RecordedRequest &request, const char *prefix)
{
    const QString type = QString::fromStdString(request.header("content-type"));
    const QRegularExpression form(QStringLiteral("^multipart/form-data; boundary=(%1[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                                 "[0-9A-F]{4}-[0-9A-F]{12})$")
                                      .arg(QLatin1String(prefix)));
    const auto match = form.match(type);
    EXPECT_TRUE(match.hasMatch()) << type.toStdString();
    return match.captured(1).toLatin1();
}

// A multipart body written out by hand: each part is the rest of its disposition
// line (with any further header lines) and its bytes.
QByteArray multipart(const QByteArray &boundary, const QList<std::pair<QByteArray, QByteArray>> &parts)
{
    QByteArray body;
    for (const auto &[head, data] : parts)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; " + head + "\r\n\r\n" + data + "\r\n";
    return body + "--" + boundary + "--\r\n";
}

using test::gatewayError;

class GatewayClientTest : public test::GatewayTest
{
protected:
    // The last request, checked for its method, target and header names: `ours`
    // and what Qt's HTTP stack adds to every request (an empty value falls back to its default).
    test::RecordedRequest sent(const std::string &method, const std::string &target, std::initializer_list<std::string> ours)
    {
        const test::RecordedRequest *request = server.lastRequest();
        EXPECT_NE(request, nullptr);
        if (!request)
            return {};
        EXPECT_EQ(request->method, method);
        EXPECT_EQ(request->target, target);
        std::set<std::string> names = {"accept-encoding", "accept-language", "connection", "host", "user-agent"}, sentNames;
        names.insert(ours);
        for (const auto &[name, value] : request->headers)
            sentNames.insert(name);
        EXPECT_EQ(sentNames, names);
        return *request;
    }

    test::LogCapture logs;
    const QString key = QStringLiteral("zelm-k3y");
    const QString agent = QStringLiteral("dsa-agent");
};

} // namespace

TEST_F(GatewayClientTest, analyzeUploadsPayloadAndImageAndLogsTheTiming)
{
    ScriptedResponse answer = ScriptedResponse::json(200, R"({"summary":"Click Save.","steps":[{"instruction":"Press Save","target_label":"Save","target_rect":{"x":0.25,"y":0.5,"width":0.1,"height":0.05}}],"confidence":0.9,"screen_facts":[" Editor open "]})");
    answer.headers = {{"Server-Timing", "vision;dur=812.5"}};
    server.script("/v1/desktop/analyze", answer);

    ScreenAnalysisInput screen;
    screen.capture = wire::OrderedJson::parse(R"({"captured_at":"2026-01-15T09:30:00.123Z","window_title":"Report"})");
    screen.capturedAt = "2026-01-15T09:30:00.123Z";
    screen.preparedScreenContext = ScreenAnalysisInput::PreparedContext{"2026-01-15T09:30:00.123Z",
                                                                        wire::OrderedJson::parse(R"({"version":1})")};
    const QByteArray jpeg("\xff\xd8\xff\xe0\x00\x10JFIF\x00\r\n\xff\xd9", 16);

    const auto result = test::finish(client().analyze(screen, jpeg, "Where do I click?",
                                                    server.baseURL() + "/console/agents?tab=2#top", " " + key + "\r\n",
                                                    "\t" + agent + " ", {"Report is open"}, {{"owner", "Hi"}}, {}));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->summary, "Click Save.");

    const auto request = sent("POST", "/v1/desktop/analyze", {"authorization", "content-type", "content-length"});
    const QByteArray boundary = boundaryOf(request, "ZelmVision-");
    const QByteArray payload =
        R"({"question":"Where do I click?","capture":{"captured_at":"2026-01-15T09:30:00.123Z","window_title":"Report"},)"
        R"("prepared_screen_context":{"version":1},"agent_id":"dsa-agent","established":["Report is open"],)"
        R"("conversation":[{"role":"owner","text":"Hi"}]})";
    const QByteArray expectedBody = multipart(boundary, {{"name=\"payload\"\r\nContent-Type: application/json", payload},
                                                         {"name=\"image\"; filename=\"current.jpg\"\r\nContent-Type: image/jpeg", jpeg}});
    EXPECT_EQ(bytes(request.body), expectedBody);

    EXPECT_EQ(logs.texts(QStringLiteral("GatewayPerformance")),
              QStringList{QStringLiteral("vision total_ms=37 request_bytes=%1 response_bytes=%2 server_timing=vision;dur=812.5")
                              .arg(expectedBody.size())
                              .arg(answer.body.size())});

    // A context prepared for a capture one millisecond apart stays behind; the rest goes.
    screen.preparedScreenContext->captureID = "2026-01-15T09:30:00.124Z";
    screen.accessibility = wire::OrderedJson::parse(R"({"focused":"Save"})");
    EXPECT_TRUE(test::finish(client().analyze(screen, jpeg, "q", server.baseURL(), key, agent, {}, {}, {})).ok());
    EXPECT_NE(server.lastRequest()->body.find(R"("window_title":"Report"},"accessibility":{"focused":"Save"},"agent_id":)"),
              std::string::npos);
}

TEST_F(GatewayClientTest, transcriptionUploadsTheRecordingAndTrimsTheTranscript)
{
    const std::string answer = R"({"text":"  Open the settings \n"})";
    server.script("/v1/audio/transcriptions", ScriptedResponse::json(200, answer));
    const QByteArray wav = QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16) + QByteArray(64, '\0');
    // Only the end of a long context goes, trimmed.
    const QString prompt = QString(100, u'y') + QString(600, u'x') + " \n";

    const auto result =
        test::finish(client().transcribeSpeech(wav, server.baseURL(), key, "en", prompt, " " + agent, {}));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), "Open the settings");

    const auto request = sent("POST", "/v1/audio/transcriptions", {"authorization", "content-type", "content-length"});
    const QByteArray boundary = boundaryOf(request, "ZelmVoice-");
    EXPECT_EQ(bytes(request.body),
              multipart(boundary, {{"name=\"language\"", "en"}, {"name=\"agent_id\"", "dsa-agent"},
                                   {"name=\"prompt\"", QByteArray(600, 'x')},
                                   {"name=\"file\"; filename=\"voice.wav\"\r\nContent-Type: audio/wav", wav}}));

    server.script("/v1/audio/transcriptions", ScriptedResponse::json(200, R"({"text":" \n\t "})"));
    EXPECT_EQ(gatewayError(test::finish(client().transcribeSpeech(wav, server.baseURL(), key, "en", "", "", {}))).kind,
              Kind::invalidResponse);
}

TEST_F(GatewayClientTest, synthesisSendsTheTextAndReturnsTheAudioUnchanged)
{
    const std::string audio("ID3\x04\x00\x00\x00\x00\x00\x00\xff\xfb\x90\x64", 14);
    ScriptedResponse answer = ScriptedResponse::json(200, audio);
    answer.contentType = "audio/mpeg";
    server.script("/v1/desktop/speech", answer);

    const auto result =
        test::finish(client().synthesizeSpeech("  Open the menu.\n", server.baseURL(), key, agent, 0.9, {}));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), bytes(audio));

    const auto request = sent("POST", "/v1/desktop/speech", {"authorization", "content-type", "content-length"});
    EXPECT_EQ(request.body, R"({"input":"Open the menu.","agent_id":"dsa-agent","language":"en","pace":0.9})");

    // No pace, no key; an empty answer is no audio.
    server.script("/v1/desktop/speech", ScriptedResponse::json(200, ""));
    const auto empty = test::finish(client().synthesizeSpeech(u"Привет"_qs, server.baseURL(), key, agent, {}, {}));
    ASSERT_FALSE(empty.ok());
    EXPECT_EQ(empty.error().kind(), GatewayFailure::Kind::invalidAudio);
    EXPECT_EQ(server.lastRequest()->body, R"({"input":"Привет","agent_id":"dsa-agent","language":"ru"})");
}

TEST_F(GatewayClientTest, pairingExchangeSendsTheCodeWithoutAuthorization)
{
    server.script("/desktop-connect/exchange",
                  ScriptedResponse::json(200, R"({"platform_url":"http://127.0.0.1:4100","token":"zelm-new",)"
                                              R"("agent_id":"dsa-9","agent_name":"Aster"})"));
    const auto result =
        test::finish(client().exchangeDesktopPairing(server.baseURL() + "/desktop-agent", "  Code_123-abc \n", {}));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), (DesktopPairingConfiguration{"http://127.0.0.1:4100", "zelm-new", "dsa-9", "Aster"}));

    const auto request = sent("POST", "/desktop-connect/exchange", {"content-type", "content-length"});
    EXPECT_EQ(request.body, R"({"code":"Code_123-abc"})");

    server.script("/desktop-connect/exchange",
                  ScriptedResponse::json(200, R"({"platform_url":"u","agent_id":"dsa-9","agent_name":"A"})"));
    EXPECT_EQ(gatewayError(test::finish(client().exchangeDesktopPairing(server.baseURL(), "Code_123-abc", {}))).kind,
              Kind::invalidResponse);
}

TEST_F(GatewayClientTest, warmUpPostsThePageAndUsesItsOwnFailureText)
{
    ScriptedResponse accepted = ScriptedResponse::json(202, "{\"ignored\":");
    server.script("/v1/desktop/context/warm", accepted);
    const QString page = "https://docs.example/" + QString(1979, u'p');
    ASSERT_EQ(page.size(), 2000);
    const auto result =
        test::finish(client().warmPublicPageContext(" " + page + "\n", server.baseURL(), key, agent, {}));
    EXPECT_TRUE(result.ok());
    const auto request = sent("POST", "/v1/desktop/context/warm", {"authorization", "content-type", "content-length"});
    EXPECT_EQ(bytes(request.body), R"({"agent_id":"dsa-agent","page_url":")" + page.toUtf8() + R"("})");

    server.script("/v1/desktop/context/warm", ScriptedResponse::json(404, R"({"error":"No such route"})"));
    EXPECT_EQ(gatewayError(test::finish(client().warmPublicPageContext(page, server.baseURL(), key, agent, {}))),
              VisionGatewayError::server(404, "Could not prepare the page context."));

    // 2001 characters are not sent at all.
    const std::size_t before = server.requests().size();
    EXPECT_EQ(gatewayError(test::finish(client().warmPublicPageContext(page + "x", server.baseURL(), key, agent, {}))).kind,
              Kind::invalidBaseURL);
    EXPECT_EQ(server.requests().size(), before);
}

TEST_F(GatewayClientTest, everyOperationChecksItsInputsBeforeAnyTraffic)
{
    const QString base = server.baseURL();
    for (const auto &operation : test::everyGatewayOperation()) {
        SCOPED_TRACE(operation.name);
        const auto run = [&](const QString &b, const QString &k, const QString &a) { return operation.run(client(), b, k, a); };
        for (const QString &badBase : {QStringLiteral("not a url"), QStringLiteral("localhost:4100")})
            EXPECT_TRUE(run(badBase, key, agent).is(Kind::invalidBaseURL)) << badBase.toStdString();
        for (const QString &blankKey : {QStringLiteral(" \n\t "), QStringLiteral("zelm-a\r\nX-Extra: 1"), QStringLiteral("zelm\x7f")})
            if (operation.sendsKey) {
                EXPECT_TRUE(run(base, blankKey, agent).is(Kind::notConnected)) << blankKey.toStdString();
            }
        if (operation.needsAgent) {
            EXPECT_TRUE(run(base, key, " \n").is(Kind::notConnected));
        }
    }

    EXPECT_TRUE(server.requests().empty());
}

TEST_F(GatewayClientTest, classifiesStatusesAndRefusesOversizedInvalidAndDeeplyNestedBodies)
{
    options.maxBodyBytes = 4096;
    struct Row
    {
        const char *name;
        ScriptedResponse response;
        VisionGatewayError error;
        QString description; // of a status, when it is not the generic text
    };
    const auto status = [](int code, const std::string &body) { return ScriptedResponse::json(code, body); };
    const std::vector<Row> rows = {
        {"401", status(401, R"({"error":"Invalid API key"})"), VisionGatewayError::server(401, "Invalid API key"), {}},
        {"403", status(403, R"({"error":"Invalid API key"})"), VisionGatewayError::server(403, "Invalid API key"), "Invalid API key"},
        {"404", status(404, R"({"error":{"message":"Agent not found"}})"), VisionGatewayError::server(404, "Agent not found"),
         "Agent not found"},
        {"502 without a body", status(502, ""), VisionGatewayError::server(502, "Request failed"), {}},
        {"204", status(204, ""), VisionGatewayError::invalidResponse(), {}},
        {"valid but over the limit", status(200, R"({"agent_id":"a","agent_name":"b","skills":{},"pad":")" + std::string(5000, 'x') + "\"}"),
         VisionGatewayError::invalidResponse(), {}},
        {"nested too deep", status(200, std::string(2000, '[') + std::string(2000, ']')), VisionGatewayError::invalidResponse(), {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        server.script("/v1/desktop/config", row.response);
        const VisionGatewayError error = gatewayError(test::finish(client().fetchDesktopConfiguration(server.baseURL(), key, {})));
        EXPECT_EQ(error, row.error);
        if (row.error.kind == VisionGatewayError::Kind::server) {
            EXPECT_EQ(error.description(), row.description.isEmpty() ? L::text("error.gateway.generic") : row.description);
        }
    }
}
