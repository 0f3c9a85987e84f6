// The local platform binary, started as a process and driven over loopback HTTP.

#include "LocalPlatformProcess.h"

#include <nlohmann/json.hpp>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>
#include <vector>

namespace nimbel::test {
namespace {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

constexpr const char *agentID = "dsa-local-agent";

std::vector<std::string> keysOf(const json &object)
{
    std::vector<std::string> keys;
    for (const auto &[key, value] : object.items())
        keys.push_back(key);
    return keys;
}

json chatRequest(const std::string &question, const std::string &lang = "en")
{
    return json{{"agent_id", agentID},
                {"messages", json::array({json{{"role", "user"}, {"content", question}}})},
                {"sessionId", "session-1"},
                {"visitorId", "desktop-owner"},
                {"lang", lang},
                {"channel", "chat"}};
}

// One streamed chat request; every received piece is kept with its arrival time.
struct StreamedChat
{
    httplib::Error error = httplib::Error::Success;
    int status = 0;
    std::string contentEncoding;
    std::string body;
    std::vector<std::pair<Clock::time_point, std::string>> pieces;
    Clock::time_point started;
    Clock::time_point headersAt;

    // The "data:" payloads in order.
    std::vector<std::string> data() const
    {
        std::vector<std::string> out;
        std::size_t at = 0;
        while ((at = body.find("data: ", at)) != std::string::npos) {
            const std::size_t end = body.find('\n', at);
            out.push_back(body.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6));
            at = end == std::string::npos ? body.size() : end;
        }
        return out;
    }
    // When the piece holding `needle` arrived.
    Clock::time_point arrivalOf(const std::string &needle) const
    {
        std::string seen;
        for (const auto &[time, piece] : pieces) {
            seen += piece;
            if (seen.find(needle) != std::string::npos)
                return time;
        }
        return Clock::time_point::max();
    }
};

StreamedChat streamChat(LocalPlatformProcess &server, const json &body, const std::string &key = LocalPlatformProcess::fixedKey,
                        const httplib::Headers &extraHeaders = {})
{
    StreamedChat result;
    httplib::Request request;
    request.method = "POST";
    request.path = "/v1/desktop/chat";
    request.headers = server.bearer(key);
    request.headers.insert(extraHeaders.begin(), extraHeaders.end());
    request.set_header("Content-Type", "application/json");
    request.body = body.dump();
    request.response_handler = [&](const httplib::Response &response) {
        result.headersAt = Clock::now();
        result.status = response.status;
        result.contentEncoding = response.get_header_value("Content-Encoding");
        return true;
    };
    request.content_receiver = [&](const char *data, std::size_t length, std::uint64_t, std::uint64_t) {
        result.pieces.emplace_back(Clock::now(), std::string(data, length));
        result.body.append(data, length);
        return true;
    };
    auto client = server.client();
    result.started = Clock::now();
    const auto response = client->send(request);
    result.error = response.error();
    return result;
}

long long millisecondsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

// A minimal, valid JPEG is not needed: the server checks the start-of-image marker only.
std::string jpegBytes()
{
    std::string jpeg("\xFF\xD8\xFF\xE0", 4);
    jpeg += std::string(200, 'x');
    jpeg += std::string("\xFF\xD9", 2);
    return jpeg;
}

json analyzePayload(const std::string &question)
{
    json capture{{"kind", "window"},          {"application_name", "Setup"}, {"window_title", "Install"},
                 {"logical_width", 800.0},    {"logical_height", 600.0},     {"pixel_width", 1600},
                 {"pixel_height", 1200},      {"captured_at", "2026-12-05T15:09:25.123Z"}};
    json accessibility{{"application_name", "Setup"},
                       {"focused_window_title", "Install"},
                       {"elements", json::array({json{{"role", "AXButton"}, {"label", "Continue"}, {"enabled", true}},
                                                 json{{"role", "AXButton"}, {"label", "Back"}, {"enabled", true}}})},
                       {"truncated", false}};
    json controls = json::array(
        {json{{"label", "Continue"}, {"role", "AXButton"}, {"state", "enabled"},
              {"target_rect", json{{"x", 0.8}, {"y", 0.9}, {"width", 0.12}, {"height", 0.05}}}},
         json{{"label", "Back"}, {"role", "AXButton"}, {"state", "enabled"},
              {"target_rect", json{{"x", 0.05}, {"y", 0.9}, {"width", 0.1}, {"height", 0.05}}}}});
    json context{{"version", 1},
                 {"capture_id", "2026-12-05T15:09:25.123Z"},
                 {"product", "Setup"},
                 {"page", "Install"},
                 {"screen_summary", "An installer window."},
                 {"visible_text", json::array({"Welcome to Setup", "Continue", "Back"})},
                 {"controls", controls},
                 {"statuses", json::array()}};
    return json{{"question", question},      {"capture", capture},
                {"accessibility", accessibility}, {"prepared_screen_context", context},
                {"agent_id", agentID},       {"established", json::array()},
                {"conversation", json::array()}};
}

// The multipart body exactly as the assistant writes it.
std::string analyzeBody(const std::string &boundary, const std::string &payload, const std::string &jpeg)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"payload\"\r\nContent-Type: application/json\r\n\r\n"
        + payload + "\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"image\"; filename=\"current.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n"
        + jpeg + "\r\n--" + boundary + "--\r\n";
}

