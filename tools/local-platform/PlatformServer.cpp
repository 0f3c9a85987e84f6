#include "PlatformServer.h"

#include "ChatResponder.h"
#include "ConsolePage.h"
#include "ScreenNavigator.h"
#include "Text.h"
#include "WavAudio.h"

#include <httplib.h>
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <sstream>

namespace nimbel::localplatform {

namespace {

using json = nlohmann::ordered_json;
using ordered_json = nlohmann::ordered_json;
using SteadyClock = std::chrono::steady_clock;

constexpr const char *jsonType = "application/json";
constexpr std::size_t maximumBody = 48u * 1024 * 1024;
constexpr std::size_t maximumParts = 16;
constexpr std::size_t maximumSpeechInput = 8000; // code points; the assistant sends at most 2000 characters
constexpr std::size_t maximumPageURL = 2000;

// What the request log and the debug journal learn about the request this thread is serving.
// httplib runs routing, the handler, any streaming and the logger on one worker thread.
struct RequestTrace
{
    bool active = false;
    bool committed = false;
    bool faulted = false;
    std::string method;
    std::string path;
    SteadyClock::time_point start;
    ordered_json details;
};

thread_local RequestTrace trace;

ordered_json &details()
{
    if (!trace.details.is_object())
        trace.details = ordered_json::object();
    return trace.details;
}

// Multipart fields are not checked for valid UTF-8 before they are echoed in messages or kept
// in the journal; replacing bad bytes keeps serialising from throwing.
std::string serialized(const ordered_json &value)
{
    return value.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

void sendError(httplib::Response &res, int status, const std::string &message)
{
    res.status = status;
    res.set_content(serialized(ordered_json{{"error", message}}), jsonType);
}

void sendJson(httplib::Response &res, int status, const ordered_json &body)
{
    res.status = status;
    res.set_content(serialized(body), jsonType);
}

bool isJsonRequest(const httplib::Request &req)
{
    const std::string type = text::lower(req.get_header_value("Content-Type"));
    return text::startsWith(type, "application/json");
}

// A JSON object body, or a 400 that says what is wrong with it.
std::optional<json> jsonObjectBody(const httplib::Request &req, httplib::Response &res)
{
    if (!isJsonRequest(req)) {
        sendError(res, 400, "Content-Type must be application/json");
        return std::nullopt;
    }
    json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded()) {
        sendError(res, 400, "The body is not valid JSON");
        return std::nullopt;
    }
    if (!body.is_object()) {
        sendError(res, 400, "The body must be a JSON object");
        return std::nullopt;
    }
    return body;
}

std::optional<std::string> stringField(const json &body, const char *key, httplib::Response &res)
{
    if (!body.contains(key) || !body.at(key).is_string()) {
        sendError(res, 400, std::string("\"") + key + "\" must be a string");
        return std::nullopt;
    }
    return body.at(key).get<std::string>();
}

std::string serverTiming(SteadyClock::time_point start)
{
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    std::ostringstream out;
    out << "app;dur=" << std::fixed << std::setprecision(1) << ms;
    return out.str();
}

std::string sse(const ordered_json &event)
{
    return "data: " + serialized(event) + "\n\n";
}

// Reads and drops a body the handler does not need, so that the connection stays usable.
void drain(const httplib::Request &req, const httplib::ContentReader &reader)
{
    if (req.is_multipart_form_data())
        reader([](const httplib::MultipartFormData &) { return true; }, [](const char *, std::size_t) { return true; });
    else
        reader([](const char *, std::size_t) { return true; });
}

struct FormPart
{
    std::string name;
    std::string filename;
    std::string contentType;
    std::string data;
};

// Reads a multipart/form-data body part by part (httplib checks the framing). Part names
// must be unique, so that a duplicated field is an error rather than a silent choice.
Result<std::vector<FormPart>, Failure> readForm(const httplib::Request &req, httplib::Response &res,
                                               const httplib::ContentReader &reader)
{
    if (!req.is_multipart_form_data()) {
        drain(req, reader);
        return Failure{"Content-Type must be multipart/form-data"};
    }
    std::vector<FormPart> parts;
    bool duplicate = false;
    const bool complete = reader(
        [&](const httplib::MultipartFormData &header) {
            duplicate = duplicate
                || std::any_of(parts.begin(), parts.end(), [&](const FormPart &p) { return p.name == header.name; });
            parts.push_back({header.name, header.filename, header.content_type, {}});
            return parts.size() <= maximumParts && !duplicate;
        },
        [&](const char *data, std::size_t length) {
            if (parts.empty())
                return false;
            parts.back().data.append(data, length);
            return true;
        });
    if (res.status == 413)
        return Failure{"The upload is too large"};
    if (duplicate)
        return Failure{"Multipart part \"" + parts.back().name + "\" appears twice"};
    if (parts.size() > maximumParts)
        return Failure{"Too many multipart parts"};
    if (!complete)
        return Failure{"Malformed multipart body"};
    for (const FormPart &part : parts) {
        if (part.name.empty())
            return Failure{"A multipart part has no name"};
    }
    return parts;
}

const FormPart *findPart(const std::vector<FormPart> &parts, std::string_view name)
{
    const auto it = std::find_if(parts.begin(), parts.end(), [&](const FormPart &p) { return p.name == name; });
    return it == parts.end() ? nullptr : &*it;
}

std::optional<std::string> unexpectedPart(const std::vector<FormPart> &parts, std::initializer_list<std::string_view> known)
{
    for (const FormPart &part : parts) {
        if (std::find(known.begin(), known.end(), part.name) == known.end())
            return part.name;
    }
    return std::nullopt;
}

std::string mediaType(const std::string &contentType)
{
    return text::lower(text::trim(contentType.substr(0, contentType.find(';'))));
}

std::string refusalMessage(Credentials::Refusal refusal)
{
    switch (refusal) {
    case Credentials::Refusal::used:
        return "This connection code has already been used. Press Connect on the console page again.";
    case Credentials::Refusal::expired:
        return "This connection code has expired. Press Connect on the console page again.";
    case Credentials::Refusal::unknown:
        break;
    }
    return "This connection code is not known. Press Connect on the console page again.";
}

std::string base64(const std::string &bytes)
{
    std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    out.resize(std::strlen(out.c_str()));
    return out;
}

// The offered release's download: stand-in bytes, the same for the same version.
std::string releaseDownload(const std::string &version)
{
    std::string body;
    for (int i = 0; i < 512; ++i)
        body += "Nimbel " + version + " development build, block " + std::to_string(i) + "\n";
    return body;
}

std::string isoNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

} // namespace

PlatformServer::PlatformServer(Options options, ScriptSource &script, Credentials &credentials, RequestJournal &journal)
    : m_options(std::move(options))
    , m_script(script)
    , m_credentials(credentials)
    , m_journal(journal)
    , m_recognizer(m_options.modelDirectory)
    , m_server(std::make_unique<httplib::Server>())
{
    // Streams, delays and idle keep-alive connections each hold a worker; the default pool of
    // max(8, cores - 1) runs dry as soon as a test keeps a few streams open.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    m_server->set_tcp_nodelay(true); // each event leaves at once, not after the next one
    m_server->set_keep_alive_timeout(3);
    m_server->set_payload_max_length(maximumBody);
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    m_updatePublicKey.resize(crypto_sign_PUBLICKEYBYTES);
    m_updateSecretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(m_updatePublicKey.data()),
                        reinterpret_cast<unsigned char *>(m_updateSecretKey.data()));
    installRoutes();
}

