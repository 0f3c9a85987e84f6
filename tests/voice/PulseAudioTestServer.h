#pragma once

#include "support/TestEnvironment.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace nimbel::test {

// A private PulseAudio server for one test: "speakers" (a null sink whose
// monitor shows what was played), and "virtual_mic", a source that hears
// whatever is played into the null sink "mic_feed". Clients of this process
// reach it through PULSE_SERVER while the object lives.
class PulseAudioTestServer
{
public:
    // A server that is not `welcoming` turns this process's clients away (they hold the wrong cookie).
    explicit PulseAudioTestServer(bool welcoming = true);
    ~PulseAudioTestServer();

    bool isRunning() const;
    // Ends the server at once, as a crash would.
    void kill();
    // Starts it again where it was (a welcoming server only); true once it answers.
    bool restart();
    // Runs pactl against this server; its standard output, or nothing on failure.
    std::optional<QString> pactl(const QStringList &arguments) const;
    // Plays a sound file into the microphone (asynchronously; the process ends when it has played).
    std::unique_ptr<QProcess> playIntoMicrophone(const QString &file) const;
    // Records the speakers' monitor as raw float32 mono at `rate` until the returned process is stopped.
    std::unique_ptr<QProcess> recordSpeakers(const QString &rawFile, int rate) const;
    // A folder that ends with the server.
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QStringList m_arguments;
    ScopedEnvironment m_environment;
};

// Runs a program to its end; false when it failed.
bool runTool(const QString &program, const QStringList &arguments, int timeoutMs = 30000);
// espeak-ng speaking `text` in `voice`, padded with silence before and after, as a WAV file.
QString spokenFile(const QString &folder, const QString &name, const QString &voice, const QString &text,
                   double silenceBefore, double silenceAfter);
// The whole of a file; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Processes events until `done` holds or `timeoutMs` passed (the bound of a hang, not a speed goal).
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 20000);

} // namespace nimbel::test