httplib::Result postAnalyze(LocalPlatformProcess &server, const std::string &body,
                            const std::string &boundary = "ZelmVision-TEST")
{
    return server.client()->Post("/v1/desktop/analyze", server.bearer(), body,
                                 "multipart/form-data; boundary=" + boundary);
}

std::string transcriptionBody(const std::string &boundary, const std::string &language, const std::string &wav,
                              const std::string &agent = agentID)
{
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\n" + language + "\r\n";
    if (!agent.empty())
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"agent_id\"\r\n\r\n" + agent + "\r\n";
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"prompt\"\r\n\r\nweather talk\r\n";
    body += "--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"voice.wav\"\r\nContent-Type: audio/wav\r\n\r\n"
        + wav + "\r\n--" + boundary + "--\r\n";
    return body;
}

json debugRequests(LocalPlatformProcess &server)
{
    const auto response = server.client()->Get("/debug/requests");
    EXPECT_TRUE(response) << "debug request failed: " << httplib::to_string(response.error());
    return response ? json::parse(response->body).at("requests") : json::array();
}

// The journal's newest entry (a failed test rather than a crash when there is none).
json lastRequest(LocalPlatformProcess &server)
{
    const json all = debugRequests(server);
    EXPECT_FALSE(all.empty());
    return all.empty() ? json::object() : all.back();
}

// --------------------------------------------------------------------------------------------

TEST(LocalPlatformServer, ConsolePairingIssuesOneTimeCodesAndKeysThatUnlockTheApi)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started()) << server.errors().toStdString();
    auto client = server.client();

    const auto page = client->Get("/desktop-agent");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(page->body.find("action=\"/desktop-agent/connect\""), std::string::npos);
    EXPECT_NE(page->body.find(">Connect</button>"), std::string::npos);
    const auto feed = client->Get("/desktop-agent/updates/appcast.xml");
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->status, 200);
    EXPECT_NE(feed->body.find("<channel>"), std::string::npos);
    EXPECT_EQ(feed->body.find("<item>"), std::string::npos);

    // Machine-readable code: the link carries the platform address percent-encoded.
    const auto connect = client->Post("/desktop-agent/connect", httplib::Headers{{"Accept", "application/json"}}, "",
                                      "application/x-www-form-urlencoded");
    ASSERT_TRUE(connect);
    ASSERT_EQ(connect->status, 200);
    const json issued = json::parse(connect->body);
    const std::string code = issued.at("code");
    EXPECT_TRUE(std::regex_match(code, std::regex("^[A-Za-z0-9_-]{24,160}$"))) << code;
    const std::string encodedBase = "http%3A%2F%2F127.0.0.1%3A" + std::to_string(server.port());
    EXPECT_EQ(issued.at("link"), "zelmdesktop://connect?platform_url=" + encodedBase + "&code=" + code);
    EXPECT_EQ(issued.at("platform_url"), server.baseURL());

    // A console reached as "localhost" hands out links that name "localhost".
    const auto local = client->Post("/desktop-agent/connect",
                                    httplib::Headers{{"Accept", "application/json"},
                                                     {"Host", "localhost:" + std::to_string(server.port())}},
                                    "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(local);
    EXPECT_EQ(json::parse(local->body).at("platform_url"), "http://localhost:" + std::to_string(server.port()));

    // The browser form (no JSON asked for) gets a page with the link, HTML-escaped.
    const auto form = client->Post("/desktop-agent/connect", "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->status, 200);
    EXPECT_NE(form->body.find("href=\"zelmdesktop://connect?platform_url=" + encodedBase + "&amp;code="), std::string::npos);

    // Follow the link's code through the exchange.
    const auto exchange = client->Post("/desktop-connect/exchange", json{{"code", code}}.dump(), "application/json");
    ASSERT_TRUE(exchange);
    ASSERT_EQ(exchange->status, 200);
    const json pairing = json::parse(exchange->body);
    EXPECT_EQ(keysOf(pairing), (std::vector<std::string>{"platform_url", "token", "agent_id", "agent_name"}));
    EXPECT_EQ(pairing.at("platform_url"), server.baseURL());
    const std::string key = pairing.at("token");
    EXPECT_EQ(key.rfind("zelm-", 0), 0u);
    EXPECT_EQ(pairing.at("agent_id"), agentID);
    EXPECT_EQ(pairing.at("agent_name"), "Nimbel");

    // A code works once.
    const auto again = client->Post("/desktop-connect/exchange", json{{"code", code}}.dump(), "application/json");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 404);
    EXPECT_NE(json::parse(again->body).at("error").get<std::string>().find("already been used"), std::string::npos);
    const auto unknown = client->Post("/desktop-connect/exchange", json{{"code", std::string(32, 'A')}}.dump(),
                                      "application/json");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    const auto noCode = client->Post("/desktop-connect/exchange", json{{"kode", code}}.dump(), "application/json");
    ASSERT_TRUE(noCode);
    EXPECT_EQ(noCode->status, 400);

    // Only issued (or configured) keys open the bearer endpoints.
    const auto withIssued = client->Get("/v1/desktop/config", server.bearer(key));
    ASSERT_TRUE(withIssued);
    EXPECT_EQ(withIssued->status, 200);
    for (const httplib::Headers &headers :
         {httplib::Headers{}, server.bearer("zelm-made-up"), httplib::Headers{{"Authorization", "Basic " + key}},
          httplib::Headers{{"Authorization", "Bearer " + key + "x"}}}) {
        const auto refused = client->Get("/v1/desktop/config", headers);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 401);
        EXPECT_FALSE(json::parse(refused->body).at("error").get<std::string>().empty());
    }
    const auto chatWithoutKey = client->Post("/v1/desktop/chat", chatRequest("hi").dump(), "application/json");
    ASSERT_TRUE(chatWithoutKey);
    EXPECT_EQ(chatWithoutKey->status, 401);

    EXPECT_EQ(server.stop(), 0);
}