PlatformServer::~PlatformServer() = default;

Result<int, Failure> PlatformServer::bind()
{
    if (m_options.port == 0) {
        m_port = m_server->bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            return Failure{"cannot bind 127.0.0.1 to any port"};
    } else {
        if (!m_server->bind_to_port("127.0.0.1", m_options.port))
            return Failure{"cannot bind 127.0.0.1:" + std::to_string(m_options.port) + " (is it in use?)"};
        m_port = m_options.port;
    }
    return m_port;
}

void PlatformServer::run()
{
    m_server->listen_after_bind();
}

void PlatformServer::stop()
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopSignal.notify_all();
    m_server->stop();
}

void PlatformServer::commit(const std::string &method, const std::string &path, int status)
{
    if (trace.committed)
        return;
    trace.committed = true;
    const long long duration = trace.active
        ? std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - trace.start).count()
        : 0;
    // The debug interface itself is polled by tests; keeping it would bury what they look for.
    m_journal.record(JournalEntry{0, method, path, status, duration, std::move(trace.details)},
                     !text::startsWith(path, "/debug/"));
    trace.details = nullptr;
}

bool PlatformServer::pause(int milliseconds)
{
    std::unique_lock lock(m_stopMutex);
    if (milliseconds <= 0)
        return !m_stopping;
    return !m_stopSignal.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stopping; });
}

