// The local platform binary, started as a process and driven over loopback HTTP.

#include "LocalPlatformProcess.h"

#include <nlohmann/json.hpp>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace nimbel::test {
namespace {

using json = nlohmann::ordered_json;
using Parts = std::vector<std::pair<std::string, std::string>>;

constexpr const char *agentID = "dsa-local-agent";
const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(200, 'x') + std::string("\xFF\xD9", 2);

int statusOf(const httplib::Result &response)
{
    EXPECT_TRUE(response) << httplib::to_string(response.error());
    return response ? response->status : 0;
}

json chatRequest(const std::string &question)
{
    return json{{"agent_id", agentID}, {"messages", json::array({json{{"role", "user"}, {"content", question}}})},
                {"sessionId", "session-1"}, {"visitorId", "desktop-owner"}, {"lang", "en"}, {"channel", "chat"}};
}

// A multipart body as the assistant writes it: each part is the rest of its
// disposition line (with any further header lines) and its bytes.
std::string multipart(const std::string &boundary, const Parts &parts)
{
    std::string body;
    for (const auto &[head, data] : parts)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; " + head + "\r\n\r\n" + data + "\r\n";
    return body + "--" + boundary + "--\r\n";
}

// One streamed chat request: its status, body and "data:" payloads in order.
struct StreamedChat
{
    httplib::Error error = httplib::Error::Success;
    int status = 0;
    std::string contentEncoding;
    std::string body;

    std::vector<std::string> data() const
    {
        std::vector<std::string> out;
        for (std::size_t at = 0; (at = body.find("data: ", at)) != std::string::npos;) {
            const std::size_t end = std::min(body.find('\n', at), body.size());
            out.push_back(body.substr(at + 6, end - at - 6));
            at = end;
        }
        return out;
    }
};

StreamedChat streamChat(LocalPlatformProcess &server, const json &body, const std::function<void()> &onData = {})
{
    StreamedChat result;
    httplib::Request request;
    request.method = "POST";
    request.path = "/v1/desktop/chat";
    request.headers = server.bearer();
    // Qt's network stack always accepts compressed bodies; a compressor would hold the events back.
    request.set_header("Accept-Encoding", "gzip, deflate, br");
    request.set_header("Content-Type", "application/json");
    request.body = body.dump();
    request.response_handler = [&](const httplib::Response &response) {
        result.status = response.status;
        result.contentEncoding = response.get_header_value("Content-Encoding");
        return true;
    };
    request.content_receiver = [&](const char *data, std::size_t length, std::uint64_t, std::uint64_t) {
        result.body.append(data, length);
        if (onData)
            onData();
        return true;
    };
    result.error = server.client()->send(request).error();
    return result;
}

// The journal of requests, and its newest entry (a failed test rather than a crash when there is none).
json debugRequests(LocalPlatformProcess &server)
{
    const auto response = server.client()->Get("/debug/requests");
    EXPECT_TRUE(response) << "debug request failed: " << httplib::to_string(response.error());
    return response ? json::parse(response->body).at("requests") : json::array();
}
json lastRequest(LocalPlatformProcess &server)
{
    const json all = debugRequests(server);
    return all.empty() ? json::object() : all.back();
}

// --------------------------------------------------------------------------------------------

TEST(LocalPlatformServer, ConsolePairingIssuesOneTimeCodesAndTheApiChecksWhatItIsSent)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started()) << server.errors().toStdString();
    auto client = server.client();
    const auto page = client->Get("/desktop-agent");
    ASSERT_EQ(statusOf(page), 200);
    EXPECT_NE(page->body.find("action=\"/desktop-agent/connect\""), std::string::npos);

    // Machine-readable code: the link carries the platform address percent-encoded.
    const auto connect = client->Post("/desktop-agent/connect", httplib::Headers{{"Accept", "application/json"}}, "",
                                      "application/x-www-form-urlencoded");
    ASSERT_EQ(statusOf(connect), 200);
    const json issued = json::parse(connect->body);
    const std::string code = issued.at("code");
    const std::string encodedBase = "http%3A%2F%2F127.0.0.1%3A" + std::to_string(server.port());
    EXPECT_EQ(issued.at("link"), "zelmdesktop://connect?platform_url=" + encodedBase + "&code=" + code);

    const auto exchange = client->Post("/desktop-connect/exchange", json{{"code", code}}.dump(), "application/json");
    ASSERT_EQ(statusOf(exchange), 200);
    const json pairing = json::parse(exchange->body);
    EXPECT_EQ(pairing.at("platform_url"), server.baseURL());
    const std::string key = pairing.at("token");
    // A code works once.
    EXPECT_EQ(statusOf(client->Post("/desktop-connect/exchange", json{{"code", code}}.dump(), "application/json")), 404);

    // Only issued (or configured) keys open the bearer endpoints.
    EXPECT_EQ(statusOf(client->Get("/v1/desktop/config", server.bearer(key))), 200);
    for (const httplib::Headers &headers :
         {httplib::Headers{}, server.bearer("zelm-made-up"), httplib::Headers{{"Authorization", "Basic " + key}},
          httplib::Headers{{"Authorization", "Bearer " + key + "x"}}})
        EXPECT_EQ(statusOf(client->Get("/v1/desktop/config", headers)), 401);

    // Requests of the wrong shape, or for another agent.
    const auto post = [&](const char *path, const std::string &body) {
        return statusOf(client->Post(path, server.bearer(key), body, "application/json"));
    };
    json empty = chatRequest("hi"), noSession = chatRequest("hi"), badChannel = chatRequest("hi"), badMessage = chatRequest("hi");
    empty["messages"] = json::array();
    noSession.erase("sessionId");
    badChannel["channel"] = "fax";
    badMessage["messages"][0].erase("content");
    for (const json &bad : {empty, noSession, badChannel, badMessage})
        EXPECT_EQ(post("/v1/desktop/chat", bad.dump()), 400) << bad.dump();
    EXPECT_EQ(post("/v1/desktop/chat", "{oops"), 400);
    json stranger = chatRequest("hi");
    stranger["agent_id"] = "dsa-someone-else";
    EXPECT_EQ(post("/v1/desktop/chat", stranger.dump()), 403);

    // The page warm-up is accepted and recorded; a non-web address is not.
    const auto warm = [&](const std::string &url) {
        return post("/v1/desktop/context/warm", json{{"agent_id", agentID}, {"page_url", url}}.dump());
    };
    EXPECT_EQ(warm("https://example.org/docs?page=2"), 202);
    EXPECT_EQ(lastRequest(server).at("page_url"), "https://example.org/docs?page=2");
    EXPECT_EQ(warm("file:///etc/passwd"), 400);
}