TEST(LocalPlatformServer, IssuedKeysOutliveARestartOnlyWithAStateDirectory)
{
    QTemporaryDir state;
    std::string key;
    {
        LocalPlatformProcess server({QStringLiteral("--state-dir"), state.path()});
        ASSERT_TRUE(server.started());
        key = pairedKey(server);
        ASSERT_FALSE(key.empty());
        EXPECT_EQ(server.stop(), 0);
    }
    EXPECT_FALSE(QFile::permissions(QDir(state.path()).filePath(QStringLiteral("keys.json")))
                     .testAnyFlags(QFileDevice::ReadGroup | QFileDevice::ReadOther));
    {
        LocalPlatformProcess server({QStringLiteral("--state-dir"), state.path()});
        ASSERT_TRUE(server.started());
        const auto config = server.client()->Get("/v1/desktop/config", server.bearer(key));
        ASSERT_TRUE(config);
        EXPECT_EQ(config->status, 200);
    }
    LocalPlatformProcess forgetful;
    ASSERT_TRUE(forgetful.started());
    const auto config = forgetful.client()->Get("/v1/desktop/config", forgetful.bearer(key));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->status, 401);
}

TEST(LocalPlatformServer, RefusesToStartWithABrokenScriptOrBadOptions)
{
    ScriptFile script(R"({"agent": {"agent_id": "not-an-agent"}})");
    QProcess broken;
    broken.start(QStringLiteral(LOCAL_PLATFORM_BINARY), {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--script"), script.path()});
    ASSERT_TRUE(broken.waitForFinished(10000));
    EXPECT_EQ(broken.exitCode(), 2);
    const QString why = QString::fromUtf8(broken.readAllStandardError());
    EXPECT_TRUE(why.contains(script.path()) && why.contains(QStringLiteral("agent.agent_id"))) << why.toStdString();
    EXPECT_TRUE(broken.readAllStandardOutput().isEmpty());

    QProcess badOption;
    badOption.start(QStringLiteral(LOCAL_PLATFORM_BINARY), {QStringLiteral("--port"), QStringLiteral("http")});
    ASSERT_TRUE(badOption.waitForFinished(10000));
    EXPECT_EQ(badOption.exitCode(), 2);
    EXPECT_TRUE(badOption.readAllStandardError().contains("usage: nimbel-local-platform"));
}

TEST(LocalPlatformServer, ConfigurationComesFromTheScriptAndFollowsItsChanges)
{
    ScriptFile script(R"({"agent": {"agent_id": "dsa-scripted", "agent_name": "Vera", "address_as": "Sam",
                         "greet_ru": "Привет!", "greet_en": "Hi there!", "skills": {"web_research": false}},
                         "token": "zelm-from-script"})");
    LocalPlatformProcess server(script.arguments());
    ASSERT_TRUE(server.started());

    const auto first = server.client()->Get("/v1/desktop/config", server.bearer("zelm-from-script"));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    const json config = json::parse(first->body);
    EXPECT_EQ(keysOf(config), (std::vector<std::string>{"agent_id", "agent_name", "address_as", "greet_ru", "greet_en",
                                                        "skills", "updated_at"}));
    EXPECT_EQ(config.at("agent_id"), "dsa-scripted");
    EXPECT_EQ(config.at("agent_name"), "Vera");
    EXPECT_EQ(config.at("greet_ru"), "Привет!");
    EXPECT_EQ(keysOf(config.at("skills")),
              (std::vector<std::string>{"screen_capture", "screen_understanding", "people_on_screen",
                                        "navigation_guidance", "web_research", "voice_conversation"}));
    EXPECT_EQ(config.at("skills").at("web_research"), false);
    EXPECT_EQ(config.at("skills").at("voice_conversation"), true);

    // The exchange hands out the scripted agent as well.
    const std::string key = pairedKey(server);
    ASSERT_FALSE(key.empty());

    script.write(R"({"agent": {"agent_id": "dsa-scripted", "agent_name": "Vera 2", "skills": {"voice_conversation": false}}})");
    const auto second = server.client()->Get("/v1/desktop/config", server.bearer(key));
    ASSERT_TRUE(second);
    const json changed = json::parse(second->body);
    EXPECT_EQ(changed.at("agent_name"), "Vera 2");
    EXPECT_EQ(changed.at("skills").at("voice_conversation"), false);
    EXPECT_FALSE(changed.contains("greet_ru"));
    // The script's own key went away with the rewrite.
    const auto oldKey = server.client()->Get("/v1/desktop/config", server.bearer("zelm-from-script"));
    ASSERT_TRUE(oldKey);
    EXPECT_EQ(oldKey->status, 401);

    // A broken rewrite keeps the last good script.
    script.write(R"({"agent": {"agent_name": )");
    const auto third = server.client()->Get("/v1/desktop/config", server.bearer(key));
    ASSERT_TRUE(third);
    EXPECT_EQ(json::parse(third->body).at("agent_name"), "Vera 2");
    EXPECT_TRUE(server.errors().contains(QStringLiteral("not valid JSON")));
}