std::string PlatformServer::platformURLFor(const httplib::Request &req) const
{
    // A browser that reached the console as "localhost" gets links that name "localhost",
    // so that the platform address the assistant stores is the one the owner typed.
    const std::string host = text::lower(req.get_header_value("Host"));
    if (host == "localhost:" + std::to_string(m_port))
        return "http://localhost:" + std::to_string(m_port);
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void PlatformServer::installRoutes()
{
    httplib::Server &server = *m_server;

    server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &) {
        trace = RequestTrace{};
        trace.active = true;
        trace.start = SteadyClock::now();
        trace.method = req.method;
        trace.path = req.path;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // A client may ask the journal about a request the moment its answer has arrived, so the
    // entry is committed before the last byte leaves: here for whole bodies, by the streaming
    // providers for streams, and by the logger only for what never reached a handler.
    server.set_post_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        if (!res.content_provider_)
            commit(req.method, req.path, res.status);
    });
    server.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
        commit(req.method, req.path, res.status);
        trace = RequestTrace{};
    });
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &res) {
        // Scripted fault bodies go out exactly as written, even when empty.
        if (!res.body.empty() || res.content_provider_ || trace.faulted)
            return httplib::Server::HandlerResponse::Unhandled;
        const std::string message = res.status == 404 ? "Not found"
            : res.status == 405                        ? "Method not allowed"
            : res.status == 413                        ? "The request body is too large"
                                                       : "Request failed";
        res.set_content(serialized(ordered_json{{"error", message}}), jsonType);
        return httplib::Server::HandlerResponse::Handled;
    }));

    server.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr error) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            what = e.what();
        } catch (...) {
        }
        sendError(res, 500, "Internal error: " + what);
    });

    server.Get("/", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/desktop-agent"); });
    server.Get("/desktop-agent", [this](const auto &req, auto &res) { handleConsole(req, res); });
    // The connect button needs no body. Not waiting for one lets "curl -X POST" (which sends
    // no Content-Length) get its code at once instead of after the read timeout.
    server.Post("/desktop-agent/connect",
                [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
                    if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding"))
                        drain(req, reader);
                    handleConnect(req, res);
                });
    // The update feed the assistant looks for on its platform's origin: an empty channel
    // unless a release is offered (--update-version), so that a development setup
    // reports "no update" rather than a failed check.
    server.Get("/desktop-agent/updates/appcast.xml", [this](const auto &req, auto &res) { handleAppcast(req, res); });
    server.Get(R"(/desktop-agent/updates/nimbel-([0-9.]+)\.tar)", [this](const httplib::Request &req, httplib::Response &res) {
        if (!m_options.updateVersion || req.matches[1] != *m_options.updateVersion) {
            sendError(res, 404, "No such release");
            return;
        }
        res.set_content(releaseDownload(*m_options.updateVersion), "application/x-tar");
    });
    server.Get(R"(/desktop-agent/updates/([0-9.]+))", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content("<!doctype html><title>Nimbel " + std::string(req.matches[1]) + "</title><p>Nimbel "
                            + std::string(req.matches[1]) + " from the local platform.</p>",
                        "text/html; charset=utf-8");
    });
    server.Post("/desktop-connect/exchange", [this](const auto &req, auto &res) { handleExchange(req, res); });
    server.Get("/v1/desktop/config", [this](const auto &req, auto &res) { handleConfig(req, res); });
    server.Post("/v1/desktop/chat", [this](const auto &req, auto &res) { handleChat(req, res); });
    server.Post("/v1/desktop/analyze",
                [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
                    handleAnalyze(req, res, reader);
                });
    server.Post("/v1/audio/transcriptions",
                [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
                    handleTranscription(req, res, reader);
                });
    server.Post("/v1/desktop/speech", [this](const auto &req, auto &res) { handleSpeech(req, res); });
    server.Post("/v1/desktop/context/warm", [this](const auto &req, auto &res) { handleWarm(req, res); });

    // Debug interface for end-to-end tests.
    server.Get("/debug/requests", [this](const httplib::Request &req, httplib::Response &res) {
        std::uint64_t after = 0;
        if (req.has_param("after")) {
            try {
                after = std::stoull(req.get_param_value("after"));
            } catch (const std::exception &) {
                sendError(res, 400, "\"after\" must be a number");
                return;
            }
        }
        sendJson(res, 200, ordered_json{{"requests", m_journal.entries(after)}});
    });
    server.Delete("/debug/requests", [this](const httplib::Request &, httplib::Response &res) {
        m_journal.clear();
        res.status = 204;
    });
    server.Get("/debug/update-key", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(base64(m_updatePublicKey), "text/plain");
    });
    server.Get("/debug/last-analyze-image", [this](const httplib::Request &, httplib::Response &res) {
        const auto image = m_journal.lastAnalyzeImage();
        if (!image) {
            sendError(res, 404, "No analysis request yet");
            return;
        }
        res.set_content(*image, "image/jpeg");
    });
}

