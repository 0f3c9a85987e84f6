#include "PulseAudioTestServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

using namespace Qt::StringLiterals;

namespace nimbel::test {

PulseAudioTestServer::PulseAudioTestServer(bool welcoming)
{
    const QString dir = m_dir.path();
    const QString socket = dir + u"/native"_s;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_RUNTIME_DIR"_s, dir);
    environment.insert(u"PULSE_RUNTIME_PATH"_s, dir + u"/runtime"_s);
    environment.insert(u"PULSE_STATE_PATH"_s, dir + u"/state"_s);
    environment.insert(u"HOME"_s, dir);
    environment.remove(u"PULSE_SERVER"_s);
    // Off the session bus: servers of parallel tests would compete for its one PulseAudio name.
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + dir + u"/no-bus"_s);
    environment.remove(u"DISPLAY"_s);
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.setStandardOutputFile(QProcess::nullDevice());
    const QStringList arguments{
        u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s, u"--use-pid-file=no"_s, u"--log-level=error"_s, u"-L"_s,
        u"module-native-protocol-unix socket="_s + socket
            + (welcoming ? u" auth-anonymous=1"_s : u" auth-anonymous=0 auth-cookie="_s + dir + u"/cookie"_s),
        u"-L"_s, u"module-null-sink sink_name=speakers rate=48000"_s,
        u"-L"_s, u"module-null-sink sink_name=mic_feed rate=48000"_s,
        u"-L"_s, u"module-remap-source source_name=virtual_mic master=mic_feed.monitor"_s};
    m_arguments = arguments;
    if (welcoming) {
        m_server.start(u"pulseaudio"_s, arguments);
    } else {
        // A client of the server's own user is let in whatever its cookie: the server runs as another user.
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                       | QFile::WriteOther | QFile::ExeOther);
        const QStringList asNobody{u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s, u"pulseaudio"_s};
        m_server.start(u"setpriv"_s, asNobody + arguments);
    }
    m_server.waitForStarted(10000);
    m_environment.set("PULSE_SERVER", QByteArray("unix:") + QFile::encodeName(socket));
    if (!welcoming) {
        QFile wrong(dir + u"/wrong-cookie"_s);
        wrong.open(QIODevice::WriteOnly);
        wrong.write(QByteArray(256, 'x'));
        wrong.close();
        m_environment.set("PULSE_COOKIE", QFile::encodeName(wrong.fileName()));
        // Up once it turns clients away.
        waitUntil([&] {
            QProcess probe;
            probe.start(u"pactl"_s, {u"info"_s});
            probe.waitForFinished(10000);
            return !isRunning() || probe.readAllStandardError().contains("Access denied");
        }, 15000);
        return;
    }
    // The server is up once it answers.
    waitUntil([this] { return !isRunning() || pactl({u"info"_s}).has_value(); }, 15000);
    pactl({u"set-default-source"_s, u"virtual_mic"_s});
    pactl({u"set-default-sink"_s, u"speakers"_s});
}

PulseAudioTestServer::~PulseAudioTestServer()
{
    kill();
}

bool PulseAudioTestServer::isRunning() const
{
    return m_server.state() == QProcess::Running;
}

void PulseAudioTestServer::kill()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.kill();
    m_server.waitForFinished(5000);
}

bool PulseAudioTestServer::restart()
{
    kill();
    m_server.start(u"pulseaudio"_s, m_arguments);
    if (!m_server.waitForStarted(10000)
        || !waitUntil([this] { return !isRunning() || pactl({u"info"_s}).has_value(); }, 15000))
        return false;
    return pactl({u"set-default-source"_s, u"virtual_mic"_s}).has_value()
        && pactl({u"set-default-sink"_s, u"speakers"_s}).has_value();
}

std::optional<QString> PulseAudioTestServer::pactl(const QStringList &arguments) const
{
    QProcess process;
    process.start(u"pactl"_s, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::unique_ptr<QProcess> PulseAudioTestServer::playIntoMicrophone(const QString &file) const
{
    auto process = std::make_unique<QProcess>();
    process->start(u"paplay"_s, {u"--device=mic_feed"_s, file});
    process->waitForStarted();
    return process;
}

std::unique_ptr<QProcess> PulseAudioTestServer::recordSpeakers(const QString &rawFile, int rate) const
{
    auto process = std::make_unique<QProcess>();
    process->setStandardOutputFile(rawFile);
    process->start(u"parec"_s, {u"--device=speakers.monitor"_s, u"--raw"_s, u"--format=float32le"_s, u"--channels=1"_s,
                                u"--rate="_s + QString::number(rate), u"--latency-msec=10"_s});
    process->waitForStarted();
    return process;
}

bool runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

QString spokenFile(const QString &folder, const QString &name, const QString &voice, const QString &text,
                   double silenceBefore, double silenceAfter)
{
    const QString speech = folder + QLatin1Char('/') + name + u"-speech.wav"_s;
    const QString padded = folder + QLatin1Char('/') + name + u".wav"_s;
    if (!runTool(u"espeak-ng"_s, {u"-v"_s, voice, u"-w"_s, speech, text}))
        return {};
    if (!runTool(u"sox"_s, {speech, padded, u"pad"_s, QString::number(silenceBefore), QString::number(silenceAfter)}))
        return {};
    return padded;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

} // namespace nimbel::test
