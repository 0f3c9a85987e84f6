#pragma once

#include "Credentials.h"
#include "Options.h"
#include "RequestJournal.h"
#include "ScriptSource.h"
#include "SpeechRecognizer.h"
#include "SpeechSynthesizer.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace nimbel::localplatform {

// The HTTP server: every platform endpoint the assistant calls, the console page that pairs
// it, and a debug interface for end-to-end tests. Listens on 127.0.0.1 only.
class PlatformServer
{
public:
    PlatformServer(Options options, ScriptSource &script, Credentials &credentials, RequestJournal &journal);
    ~PlatformServer();
    PlatformServer(const PlatformServer &) = delete;
    PlatformServer &operator=(const PlatformServer &) = delete;

    // Binds the configured port (0 = any free one) and returns the port bound.
    Result<int, Failure> bind();
    // Serves until stop(); returns after the requests in flight have ended.
    void run();
    // Safe from any thread. Streams and delays in progress end at once.
    void stop();

private:
    void installRoutes();
    void handleConsole(const httplib::Request &req, httplib::Response &res);
    void handleConnect(const httplib::Request &req, httplib::Response &res);
    void handleExchange(const httplib::Request &req, httplib::Response &res);
    void handleConfig(const httplib::Request &req, httplib::Response &res);
    void handleChat(const httplib::Request &req, httplib::Response &res);
    void handleAnalyze(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    void handleTranscription(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader);
    void handleSpeech(const httplib::Request &req, httplib::Response &res);
    void handleWarm(const httplib::Request &req, httplib::Response &res);
    void handleAppcast(const httplib::Request &req, httplib::Response &res);

    // Applies the fault scripted for the path: waits its delay and, when it names a status,
    // answers with it. True when the request has been answered.
    bool scriptedFault(const std::string &path, httplib::Response &res, std::optional<Fault> &fault);
    bool authorized(const httplib::Request &req, httplib::Response &res, const Script &script) const;
    bool knownAgent(const std::string &agentID, httplib::Response &res, const Script &script) const;
    // Sends a whole body, cut or paused part-way when the fault says so.
    void deliver(httplib::Response &res, int status, std::string body, const std::string &contentType,
                 const std::optional<Fault> &fault);
    std::string platformURLFor(const httplib::Request &req) const;

    // Adds the request being served to the journal and the log, once.
    void commit(const std::string &method, const std::string &path, int status);
    // Waits, unless the server is stopping; false when it is.
    bool pause(int milliseconds);

    Options m_options;
    ScriptSource &m_script;
    Credentials &m_credentials;
    RequestJournal &m_journal;
    SpeechRecognizer m_recognizer;
    SpeechSynthesizer m_synthesizer;
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    // The release channel's signing key (Ed25519), made at start.
    std::string m_updatePublicKey;
    std::string m_updateSecretKey;

    std::mutex m_stopMutex;
    std::condition_variable m_stopSignal;
    bool m_stopping = false;
};

} // namespace nimbel::localplatform