void PlatformServer::handleAppcast(const httplib::Request &req, httplib::Response &res)
{
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    std::string items;
    if (m_options.updateVersion) {
        const std::string &version = *m_options.updateVersion;
        const std::string download = releaseDownload(version);
        std::string signature(crypto_sign_BYTES, '\0');
        std::string key = m_updateSecretKey;
        if (m_options.updateSigning == "wrong") {
            std::string otherPublic(crypto_sign_PUBLICKEYBYTES, '\0');
            crypto_sign_keypair(reinterpret_cast<unsigned char *>(otherPublic.data()),
                                reinterpret_cast<unsigned char *>(key.data()));
        }
        crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char *>(download.data()), download.size(),
                             reinterpret_cast<const unsigned char *>(key.data()));
        const std::string origin = platformURLFor(req);
        const std::string signatureAttribute =
            m_options.updateSigning == "none" ? "" : " nimbel:edSignature=\"" + base64(signature) + "\"";
        items = "<item>\n<title>Nimbel " + version + "</title>\n<link>" + origin + "/desktop-agent/updates/" + version
            + "</link>\n<description>Development release " + version
            + " from the local platform.</description>\n<enclosure url=\"" + origin + "/desktop-agent/updates/nimbel-"
            + version + ".tar\" length=\"" + std::to_string(download.size())
            + "\" type=\"application/x-tar\" nimbel:version=\"" + version + "\" nimbel:shortVersionString=\"" + version
            + "\"" + signatureAttribute + "/>\n</item>\n";
    }
    res.set_content("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
                    "xmlns:nimbel=\"https://nimbel.app/xml-namespaces/appcast\">\n<channel>\n"
                    "<title>Local platform updates</title>\n"
                        + items + "</channel>\n</rss>\n",
                    "application/rss+xml; charset=utf-8");
}

bool PlatformServer::scriptedFault(const std::string &path, httplib::Response &res, std::optional<Fault> &fault)
{
    fault = m_script.takeFault(path);
    if (!fault)
        return false;
    details()["fault"] = true;
    trace.faulted = true;
    if (fault->delayMs > 0 && !pause(fault->delayMs)) {
        sendError(res, 503, "The server is shutting down");
        return true;
    }
    for (const auto &[name, value] : fault->headers)
        res.set_header(name, value);
    if (!fault->status)
        return false;
    deliver(res, *fault->status, fault->body, fault->contentType, fault);
    return true;
}

void PlatformServer::deliver(httplib::Response &res, int status, std::string body, const std::string &contentType,
                             const std::optional<Fault> &fault)
{
    res.status = status;
    const bool shaped = fault && (fault->cutAfter >= 0 || fault->pauseAfter >= 0);
    if (!shaped) {
        res.set_content(std::move(body), contentType);
        return;
    }
    struct Plan
    {
        std::string body;
        long long cutAfter;
        long long pauseAfter;
        int pauseMs;
        bool paused = false;
    };
    auto plan = std::make_shared<Plan>(Plan{std::move(body), fault->cutAfter, fault->pauseAfter, fault->pauseMs});
    const std::size_t length = plan->body.size();
    // The announced length is the whole body, so a cut shows up as a connection lost mid-body.
    res.set_content_provider(length, contentType, [this, plan, status](std::size_t offset, std::size_t,
                                                                        httplib::DataSink &sink) {
        const auto at = static_cast<long long>(offset);
        if (plan->cutAfter >= 0 && at >= plan->cutAfter) {
            commit(trace.method, trace.path, status);
            return false;
        }
        if (plan->pauseAfter >= 0 && !plan->paused && at >= plan->pauseAfter) {
            plan->paused = true;
            if (!pause(plan->pauseMs)) {
                commit(trace.method, trace.path, status);
                return false;
            }
        }
        long long end = static_cast<long long>(plan->body.size());
        if (plan->cutAfter >= 0)
            end = std::min(end, plan->cutAfter);
        if (plan->pauseAfter >= 0 && !plan->paused)
            end = std::min(end, plan->pauseAfter);
        if (end <= at)
            return true;
        if (end == static_cast<long long>(plan->body.size()))
            commit(trace.method, trace.path, status);
        return sink.write(plan->body.data() + offset, static_cast<std::size_t>(end - at));
    });
}

