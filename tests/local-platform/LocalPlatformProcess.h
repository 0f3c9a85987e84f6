#pragma once

#include <httplib.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace nimbel::test {

// The real nimbel-local-platform binary, started on a free port for one test and stopped
// with SIGTERM at the end.
class LocalPlatformProcess
{
public:
    static constexpr const char *fixedKey = "zelm-test-fixed-key";

    // Starts the server with `--port 0 --token <fixedKey>` and the given extra arguments.
    explicit LocalPlatformProcess(QStringList arguments = {});
    ~LocalPlatformProcess();
    LocalPlatformProcess(const LocalPlatformProcess &) = delete;
    LocalPlatformProcess &operator=(const LocalPlatformProcess &) = delete;

    bool started() const { return m_port > 0; }
    int port() const { return m_port; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    // What the process wrote to its standard error so far.
    QString errors();

    std::unique_ptr<httplib::Client> client(int readTimeoutSeconds = 15) const;
    httplib::Headers bearer(const std::string &key = fixedKey) const { return {{"Authorization", "Bearer " + key}}; }

    // Sends SIGTERM and waits; the exit code, or -1 when the process did not end normally in time.
    int stop(int waitMs = 10000);

private:
    QProcess m_process;
    int m_port = 0;
};

// A script file in a temporary folder; rewriting it changes the running server's behaviour.
class ScriptFile
{
public:
    explicit ScriptFile(const std::string &json);
    void write(const std::string &json);
    QStringList arguments() const { return {QStringLiteral("--script"), m_path}; }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace nimbel::test