TEST(LocalPlatformServer, ChatStreamsOneSentencePerEventWithPausesThenDone)
{
    ScriptFile script(R"({"chat": {"pause_ms": 250, "replies": [
        {"match": "weather", "sentences": ["It is sunny.", "Twenty degrees.", "No rain today."]}]}})");
    LocalPlatformProcess server(script.arguments());
    ASSERT_TRUE(server.started());

    const StreamedChat chat = streamChat(server, chatRequest("What is the WEATHER like?"));
    ASSERT_EQ(chat.error, httplib::Error::Success);
    ASSERT_EQ(chat.status, 200);
    const auto data = chat.data();
    ASSERT_EQ(data.size(), 5u) << chat.body;
    EXPECT_EQ(json::parse(data[0]), json({{"type", "sentence"}, {"text", "It is sunny."}}));
    EXPECT_EQ(json::parse(data[1]).at("text"), "Twenty degrees.");
    EXPECT_EQ(json::parse(data[2]).at("text"), "No rain today.");
    EXPECT_EQ(json::parse(data[3]), json({{"type", "done"}, {"reply", "It is sunny. Twenty degrees. No rain today."}}));
    EXPECT_EQ(data[4], "[DONE]");
    EXPECT_NE(chat.body.find("\n\ndata: "), std::string::npos); // events are separated by blank lines

    // Each event left on its own, a pause after the previous one: the first sentence was
    // there long before the stream ended.
    const auto first = chat.arrivalOf("It is sunny.");
    const auto third = chat.arrivalOf("No rain today.");
    const auto done = chat.arrivalOf("\"done\"");
    EXPECT_GE(millisecondsBetween(first, third), 400);
    EXPECT_GE(millisecondsBetween(first, done), 600);
    EXPECT_GE(chat.pieces.size(), 4u);

    const auto logged = debugRequests(server);
    ASSERT_FALSE(logged.empty());
    const json &last = logged.back();
    EXPECT_EQ(last.at("path"), "/v1/desktop/chat");
    EXPECT_EQ(last.at("status"), 200);
    EXPECT_EQ(last.at("request"), chatRequest("What is the WEATHER like?"));
    EXPECT_GE(last.at("duration_ms").get<int>(), 600);

    // A client that accepts compressed bodies (Qt's network stack always does) still gets
    // each event as it is written: a compressor would hold them back until the end.
    const StreamedChat accepting = streamChat(server, chatRequest("What is the WEATHER like?"),
                                              LocalPlatformProcess::fixedKey, {{"Accept-Encoding", "gzip, deflate, br"}});
    ASSERT_EQ(accepting.status, 200);
    EXPECT_EQ(accepting.contentEncoding, "");
    ASSERT_EQ(accepting.data().size(), 5u) << accepting.body;
    EXPECT_GE(millisecondsBetween(accepting.arrivalOf("It is sunny."), accepting.arrivalOf("\"done\"")), 600);
}