bool PlatformServer::authorized(const httplib::Request &req, httplib::Response &res, const Script &script) const
{
    const std::string header = req.get_header_value("Authorization");
    if (!text::startsWith(header, "Bearer ") || header.size() == 7) {
        details()["authorized"] = false;
        sendError(res, 401, "Missing API key: send \"Authorization: Bearer <key>\"");
        return false;
    }
    const std::string key = header.substr(7);
    const bool fixed = std::find(m_options.tokens.begin(), m_options.tokens.end(), key) != m_options.tokens.end()
        || std::find(script.tokens.begin(), script.tokens.end(), key) != script.tokens.end();
    if (!fixed && !m_credentials.accepts(key)) {
        details()["authorized"] = false;
        sendError(res, 401, "Invalid API key");
        return false;
    }
    return true;
}

bool PlatformServer::knownAgent(const std::string &agentID, httplib::Response &res, const Script &script) const
{
    if (agentID == script.agent.agentID)
        return true;
    sendError(res, 403, "Agent \"" + text::shortened(agentID, 80) + "\" is not served by this platform");
    return false;
}

void PlatformServer::handleConsole(const httplib::Request &req, httplib::Response &res)
{
    const auto script = m_script.current();
    res.set_content(consolePage(script->agent.agentName, script->agent.agentID, platformURLFor(req)),
                    "text/html; charset=utf-8");
}

void PlatformServer::handleConnect(const httplib::Request &req, httplib::Response &res)
{
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto script = m_script.current();
    const auto pairing = m_credentials.issueCode(platformURLFor(req));
    const std::string link = connectionLink(pairing.platformURL, pairing.code);
    details()["platform_url"] = pairing.platformURL;
    const bool wantsJson = req.get_header_value("Accept").find(jsonType) != std::string::npos
        || req.get_param_value("format") == "json";
    if (wantsJson) {
        ordered_json body;
        body["code"] = pairing.code;
        body["link"] = link;
        body["platform_url"] = pairing.platformURL;
        body["expires_in"] = std::chrono::duration_cast<std::chrono::seconds>(Credentials::codeLifetime).count();
        deliver(res, 200, serialized(body), jsonType, fault);
    } else {
        deliver(res, 200, connectedPage(script->agent.agentName, link), "text/html; charset=utf-8", fault);
    }
}

void PlatformServer::handleExchange(const httplib::Request &req, httplib::Response &res)
{
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto body = jsonObjectBody(req, res);
    if (!body)
        return;
    const auto code = stringField(*body, "code", res);
    if (!code)
        return;
    const auto redeemed = m_credentials.redeem(text::trim(*code));
    if (!redeemed) {
        details()["refused"] = true;
        sendError(res, 404, refusalMessage(redeemed.error()));
        return;
    }
    const auto script = m_script.current();
    ordered_json answer;
    answer["platform_url"] = redeemed->platformURL;
    answer["token"] = redeemed->token;
    answer["agent_id"] = script->agent.agentID;
    answer["agent_name"] = script->agent.agentName;
    details()["agent_id"] = script->agent.agentID;
    deliver(res, 200, serialized(answer), jsonType, fault);
}

void PlatformServer::handleConfig(const httplib::Request &req, httplib::Response &res)
{
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto script = m_script.current();
    if (!authorized(req, res, *script))
        return;
    const AgentProfile &agent = script->agent;
    ordered_json answer;
    answer["agent_id"] = agent.agentID;
    answer["agent_name"] = agent.agentName;
    if (agent.ownerEmail)
        answer["owner_email"] = *agent.ownerEmail;
    if (agent.addressAs)
        answer["address_as"] = *agent.addressAs;
    if (agent.greetRU)
        answer["greet_ru"] = *agent.greetRU;
    if (agent.greetEN)
        answer["greet_en"] = *agent.greetEN;
    ordered_json skills = ordered_json::object();
    for (const auto &[name, on] : agent.skills)
        skills[name] = on;
    answer["skills"] = skills;
    answer["updated_at"] = isoNow();
    deliver(res, 200, serialized(answer), jsonType, fault);
}

