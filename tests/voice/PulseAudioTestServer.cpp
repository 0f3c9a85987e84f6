#include "PulseAudioTestServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace nimbel::test {

PulseAudioTestServer::PulseAudioTestServer(bool welcoming)
{
    const QString dir = m_dir.path();
    const QString socket = dir + QStringLiteral("/native");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir + QStringLiteral("/runtime"));
    environment.insert(QStringLiteral("PULSE_STATE_PATH"), dir + QStringLiteral("/state"));
    environment.insert(QStringLiteral("HOME"), dir);
    environment.remove(QStringLiteral("PULSE_SERVER"));
    // Off the session bus: servers of parallel tests would compete for its one PulseAudio name.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + dir
                                                                       + QStringLiteral("/no-bus"));
    environment.remove(QStringLiteral("DISPLAY"));
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.setStandardOutputFile(QProcess::nullDevice());
    const QStringList arguments{
        QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
        QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"), QStringLiteral("-L"),
        QStringLiteral("module-native-protocol-unix socket=") + socket
            + (welcoming ? QStringLiteral(" auth-anonymous=1")
                         : QStringLiteral(" auth-anonymous=0 auth-cookie=") + dir + QStringLiteral("/cookie")),
        QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=speakers rate=48000"),
        QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=mic_feed rate=48000"),
        QStringLiteral("-L"), QStringLiteral("module-remap-source source_name=virtual_mic master=mic_feed.monitor")};
    m_arguments = arguments;
    if (welcoming) {
        m_server.start(QStringLiteral("pulseaudio"), arguments);
    } else {
        // A client of the server's own user is let in whatever its cookie: the server runs as another user.
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                       | QFile::WriteOther | QFile::ExeOther);
        m_server.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=nobody"),
                                                              QStringLiteral("--regid=nogroup"),
                                                              QStringLiteral("--clear-groups"),
                                                              QStringLiteral("pulseaudio")}
                                                      + arguments);
    }
    m_server.waitForStarted(10000);
    m_environment.set("PULSE_SERVER", QByteArray("unix:") + QFile::encodeName(socket));
    if (!welcoming) {
        QFile wrong(dir + QStringLiteral("/wrong-cookie"));
        wrong.open(QIODevice::WriteOnly);
        wrong.write(QByteArray(256, 'x'));
        wrong.close();
        m_environment.set("PULSE_COOKIE", QFile::encodeName(wrong.fileName()));
        // Up once it turns clients away.
        waitUntil([&] {
            QProcess probe;
            probe.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            probe.waitForFinished(10000);
            return !isRunning() || probe.readAllStandardError().contains("Access denied");
        }, 15000);
        return;
    }
    // The server is up once it answers.
    waitUntil([this] { return !isRunning() || pactl({QStringLiteral("info")}).has_value(); }, 15000);
    pactl({QStringLiteral("set-default-source"), QStringLiteral("virtual_mic")});
    pactl({QStringLiteral("set-default-sink"), QStringLiteral("speakers")});
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
    m_server.start(QStringLiteral("pulseaudio"), m_arguments);
    if (!m_server.waitForStarted(10000)
        || !waitUntil([this] { return !isRunning() || pactl({QStringLiteral("info")}).has_value(); }, 15000))
        return false;
    return pactl({QStringLiteral("set-default-source"), QStringLiteral("virtual_mic")}).has_value()
        && pactl({QStringLiteral("set-default-sink"), QStringLiteral("speakers")}).has_value();
}

std::optional<QString> PulseAudioTestServer::pactl(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::unique_ptr<QProcess> PulseAudioTestServer::playIntoMicrophone(const QString &file) const
{
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral("paplay"), {QStringLiteral("--device=mic_feed"), file});
    process->waitForStarted();
    return process;
}

std::unique_ptr<QProcess> PulseAudioTestServer::recordSpeakers(const QString &rawFile, int rate) const
{
    auto process = std::make_unique<QProcess>();
    process->setStandardOutputFile(rawFile);
    process->start(QStringLiteral("parec"), {QStringLiteral("--device=speakers.monitor"), QStringLiteral("--raw"),
                                             QStringLiteral("--format=float32le"), QStringLiteral("--channels=1"),
                                             QStringLiteral("--rate=") + QString::number(rate),
                                             QStringLiteral("--latency-msec=10")});
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
    const QString speech = folder + QLatin1Char('/') + name + QStringLiteral("-speech.wav");
    const QString padded = folder + QLatin1Char('/') + name + QStringLiteral(".wav");
    if (!runTool(QStringLiteral("espeak-ng"), {QStringLiteral("-v"), voice, QStringLiteral("-w"), speech, text}))
        return {};
    if (!runTool(QStringLiteral("sox"), {speech, padded, QStringLiteral("pad"), QString::number(silenceBefore),
                                         QString::number(silenceAfter)}))
        return {};
    return padded;
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