TEST(LocalPlatformServer, ChatRequestsAreChecked)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started());
    auto client = server.client();
    const auto post = [&](const json &body) {
        return client->Post("/v1/desktop/chat", server.bearer(), body.dump(), "application/json");
    };

    json empty = chatRequest("hi");
    empty["messages"] = json::array();
    json noSession = chatRequest("hi");
    noSession.erase("sessionId");
    json badChannel = chatRequest("hi");
    badChannel["channel"] = "fax";
    json badMessage = chatRequest("hi");
    badMessage["messages"][0].erase("content");
    for (const json &bad : {empty, noSession, badChannel, badMessage}) {
        const auto response = post(bad);
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status, 400) << bad.dump();
        EXPECT_FALSE(json::parse(response->body).at("error").get<std::string>().empty());
    }
    const auto notJson = client->Post("/v1/desktop/chat", server.bearer(), "{oops", "application/json");
    ASSERT_TRUE(notJson);
    EXPECT_EQ(notJson->status, 400);

    json stranger = chatRequest("hi");
    stranger["agent_id"] = "dsa-someone-else";
    const auto forbidden = post(stranger);
    ASSERT_TRUE(forbidden);
    EXPECT_EQ(forbidden->status, 403);
    EXPECT_NE(json::parse(forbidden->body).at("error").get<std::string>().find("dsa-someone-else"), std::string::npos);

    const auto wrongMethod = client->Get("/v1/desktop/chat", server.bearer());
    ASSERT_TRUE(wrongMethod);
    EXPECT_EQ(wrongMethod->status, 404);
    EXPECT_EQ(json::parse(wrongMethod->body).at("error"), "Not found");
}

TEST(LocalPlatformServer, ScriptedFaultsShapeTheAnswers)
{
    ScriptFile script(R"({"faults": {"/v1/desktop/chat": {"status": 502, "body": {"error": "Agent offline"}, "times": 1}}})");
    LocalPlatformProcess server(script.arguments());
    ASSERT_TRUE(server.started());

    // A status with its error body, for as many requests as scripted.
    const StreamedChat failing = streamChat(server, chatRequest("hi"));
    EXPECT_EQ(failing.status, 502);
    EXPECT_EQ(json::parse(failing.body), json({{"error", "Agent offline"}}));
    const StreamedChat recovered = streamChat(server, chatRequest("hi"));
    EXPECT_EQ(recovered.status, 200);

    // A delay before the first byte.
    script.write(R"({"faults": {"/v1/desktop/config": {"delay_ms": 700}}})");
    const auto before = Clock::now();
    const auto slow = server.client()->Get("/v1/desktop/config", server.bearer());
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->status, 200);
    EXPECT_GE(millisecondsBetween(before, Clock::now()), 650);

    // A cut after two events: the client sees the first two and then a broken stream.
    script.write(R"({"chat": {"pause_ms": 0, "replies": [{"match": "count", "sentences": ["One.", "Two.", "Three."]}]},
                    "faults": {"/v1/desktop/chat": {"cut_after": 2}}})");
    const StreamedChat cut = streamChat(server, chatRequest("count please"));
    EXPECT_EQ(cut.status, 200);
    EXPECT_NE(cut.error, httplib::Error::Success);
    EXPECT_EQ(cut.data().size(), 2u) << cut.body;
    EXPECT_EQ(cut.body.find("Three."), std::string::npos);
    EXPECT_EQ(cut.body.find("done"), std::string::npos);

    // A malformed event and an error event, each after the given number of sentences.
    script.write(R"({"chat": {"pause_ms": 0, "replies": [{"match": "count", "sentences": ["One.", "Two.", "Three."]}]},
                    "faults": {"/v1/desktop/chat": {"malformed_event": {"after": 1, "line": "data: {\"type\": \"sent"},
                                                     "error_event": {"after": 2, "error": "Runtime crashed"}}}})");
    const StreamedChat broken = streamChat(server, chatRequest("count please"));
    EXPECT_EQ(broken.error, httplib::Error::Success);
    const auto data = broken.data();
    ASSERT_EQ(data.size(), 4u) << broken.body;
    EXPECT_EQ(json::parse(data[0]).at("text"), "One.");
    EXPECT_EQ(data[1], "{\"type\": \"sent");
    EXPECT_EQ(json::parse(data[2]).at("text"), "Two.");
    EXPECT_EQ(json::parse(data[3]), json({{"type", "error"}, {"error", "Runtime crashed"}}));

    // A pause inside the stream, after the first event.
    script.write(R"({"chat": {"pause_ms": 0, "replies": [{"match": "count", "sentences": ["One.", "Two."]}]},
                    "faults": {"/v1/desktop/chat": {"pause_after": 1, "pause_ms": 800}}})");
    const StreamedChat paused = streamChat(server, chatRequest("count please"));
    EXPECT_GE(millisecondsBetween(paused.arrivalOf("One."), paused.arrivalOf("Two.")), 700);

    // Whole-body answers can be cut too: the announced length never arrives.
    script.write(R"({"faults": {"/v1/desktop/config": {"cut_after": 10}}})");
    const auto truncated = server.client()->Get("/v1/desktop/config", server.bearer());
    EXPECT_FALSE(truncated);

    // A 200 with a body that is not what the endpoint promises.
    script.write(R"({"faults": {"/v1/desktop/speech": {"status": 200, "body": "", "content_type": "audio/mpeg"}}})");
    const auto emptyAudio = server.client()->Post("/v1/desktop/speech", server.bearer(),
                                                  json{{"input", "hi"}, {"agent_id", agentID}, {"language", "en"}}.dump(),
                                                  "application/json");
    ASSERT_TRUE(emptyAudio);
    EXPECT_EQ(emptyAudio->status, 200);
    EXPECT_TRUE(emptyAudio->body.empty());

    // An error status goes out with exactly the scripted body and headers, even an empty body.
    script.write(R"({"faults": {"/v1/desktop/config": {"status": 500, "body": "", "headers": {"Retry-After": "3"}}}})");
    const auto bare = server.client()->Get("/v1/desktop/config", server.bearer());
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->status, 500);
    EXPECT_TRUE(bare->body.empty());
    EXPECT_EQ(bare->get_header_value("Retry-After"), "3");

    const auto logged = debugRequests(server);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front().at("fault"), true);
}