void PlatformServer::handleChat(const httplib::Request &req, httplib::Response &res)
{
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto script = m_script.current();
    if (!authorized(req, res, *script))
        return;
    const auto body = jsonObjectBody(req, res);
    if (!body)
        return;
    details()["request"] = *body;

    const auto agentID = stringField(*body, "agent_id", res);
    if (!agentID)
        return;
    if (!body->contains("messages") || !body->at("messages").is_array() || body->at("messages").empty()) {
        sendError(res, 400, "\"messages\" must be a non-empty array");
        return;
    }
    std::vector<ChatTurn> messages;
    for (const json &m : body->at("messages")) {
        if (!m.is_object() || !m.contains("role") || !m.at("role").is_string() || !m.contains("content")
            || !m.at("content").is_string()) {
            sendError(res, 400, "every message needs string \"role\" and \"content\"");
            return;
        }
        messages.push_back({m.at("role").get<std::string>(), m.at("content").get<std::string>()});
    }
    for (const char *key : {"sessionId", "visitorId", "lang", "channel"}) {
        if (!stringField(*body, key, res))
            return;
    }
    const std::string lang = body->at("lang").get<std::string>();
    if (lang != "ru" && lang != "en") {
        sendError(res, 400, "\"lang\" must be \"ru\" or \"en\"");
        return;
    }
    const std::string channel = body->at("channel").get<std::string>();
    if (channel != "chat" && channel != "voice") {
        sendError(res, 400, "\"channel\" must be \"chat\" or \"voice\"");
        return;
    }
    if (!knownAgent(*agentID, res, *script))
        return;

    const ChatReply reply = composeReply(messages, *script, lang);
    details()["reply"] = reply.sentences;

    // The stream as a list of writes: sentences, then "done"; a scripted malformed line or
    // error event goes in after the given number of sentences (at the latest before "done").
    std::vector<std::string> writes;
    const std::size_t count = reply.sentences.size();
    const auto position = [&](int after) { return std::min(static_cast<std::size_t>(after), count); };
    const std::optional<std::size_t> malformedAt =
        fault && fault->malformed ? std::optional(position(fault->malformed->after)) : std::nullopt;
    const std::optional<std::size_t> errorAt =
        fault && fault->errorEvent ? std::optional(position(fault->errorEvent->after)) : std::nullopt;
    for (std::size_t i = 0; i <= count; ++i) {
        if (malformedAt == i)
            writes.push_back(fault->malformed->line + "\n\n");
        if (errorAt == i) {
            ordered_json event;
            event["type"] = "error";
            event["error"] = fault->errorEvent->error;
            writes.push_back(sse(event));
            break;
        }
        ordered_json event;
        if (i < count) {
            event["type"] = "sentence";
            event["text"] = reply.sentences[i];
            writes.push_back(sse(event));
        } else {
            event["type"] = "done";
            event["reply"] = reply.doneReply;
            writes.push_back(sse(event) + "data: [DONE]\n\n");
        }
    }

    struct Stream
    {
        std::vector<std::string> writes;
        std::size_t next = 0;
        int pauseMs = 0;
        long long cutAfter = -1;
        bool cutMidEvent = false;
        long long pauseAfter = -1;
        int extraPauseMs = 0;
    };
    auto stream = std::make_shared<Stream>();
    stream->writes = std::move(writes);
    stream->pauseMs = script->chatPauseMs.value_or(m_options.chatPauseMs.value_or(150));
    if (fault) {
        stream->cutAfter = fault->cutAfter;
        stream->cutMidEvent = fault->cutMidEvent;
        stream->pauseAfter = fault->pauseAfter;
        stream->extraPauseMs = fault->pauseMs;
    }
    res.status = 200;
    res.set_header("Cache-Control", "no-cache");
    // Exactly "text/event-stream": with any parameter httplib compresses the stream for
    // clients that accept it (Qt's always do), and the compressor holds every event back
    // until the end. Event streams are UTF-8 by definition.
    res.set_chunked_content_provider(
        "text/event-stream", [this, stream](std::size_t, httplib::DataSink &sink) {
            const auto sent = static_cast<long long>(stream->next);
            int wait = sent > 0 ? stream->pauseMs : 0;
            if (sent == stream->pauseAfter)
                wait += stream->extraPauseMs;
            const bool cut = stream->cutAfter >= 0 && sent >= stream->cutAfter;
            const bool last = stream->next + 1 == stream->writes.size();
            if (cut && stream->cutMidEvent && stream->next < stream->writes.size() && pause(wait)) {
                // Half a line, as when the platform dies while writing a sentence.
                const std::string &event = stream->writes[stream->next];
                sink.write(event.data(), event.size() / 2);
            }
            if (cut || !pause(wait)) {
                commit(trace.method, trace.path, 200);
                return false; // drops the connection without the closing chunk
            }
            if (last)
                commit(trace.method, trace.path, 200);
            if (!sink.write(stream->writes[stream->next].data(), stream->writes[stream->next].size()))
                return false;
            if (++stream->next == stream->writes.size())
                sink.done();
            return true;
        });
}

