#include "gateway/TestServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

namespace nimbel::test {

namespace {

const char *const originalContentType = "X-Test-Original-Content-Type";

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Pseudo-headers the library adds to every request it parses (REMOTE_ADDR, LOCAL_PORT, ...).
bool isLibraryHeader(const std::string &lowerName)
{
    return lowerName.rfind("remote_", 0) == 0 || lowerName.rfind("local_", 0) == 0;
}

} // namespace

std::string RecordedRequest::header(const std::string &lowerName) const
{
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

std::set<std::string> RecordedRequest::headerNames() const
{
    std::set<std::string> names;
    for (const auto &[name, value] : headers)
        names.insert(name);
    return names;
}

ScriptedResponse ScriptedResponse::json(int status, std::string body)
{
    ScriptedResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

ScriptedResponse ScriptedResponse::events(std::vector<StreamStep> steps)
{
    ScriptedResponse response;
    response.contentType = "text/event-stream";
    response.stream = std::move(steps);
    return response;
}

TestServer::TestServer()
    : m_server(std::make_unique<httplib::Server>())
{
    // One request per connection: a worker never sits in a keep-alive wait
    // when the server is stopped.
    m_server->set_keep_alive_max_count(1);
    // A flooding stream whose client has given up stops soon after, and a
    // connection that never sends a request does not delay shutdown long.
    m_server->set_write_timeout(0, 300'000);
    m_server->set_read_timeout(1, 0);
    // The library would parse multipart bodies into parts and drop the raw
    // bytes; the tests compare those bytes, so the content type is swapped
    // before the body is read and restored in the record. (The request
    // object is the library's own mutable one; only the handle is const.)
    m_server->set_pre_routing_handler([](const httplib::Request &request, httplib::Response &) {
        const std::string type = request.get_header_value("Content-Type");
        if (type.rfind("multipart/", 0) == 0) {
            auto &mutableRequest = const_cast<httplib::Request &>(request);
            mutableRequest.headers.erase("Content-Type");
            mutableRequest.headers.emplace("Content-Type", "application/octet-stream");
            mutableRequest.headers.emplace(originalContentType, type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto handler = [this](const httplib::Request &request, httplib::Response &response) {
        handle(&request, &response);
    };
    m_server->Get(".*", handler);
    m_server->Post(".*", handler);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() is ignored until the accept loop runs: wait for it, so that a
    // test that sends nothing can still shut the server down.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_released.notify_all();
    m_server->stop();
    m_thread.join();
}

void TestServer::script(const std::string &path, ScriptedResponse response)
{
    std::lock_guard lock(m_mutex);
    m_scripts[path] = std::move(response);
}

QString TestServer::baseURL() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

std::vector<RecordedRequest> TestServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::optional<RecordedRequest> TestServer::lastRequest() const
{
    std::lock_guard lock(m_mutex);
    if (m_requests.empty())
        return std::nullopt;
    return m_requests.back();
}

void TestServer::release()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_releases;
    }
    m_released.notify_all();
}

bool TestServer::isHolding() const
{
    std::lock_guard lock(m_mutex);
    return m_holding > 0;
}

bool TestServer::waitUntilHolding(std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!isHolding()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TestServer::handle(const void *rawRequest, void *rawResponse)
{
    const auto &request = *static_cast<const httplib::Request *>(rawRequest);
    auto &response = *static_cast<httplib::Response *>(rawResponse);

    RecordedRequest record;
    record.method = request.method;
    record.target = request.target;
    record.body = request.body;
    const std::string swappedType = request.get_header_value(originalContentType);
    for (const auto &[name, value] : request.headers) {
        const std::string key = lowered(name);
        if (isLibraryHeader(key) || key == lowered(originalContentType))
            continue;
        record.headers.emplace(key, key == "content-type" && !swappedType.empty() ? swappedType : value);
    }

    ScriptedResponse script;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(record));
        const auto it = m_scripts.find(request.path);
        if (it == m_scripts.end())
            script = ScriptedResponse::json(404, R"({"error":"not scripted"})");
        else
            script = it->second;
    }

    if (script.delay.count() > 0)
        std::this_thread::sleep_for(script.delay);
    response.status = script.status;
    for (const auto &[name, value] : script.headers)
        response.set_header(name, value);
    if (script.stream.empty()) {
        response.set_content(script.body, script.contentType);
        return;
    }
    response.set_chunked_content_provider(
        script.contentType, [this, steps = script.stream](size_t, httplib::DataSink &sink) {
            for (const StreamStep &step : steps) {
                if (!runStep(step, &sink))
                    return false; // closes the connection mid-body
            }
            sink.done();
            return true;
        });
}

bool TestServer::runStep(const StreamStep &step, void *rawSink)
{
    auto &sink = *static_cast<httplib::DataSink *>(rawSink);
    switch (step.kind) {
    case StreamStep::Kind::write:
        return sink.write(step.bytes.data(), step.bytes.size());
    case StreamStep::Kind::pause:
        std::this_thread::sleep_for(step.duration);
        return true;
    case StreamStep::Kind::hold: {
        std::unique_lock lock(m_mutex);
        ++m_holding;
        // Bounded, so that a client that never reacts cannot hang the suite.
        const bool released =
            m_released.wait_for(lock, std::chrono::seconds(10), [this] { return m_releases > 0 || m_stopping; });
        --m_holding;
        if (released && !m_stopping)
            --m_releases;
        return !m_stopping;
    }
    case StreamStep::Kind::cut:
        return false;
    case StreamStep::Kind::flood: {
        // At most 256 MiB, in case the client never gives up.
        for (std::size_t sent = 0; sent < (std::size_t(256) << 20); sent += step.bytes.size()) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    return false;
            }
            if (!sink.is_writable() || !sink.write(step.bytes.data(), step.bytes.size()))
                return false;
        }
        return false;
    }
    }
    return false;
}

} // namespace nimbel::test