TEST(LocalPlatformServer, AnalyzeFindsTheNamedControlAndKeepsTheUpload)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started());

    const json payload = analyzePayload("Where do I click \"Continue\"?");
    const std::string jpeg = jpegBytes();
    const auto response = postAnalyze(server, analyzeBody("ZelmVision-TEST", payload.dump(), jpeg));
    ASSERT_TRUE(response);
    ASSERT_EQ(response->status, 200) << response->body;
    EXPECT_EQ(response->get_header_value("Server-Timing").rfind("app;dur=", 0), 0u);
    const json answer = json::parse(response->body);
    EXPECT_EQ(keysOf(answer),
              (std::vector<std::string>{"summary", "steps", "confidence", "needs_fresh_capture", "screen_facts"}));
    ASSERT_EQ(answer.at("steps").size(), 2u);
    const json &step = answer.at("steps").at(0);
    EXPECT_EQ(step.at("instruction").get<std::string>().rfind("Find", 0), 0u);
    EXPECT_EQ(step.at("target_label"), "Continue");
    EXPECT_EQ(step.at("target_rect"), json({{"x", 0.8}, {"y", 0.9}, {"width", 0.12}, {"height", 0.05}}));
    EXPECT_EQ(answer.at("steps").at(1).at("instruction"), "Click “Continue”.");
    EXPECT_NE(answer.at("summary").get<std::string>().find("bottom right"), std::string::npos);

    // The last upload is kept for end-to-end tests: payload as sent, image bytes.
    const auto logged = debugRequests(server);
    ASSERT_GE(logged.size(), 1u);
    const json &first = logged.back();
    EXPECT_EQ(first.at("path"), "/v1/desktop/analyze");
    EXPECT_EQ(first.at("payload"), payload);
    EXPECT_EQ(keysOf(first.at("payload")), keysOf(payload));
    EXPECT_EQ(first.at("image_bytes"), jpeg.size());
    EXPECT_EQ(first.at("image_filename"), "current.jpg");
    const auto image = server.client()->Get("/debug/last-analyze-image");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->body, jpeg);
    EXPECT_EQ(image->get_header_value("Content-Type"), "image/jpeg");

    const auto cleared = server.client()->Delete("/debug/requests");
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->status, 204);
    EXPECT_TRUE(debugRequests(server).empty());
}

TEST(LocalPlatformServer, AnalyzeRejectsMalformedUploadsWithAJsonError)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started());
    const std::string payload = analyzePayload("Where is Continue?").dump();
    const std::string jpeg = jpegBytes();
    const std::string good = analyzeBody("B0UND", payload, jpeg);

    json noCapture = analyzePayload("Where is Continue?");
    noCapture.erase("capture");

    struct Case
    {
        const char *what;
        std::string body;
        std::string contentType;
        const char *mentions;
    };
    const std::vector<Case> cases{
        {"truncated body", good.substr(0, good.size() - 20), "multipart/form-data; boundary=B0UND", "multipart"},
        {"wrong boundary", good, "multipart/form-data; boundary=OTHER", "multipart"},
        {"no boundary", good, "multipart/form-data", "multipart"},
        {"not multipart", payload, "application/json", "multipart"},
        {"image missing",
         "--B0UND\r\nContent-Disposition: form-data; name=\"payload\"\r\nContent-Type: application/json\r\n\r\n" + payload
             + "\r\n--B0UND--\r\n",
         "multipart/form-data; boundary=B0UND", "image"},
        {"not a jpeg", analyzeBody("B0UND", payload, "GIF89a...."), "multipart/form-data; boundary=B0UND", "JPEG"},
        {"payload not json", analyzeBody("B0UND", "{\"question\": ", jpeg), "multipart/form-data; boundary=B0UND", "JSON"},
        {"capture missing", analyzeBody("B0UND", noCapture.dump(), jpeg), "multipart/form-data; boundary=B0UND", "capture"},
    };
    for (const Case &c : cases) {
        const auto response = server.client()->Post("/v1/desktop/analyze", server.bearer(), c.body, c.contentType);
        ASSERT_TRUE(response) << c.what;
        EXPECT_EQ(response->status, 400) << c.what;
        const json error = json::parse(response->body, nullptr, false);
        ASSERT_TRUE(error.is_object()) << c.what << ": " << response->body;
        EXPECT_NE(error.at("error").get<std::string>().find(c.mentions), std::string::npos)
            << c.what << ": " << error.dump();
    }
    // The server is still fine afterwards.
    const auto fine = postAnalyze(server, analyzeBody("ZelmVision-TEST", payload, jpeg));
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->status, 200);
}