void PlatformServer::handleAnalyze(const httplib::Request &req, httplib::Response &res,
                                   const httplib::ContentReader &reader)
{
    auto form = readForm(req, res, reader);
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto script = m_script.current();
    if (!authorized(req, res, *script))
        return;
    if (!form) {
        sendError(res, res.status == 413 ? 413 : 400, form.error().message);
        return;
    }
    const std::vector<FormPart> &parts = form.value();
    if (auto extra = unexpectedPart(parts, {"payload", "image"})) {
        sendError(res, 400, "Unexpected multipart part \"" + *extra + "\"");
        return;
    }
    const FormPart *payloadPart = findPart(parts, "payload");
    const FormPart *imagePart = findPart(parts, "image");
    if (!payloadPart || !imagePart) {
        sendError(res, 400, "The upload needs the parts \"payload\" and \"image\"");
        return;
    }
    if (mediaType(payloadPart->contentType) != jsonType) {
        sendError(res, 400, "The \"payload\" part must be application/json");
        return;
    }
    if (imagePart->filename.empty() || mediaType(imagePart->contentType) != "image/jpeg") {
        sendError(res, 400, "The \"image\" part must be a file of type image/jpeg");
        return;
    }
    const std::string &jpeg = imagePart->data;
    if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF || static_cast<unsigned char>(jpeg[1]) != 0xD8
        || static_cast<unsigned char>(jpeg[2]) != 0xFF) {
        sendError(res, 400, "The \"image\" part is not a JPEG image");
        return;
    }
    const json payload = json::parse(payloadPart->data, nullptr, false);
    if (payload.is_discarded()) {
        sendError(res, 400, "The \"payload\" part is not valid JSON");
        return;
    }
    details()["payload"] = payload;
    details()["image_bytes"] = jpeg.size();
    details()["image_filename"] = imagePart->filename;
    m_journal.keepAnalyzeImage(jpeg);
    if (auto problem = payloadProblem(payload)) {
        sendError(res, 400, *problem);
        return;
    }
    if (!knownAgent(payload.at("agent_id").get<std::string>(), res, *script))
        return;

    const ordered_json answer = script->analyzeAnswer ? *script->analyzeAnswer : toJson(navigate(payload));
    details()["answer"] = answer;
    if (script->serverTiming)
        res.set_header("Server-Timing", serverTiming(trace.start));
    deliver(res, 200, serialized(answer), jsonType, fault);
}

void PlatformServer::handleTranscription(const httplib::Request &req, httplib::Response &res,
                                         const httplib::ContentReader &reader)
{
    const auto arrived = std::chrono::steady_clock::now();
    auto form = readForm(req, res, reader);
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto script = m_script.current();
    if (!authorized(req, res, *script))
        return;
    if (!form) {
        sendError(res, res.status == 413 ? 413 : 400, form.error().message);
        return;
    }
    const std::vector<FormPart> &parts = form.value();
    if (auto extra = unexpectedPart(parts, {"language", "agent_id", "prompt", "file"})) {
        sendError(res, 400, "Unexpected multipart part \"" + *extra + "\"");
        return;
    }
    const FormPart *language = findPart(parts, "language");
    const FormPart *file = findPart(parts, "file");
    if (!language || !file) {
        sendError(res, 400, "The upload needs the parts \"language\" and \"file\"");
        return;
    }
    const std::string lang = text::trim(language->data);
    if (lang.empty() || lang.size() > 16) {
        sendError(res, 400, "The \"language\" part must be a short language code");
        return;
    }
    const std::string type = mediaType(file->contentType);
    if (file->filename.empty() || (type != "audio/wav" && type != "audio/x-wav" && type != "audio/wave")) {
        sendError(res, 400, "The \"file\" part must be a file of type audio/wav");
        return;
    }
    details()["language"] = lang;
    details()["audio_bytes"] = file->data.size();
    if (const FormPart *prompt = findPart(parts, "prompt"))
        details()["prompt"] = prompt->data;
    if (const FormPart *agent = findPart(parts, "agent_id")) {
        details()["agent_id"] = agent->data;
        if (!knownAgent(agent->data, res, *script))
            return;
    }
    auto audio = parseWav(file->data);
    if (!audio) {
        sendError(res, 400, "The \"file\" part is not usable audio: " + audio.error().message);
        return;
    }
    if (audio->sampleRate != SpeechRecognizer::sampleRate) {
        sendError(res, 400, "Audio must be sampled at 16000 Hz, not " + std::to_string(audio->sampleRate) + " Hz");
        return;
    }
    details()["audio_seconds"] = static_cast<double>(audio->samples.size()) / SpeechRecognizer::sampleRate;

    std::string transcript;
    if (auto scripted = m_script.nextTranscript()) {
        transcript = *scripted;
        details()["source"] = "script";
    } else {
        auto recognised = m_recognizer.transcribe(audio->samples);
        if (!recognised) {
            sendError(res, 503, "Speech recognition is unavailable: " + recognised.error().message);
            return;
        }
        transcript = std::move(recognised).value();
        details()["source"] = "pocketsphinx";
    }
    details()["text"] = transcript;
    std::this_thread::sleep_until(arrived + std::chrono::milliseconds(m_options.transcriptionDelayMs));
    deliver(res, 200, serialized(ordered_json{{"text", transcript}}), jsonType, fault);
}