TEST(LocalPlatformServer, TheScriptShapesConfigurationAndChatIsReadAgainEachTimeAndStopsCleanlyMidStream)
{
    ScriptFile script(R"({"agent": {"agent_id": "dsa-scripted", "agent_name": "Vera", "skills": {"web_research": false}},
                         "token": "zelm-from-script"})");
    LocalPlatformProcess server(script.arguments());
    ASSERT_TRUE(server.started());
    const auto config = server.client()->Get("/v1/desktop/config", server.bearer("zelm-from-script"));
    ASSERT_EQ(statusOf(config), 200);
    const json configuration = json::parse(config->body);
    EXPECT_EQ(configuration.at("agent_name"), "Vera");
    EXPECT_EQ(configuration.at("skills").at("web_research"), false);
    EXPECT_EQ(configuration.at("skills").at("voice_conversation"), true);

    // A rewrite takes effect at once, the script's own key with it.
    const std::string counting = R"({"chat": {"pause_ms": 250, "replies": [{"match": "count", "sentences": ["One.", "Two.", "Three."]}]})";
    script.write(counting + "}");
    EXPECT_EQ(statusOf(server.client()->Get("/v1/desktop/config", server.bearer("zelm-from-script"))), 401);

    // The scripted reply, one sentence per event (uncompressed: a compressor would hold them back), then done.
    // (The scripted faults are driven under a running assistant by the platform fault tests.)
    const StreamedChat chat = streamChat(server, chatRequest("Please COUNT"));
    EXPECT_EQ(chat.status, 200);
    EXPECT_EQ(chat.contentEncoding, "");
    EXPECT_EQ(chat.data(), (std::vector<std::string>{R"({"type":"sentence","text":"One."})", R"({"type":"sentence","text":"Two."})",
                                                     R"({"type":"sentence","text":"Three."})",
                                                     R"({"type":"done","reply":"One. Two. Three."})", "[DONE]"}))
        << chat.body;

    // The server stops cleanly with a stream open that would take twenty seconds.
    script.write(R"({"chat": {"pause_ms": 20000, "replies": [{"match": "slow", "sentences": ["One.", "Two."]}]}})");
    std::atomic<bool> firstEvent = false;
    StreamedChat slow;
    std::thread reader([&] { slow = streamChat(server, chatRequest("slow one"), [&] { firstEvent = true; }); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!firstEvent && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(firstEvent);
    EXPECT_EQ(server.stop(), 0);
    reader.join();
    EXPECT_NE(slow.body.find("One."), std::string::npos);
    EXPECT_EQ(slow.body.find("Two."), std::string::npos);
    EXPECT_NE(slow.error, httplib::Error::Success);
}

// What the answer points at, from the prepared screen context, is the navigator test's and the end-to-end tests'.
TEST(LocalPlatformServer, AnalyzeTakesOnlyAnUploadExactlyAsTheAssistantWritesIt)
{
    LocalPlatformProcess server;
    ASSERT_TRUE(server.started());
    const json capture{{"kind", "window"}, {"logical_width", 800.0}, {"logical_height", 600.0}, {"pixel_width", 1600},
                       {"pixel_height", 1200}, {"captured_at", "2026-12-05T15:09:25.123Z"}};
    const std::string payload = json{{"question", "Where is \"Continue\"?"}, {"capture", capture}, {"agent_id", agentID},
                                     {"established", json::array()}, {"conversation", json::array()}}.dump();
    const auto upload = [](const std::string &payloadPart, const std::string &image) {
        return multipart("B0UND", {{"name=\"payload\"\r\nContent-Type: application/json", payloadPart},
                                   {"name=\"image\"; filename=\"current.jpg\"\r\nContent-Type: image/jpeg", image}});
    };
    const std::string good = upload(payload, jpeg);
    const std::string form = "multipart/form-data; boundary=B0UND";
    const std::vector<std::tuple<std::string, std::string, const char *>> cases{
        {good.substr(0, good.size() - 20), form, "multipart"},
        {multipart("B0UND", {{"name=\"payload\"\r\nContent-Type: application/json", payload}}), form, "image"},
        {upload("{\"question\": ", jpeg), form, "JSON"},
    };
    for (const auto &[body, contentType, mentions] : cases) {
        const auto response = server.client()->Post("/v1/desktop/analyze", server.bearer(), body, contentType);
        ASSERT_EQ(statusOf(response), 400) << mentions;
        const json error = json::parse(response->body, nullptr, false);
        ASSERT_TRUE(error.is_object()) << response->body;
        EXPECT_NE(error.at("error").get<std::string>().find(mentions), std::string::npos) << error.dump();
    }

    // The good upload is answered and kept for the end-to-end tests, until they clear the journal.
    const auto response = server.client()->Post("/v1/desktop/analyze", server.bearer(), good, form);
    ASSERT_EQ(statusOf(response), 200) << response->body;
    EXPECT_EQ(lastRequest(server).at("image_bytes"), jpeg.size());
    EXPECT_EQ(statusOf(server.client()->Delete("/debug/requests")), 204);
    EXPECT_TRUE(debugRequests(server).empty());
}

TEST(LocalPlatformServer, TranscriptionRecognisesSpokenEnglishAndSpeechAnswersMp3)
{
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("raw.wav"));
    const QString wavPath = dir.filePath(QStringLiteral("voice.wav"));
    ASSERT_EQ(QProcess::execute("espeak-ng", {"-v", "en-us", "-w", raw, "what is the weather like today"}), 0);
    ASSERT_EQ(QProcess::execute("sox", {raw, "-r", "16000", "-c", "1", "-b", "16", wavPath}), 0);
    const auto readAll = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    };
    const std::string wav = readAll(wavPath);
    const std::string wav22k = readAll(raw);
    ASSERT_FALSE(wav.empty() || wav22k.empty());

    ScriptFile script("{}");
    LocalPlatformProcess server(script.arguments());
    ASSERT_TRUE(server.started());
    auto client = server.client(90);
    const auto transcribe = [&](const std::string &audio, const std::string &agent = agentID) {
        const std::string file = "name=\"file\"; filename=\"voice.wav\"\r\nContent-Type: audio/wav";
        return client->Post("/v1/audio/transcriptions", server.bearer(),
                            multipart("ZelmVoice-TEST", {{"name=\"language\"", "en"}, {"name=\"agent_id\"", agent},
                                                         {"name=\"prompt\"", "weather talk"}, {file, audio}}),
                            "multipart/form-data; boundary=ZelmVoice-TEST");
    };
    const auto recognised = transcribe(wav);
    ASSERT_EQ(statusOf(recognised), 200) << recognised->body;
    const std::string text = json::parse(recognised->body).at("text");
    EXPECT_NE(text.find("weather"), std::string::npos) << text;
    const json logged = lastRequest(server);
    EXPECT_EQ(logged.at("source"), "pocketsphinx");

    // A field that is not UTF-8 is refused without breaking the journal.
    EXPECT_EQ(statusOf(transcribe(wav, "dsa-\xFF\xFE")), 403);
    EXPECT_EQ(lastRequest(server).at("status"), 403);
    // Audio the recogniser cannot take (what is no WAV at all: see the audio test), and an upload without its file.
    EXPECT_EQ(statusOf(transcribe(wav22k)), 400);
    EXPECT_EQ(statusOf(client->Post("/v1/audio/transcriptions", server.bearer(), multipart("B", {{"name=\"language\"", "en"}}),
                                    "multipart/form-data; boundary=B")),
              400);

    // Speech in Russian (English is heard in the end-to-end voice test): MP3, a tag or a frame sync first.
    const auto speak = [&](const json &body) {
        return client->Post("/v1/desktop/speech", server.bearer(), body.dump(), "application/json");
    };
    const auto isMp3 = [](const std::string &bytes) {
        return bytes.size() > 1000
            && (bytes.rfind("ID3", 0) == 0 || (uint8_t(bytes[0]) == 0xFF && (uint8_t(bytes[1]) & 0xE0) == 0xE0));
    };
    const auto russian = speak(json{{"input", "Привет!"}, {"agent_id", agentID}, {"language", "ru"}, {"pace", 0.85}});
    ASSERT_EQ(statusOf(russian), 200) << russian->body;
    EXPECT_TRUE(isMp3(russian->body));
    EXPECT_EQ(statusOf(speak(json{{"input", "hi"}, {"agent_id", agentID}, {"language", "de"}})), 400);
}

} // namespace
} // namespace nimbel::test
