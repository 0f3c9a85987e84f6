#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace nimbel::test {

// A request as the server received it.
struct RecordedRequest
{
    std::string method;
    std::string target; // path and query
    std::multimap<std::string, std::string> headers; // names lower-cased
    std::string body;   // the exact bytes, multipart bodies included

    std::string header(const std::string &lowerName) const;
    std::set<std::string> headerNames() const;
};

// One step of a streamed (chunked) answer.
struct StreamStep
{
    enum class Kind {
        write, // send `bytes` as one chunk
        pause, // sleep for `duration`
        hold,  // wait until the test calls release()
        cut,   // drop the connection without ending the body
        flood, // send `bytes` over and over, as fast as possible, until the client goes away
    };
    Kind kind = Kind::write;
    std::string bytes;
    std::chrono::milliseconds duration{0};

    static StreamStep write(std::string bytes) { return {Kind::write, std::move(bytes), {}}; }
    static StreamStep pause(std::chrono::milliseconds duration) { return {Kind::pause, {}, duration}; }
    static StreamStep hold() { return {Kind::hold, {}, {}}; }
    static StreamStep cut() { return {Kind::cut, {}, {}}; }
    static StreamStep flood(std::string unit) { return {Kind::flood, std::move(unit), {}}; }
};

// What the server answers on one path.
struct ScriptedResponse
{
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Before anything, status line included, is sent.
    std::chrono::milliseconds delay{0};
    // When not empty, the body is sent chunked, step by step, instead of `body`.
    std::vector<StreamStep> stream;

    static ScriptedResponse json(int status, std::string body);
    static ScriptedResponse events(std::vector<StreamStep> steps);
};

// A small HTTP server on 127.0.0.1 (any free port) running on its own
// threads. It records every request and answers each path as scripted;
// unscripted paths get 404.
class TestServer
{
public:
    TestServer();
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    void script(const std::string &path, ScriptedResponse response);
    QString baseURL() const;

    std::vector<RecordedRequest> requests() const;
    std::optional<RecordedRequest> lastRequest() const;

    // Lets one stream waiting (now or later) at a hold step go on.
    void release();
    // Whether a stream is waiting at a hold step right now.
    bool isHolding() const;
    // Waits up to `limit` for a stream to reach a hold step (it may still be
    // writing what comes before); false when none does.
    bool waitUntilHolding(std::chrono::milliseconds limit) const;

private:
    void handle(const void *request, void *response);
    bool runStep(const StreamStep &step, void *sink);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::map<std::string, ScriptedResponse> m_scripts;
    std::vector<RecordedRequest> m_requests;
    int m_releases = 0;
    bool m_stopping = false;
    int m_holding = 0;
};

} // namespace nimbel::test