void PlatformServer::handleSpeech(const httplib::Request &req, httplib::Response &res)
{
    const auto arrived = std::chrono::steady_clock::now();
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto script = m_script.current();
    if (!authorized(req, res, *script))
        return;
    const auto body = jsonObjectBody(req, res);
    if (!body)
        return;
    const auto input = stringField(*body, "input", res);
    const auto agentID = input ? stringField(*body, "agent_id", res) : std::nullopt;
    const auto language = agentID ? stringField(*body, "language", res) : std::nullopt;
    if (!language)
        return;
    const std::string spoken = text::trim(*input);
    if (spoken.empty()) {
        sendError(res, 400, "\"input\" is blank");
        return;
    }
    if (text::characterCount(spoken) > maximumSpeechInput) {
        sendError(res, 400, "\"input\" is too long");
        return;
    }
    if (*language != "ru" && *language != "en") {
        sendError(res, 400, "\"language\" must be \"ru\" or \"en\"");
        return;
    }
    std::optional<double> pace;
    if (body->contains("pace")) {
        const json &p = body->at("pace");
        if (!p.is_number() || !std::isfinite(p.get<double>()) || p.get<double>() <= 0 || p.get<double>() > 4) {
            sendError(res, 400, "\"pace\" must be a number above 0 and at most 4");
            return;
        }
        pace = p.get<double>();
    }
    details()["input"] = spoken;
    details()["language"] = *language;
    details()["pace"] = pace ? ordered_json(*pace) : ordered_json(nullptr);
    if (!knownAgent(*agentID, res, *script))
        return;
    auto audio = m_synthesizer.synthesize(spoken, *language, pace);
    if (!audio) {
        sendError(res, 500, "Speech synthesis failed: " + audio.error().message);
        return;
    }
    details()["audio_bytes"] = audio->size();
    std::this_thread::sleep_until(arrived + std::chrono::milliseconds(m_options.speechDelayMs));
    deliver(res, 200, std::move(audio).value(), "audio/mpeg", fault);
}

void PlatformServer::handleWarm(const httplib::Request &req, httplib::Response &res)
{
    std::optional<Fault> fault;
    if (scriptedFault(req.path, res, fault))
        return;
    const auto script = m_script.current();
    if (!authorized(req, res, *script))
        return;
    const auto body = jsonObjectBody(req, res);
    if (!body)
        return;
    const auto agentID = stringField(*body, "agent_id", res);
    const auto pageURL = agentID ? stringField(*body, "page_url", res) : std::nullopt;
    if (!pageURL)
        return;
    details()["agent_id"] = *agentID;
    details()["page_url"] = *pageURL;
    const std::string lowered = text::lower(*pageURL);
    if (text::characterCount(*pageURL) > maximumPageURL || text::trim(*pageURL) != *pageURL
        || !(text::startsWith(lowered, "http://") || text::startsWith(lowered, "https://"))) {
        sendError(res, 400, "\"page_url\" must be an http(s) address of at most 2000 characters");
        return;
    }
    if (!knownAgent(*agentID, res, *script))
        return;
    deliver(res, 202, serialized(ordered_json{{"status", "accepted"}}), jsonType, fault);
}

} // namespace nimbel::localplatform