TEST(LocalPlatformServer, TranscriptionRecognisesSpokenEnglishOrAnswersTheScript)
{
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("raw.wav"));
    const QString wavPath = dir.filePath(QStringLiteral("voice.wav"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("espeak-ng"),
                                {QStringLiteral("-v"), QStringLiteral("en-us"), QStringLiteral("-w"), raw,
                                 QStringLiteral("what is the weather like today")}),
              0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("sox"), {raw, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
                                                      QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), wavPath}),
              0);
    QFile file(wavPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string wav = file.readAll().toStdString();
    QFile rawFile(raw);
    ASSERT_TRUE(rawFile.open(QIODevice::ReadOnly));
    const std::string wav22k = rawFile.readAll().toStdString();

    ScriptFile script("{}");
    LocalPlatformProcess server(script.arguments());
    ASSERT_TRUE(server.started());
    auto client = server.client(90);
    const std::string type = "multipart/form-data; boundary=ZelmVoice-TEST";

    const auto recognised = client->Post("/v1/audio/transcriptions", server.bearer(),
                                         transcriptionBody("ZelmVoice-TEST", "en", wav), type);
    ASSERT_TRUE(recognised);
    ASSERT_EQ(recognised->status, 200) << recognised->body;
    const std::string text = json::parse(recognised->body).at("text");
    EXPECT_NE(text.find("weather"), std::string::npos) << text;
    const json logged = lastRequest(server);
    EXPECT_EQ(logged.at("source"), "pocketsphinx");
    EXPECT_EQ(logged.at("language"), "en");
    EXPECT_EQ(logged.at("prompt"), "weather talk");
    EXPECT_EQ(logged.at("audio_bytes"), wav.size());

    // Scripted transcripts are handed out in turn, the last one repeating.
    script.write(R"({"transcription": {"sequence": ["first turn", "second turn"]}})");
    std::vector<std::string> scripted;
    for (int i = 0; i < 3; ++i) {
        const auto response = client->Post("/v1/audio/transcriptions", server.bearer(),
                                           transcriptionBody("ZelmVoice-TEST", "ru", wav, ""), type);
        ASSERT_TRUE(response);
        scripted.push_back(json::parse(response->body).at("text"));
    }
    EXPECT_EQ(scripted, (std::vector<std::string>{"first turn", "second turn", "second turn"}));

    // A field that is not UTF-8 is refused without breaking the journal.
    const auto badAgent = client->Post("/v1/audio/transcriptions", server.bearer(),
                                       transcriptionBody("ZelmVoice-TEST", "en", wav, "dsa-\xFF\xFE"), type);
    ASSERT_TRUE(badAgent);
    EXPECT_EQ(badAgent->status, 403);
    EXPECT_TRUE(json::parse(badAgent->body).is_object());
    EXPECT_EQ(lastRequest(server).at("status"), 403);

    // Audio the recogniser cannot take, and uploads missing their parts.
    const auto wrongRate = client->Post("/v1/audio/transcriptions", server.bearer(),
                                        transcriptionBody("ZelmVoice-TEST", "en", wav22k), type);
    ASSERT_TRUE(wrongRate);
    EXPECT_EQ(wrongRate->status, 400);
    EXPECT_NE(wrongRate->body.find("16000"), std::string::npos);
    const auto notWav = client->Post("/v1/audio/transcriptions", server.bearer(),
                                     transcriptionBody("ZelmVoice-TEST", "en", "not audio at all"), type);
    ASSERT_TRUE(notWav);
    EXPECT_EQ(notWav->status, 400);
    const std::string noFile = "--ZelmVoice-TEST\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nen\r\n--ZelmVoice-TEST--\r\n";
    const auto missingFile = client->Post("/v1/audio/transcriptions", server.bearer(), noFile, type);
    ASSERT_TRUE(missingFile);
    EXPECT_EQ(missingFile->status, 400);
    EXPECT_NE(json::parse(missingFile->body).at("error").get<std::string>().find("file"), std::string::npos);
}

TEST(LocalPlatformServer, SpeechAnswersMp3InTheRequestedLanguage)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started());
    auto client = server.client(60);
    const auto speak = [&](const json &body) {
        return client->Post("/v1/desktop/speech", server.bearer(), body.dump(), "application/json");
    };
    const auto isMp3 = [](const std::string &bytes) {
        if (bytes.size() < 4)
            return false;
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        return bytes.rfind("ID3", 0) == 0 || (b0 == 0xFF && (b1 & 0xE0) == 0xE0);
    };

    const auto english = speak(json{{"input", "  Hello there, this is a test.  "}, {"agent_id", agentID}, {"language", "en"}});
    ASSERT_TRUE(english);
    ASSERT_EQ(english->status, 200) << english->body;
    EXPECT_EQ(english->get_header_value("Content-Type"), "audio/mpeg");
    EXPECT_TRUE(isMp3(english->body));
    EXPECT_GT(english->body.size(), 1000u);

    const auto russian = speak(json{{"input", "Привет! Это проверка."}, {"agent_id", agentID}, {"language", "ru"}, {"pace", 0.85}});
    ASSERT_TRUE(russian);
    ASSERT_EQ(russian->status, 200);
    EXPECT_TRUE(isMp3(russian->body));
    const json logged = lastRequest(server);
    EXPECT_EQ(logged.at("language"), "ru");
    EXPECT_EQ(logged.at("pace"), 0.85);
    EXPECT_EQ(logged.at("input"), "Привет! Это проверка.");

    for (const json &bad : {json{{"input", "   "}, {"agent_id", agentID}, {"language", "en"}},
                            json{{"input", "hi"}, {"agent_id", agentID}, {"language", "de"}},
                            json{{"input", "hi"}, {"agent_id", agentID}, {"language", "en"}, {"pace", nullptr}},
                            json{{"input", "hi"}, {"agent_id", agentID}, {"language", "en"}, {"pace", -1}},
                            json{{"agent_id", agentID}, {"language", "en"}}}) {
        const auto refused = speak(bad);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 400) << bad.dump();
    }
}

TEST(LocalPlatformServer, WarmUpIsAcceptedAndRecorded)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started());
    auto client = server.client();
    const auto warm = [&](const std::string &url, const httplib::Headers &headers) {
        return client->Post("/v1/desktop/context/warm", headers, json{{"agent_id", agentID}, {"page_url", url}}.dump(),
                            "application/json");
    };
    const auto accepted = warm("https://example.org/docs?page=2", server.bearer());
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->status, 202);
    const json logged = lastRequest(server);
    EXPECT_EQ(logged.at("path"), "/v1/desktop/context/warm");
    EXPECT_EQ(logged.at("page_url"), "https://example.org/docs?page=2");

    const auto tooLong = warm("https://example.org/" + std::string(1981, 'a'), server.bearer());
    ASSERT_TRUE(tooLong);
    EXPECT_EQ(tooLong->status, 400);
    const auto longest = warm("https://example.org/" + std::string(1980, 'a'), server.bearer());
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->status, 202);
    const auto notWeb = warm("file:///etc/passwd", server.bearer());
    ASSERT_TRUE(notWeb);
    EXPECT_EQ(notWeb->status, 400);
    const auto anonymous = warm("https://example.org/", {});
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 401);
}

TEST(LocalPlatformServer, LogsEveryRequestAndStopsCleanlyMidStream)
{
    ScriptFile script(R"({"chat": {"pause_ms": 20000, "replies": [{"match": "slow", "sentences": ["One.", "Two."]}]}})");
    LocalPlatformProcess server(script.arguments());
    ASSERT_TRUE(server.started());
    const auto config = server.client()->Get("/v1/desktop/config", server.bearer());
    ASSERT_TRUE(config);

    // A stream that would take twenty seconds is open when the signal arrives.
    std::atomic<bool> firstEvent = false;
    std::string body;
    httplib::Error error = httplib::Error::Success;
    std::thread reader([&] {
        httplib::Request request;
        request.method = "POST";
        request.path = "/v1/desktop/chat";
        request.headers = server.bearer();
        request.set_header("Content-Type", "application/json");
        request.body = chatRequest("slow one").dump();
        request.content_receiver = [&](const char *data, std::size_t length, std::uint64_t, std::uint64_t) {
            body.append(data, length);
            firstEvent = true;
            return true;
        };
        error = server.client(60)->send(request).error();
    });
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!firstEvent && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(firstEvent);
    const auto stopping = Clock::now();
    EXPECT_EQ(server.stop(), 0);
    EXPECT_LT(millisecondsBetween(stopping, Clock::now()), 8000);
    reader.join();
    EXPECT_NE(body.find("One."), std::string::npos);
    EXPECT_EQ(body.find("Two."), std::string::npos);
    EXPECT_NE(error, httplib::Error::Success);

    const QString log = server.output();
    EXPECT_TRUE(log.contains(QRegularExpression(
        QStringLiteral("request method=GET path=/v1/desktop/config status=200 duration_ms=\\d+\n"))))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("stopping on signal 15")));
}

} // namespace
} // namespace nimbel::test
