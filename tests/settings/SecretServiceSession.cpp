#include "settings/SecretServiceSession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <csignal>

using namespace Qt::StringLiterals;

namespace nimbel::test {

namespace {

const QString secretServiceName = u"org.freedesktop.secrets"_s;

void stop(std::unique_ptr<QProcess> &process)
{
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
    process.reset();
}

} // namespace

SecretServiceSession::~SecretServiceSession()
{
    stop(m_keyring);
    stop(m_bus);
}

QProcessEnvironment SecretServiceSession::childEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
    const QString home = m_dir.filePath(u"home"_s);
    env.insert(u"HOME"_s, home);
    env.insert(u"XDG_DATA_HOME"_s, home + u"/.local/share"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, home + u"/.config"_s);
    env.insert(u"XDG_CACHE_HOME"_s, home + u"/.cache"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, m_dir.filePath(u"runtime"_s));
    env.remove(u"GNOME_KEYRING_CONTROL"_s);
    return env;
}

QString SecretServiceSession::startBus()
{
    if (!m_dir.isValid())
        return u"no temporary folder"_s;
    for (const char *sub : {"home", "runtime", "bus"}) {
        const QString path = m_dir.filePath(QString::fromLatin1(sub));
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QString configPath = m_dir.filePath(u"bus.conf"_s);
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly))
        return config.errorString();
    config.write(u"<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>"_s.arg(m_dir.filePath(u"bus"_s))
                     .toUtf8());
    config.close();

    m_bus = std::make_unique<QProcess>();
    m_bus->start(u"dbus-daemon"_s, {u"--config-file="_s + configPath, u"--nofork"_s, u"--print-address=1"_s});
    const QDeadlineTimer deadline(10000);
    while (m_bus->waitForStarted(5000) && !m_bus->canReadLine() && !deadline.hasExpired())
        m_bus->waitForReadyRead(100);
    m_address = QString::fromUtf8(m_bus->readLine()).trimmed();
    if (m_address.isEmpty())
        return u"dbus-daemon printed no address: "_s + m_bus->errorString();

    // Before anything in this process opens the session bus: libsecret keeps
    // its first connection for the life of the process.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    // QtKeychain picks its backend from the desktop once; make that choice the
    // Secret Service whatever desktop runs the tests.
    for (const char *variable : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_KEYRING_CONTROL"})
        qunsetenv(variable);
    return QString();
}

QString SecretServiceSession::startGnomeKeyring(const QString &prompter)
{
    m_keyring = std::make_unique<QProcess>();
    QProcessEnvironment env = childEnvironment();
    env.insert(u"GNOME_KEYRING_TEST_PROMPTER"_s, prompter);
    m_keyring->setProcessEnvironment(env);
    m_keyring->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The password on standard input creates the login keyring and leaves it
    // unlocked; unlocking it again later takes the same password. Everything
    // up to the end of input is the password, a newline included.
    m_keyring->start(u"gnome-keyring-daemon"_s, {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
    if (!m_keyring->waitForStarted(5000))
        return u"gnome-keyring-daemon did not start: "_s + m_keyring->errorString();
    m_keyring->write(keyringPassword);
    m_keyring->waitForBytesWritten(5000);
    m_keyring->closeWriteChannel();
    // Asked through Qt's own connection: libsecret keeps one of its own.
    const QDeadlineTimer deadline(10000);
    while (!QDBusConnection::sessionBus().interface()->isServiceRegistered(secretServiceName)) {
        if (deadline.hasExpired() || m_keyring->state() == QProcess::NotRunning)
            return u"gnome-keyring-daemon did not take the secret service's name (exit status %1)"_s.arg(m_keyring->exitCode());
        QThread::msleep(50);
    }
    return QString();
}

void SecretServiceSession::freezeKeyring(bool frozen) const
{
    ::kill(pid_t(m_keyring->processId()), frozen ? SIGSTOP : SIGCONT);
}

QString SecretServiceSession::lockLoginKeyring() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(secretServiceName, u"/org/freedesktop/secrets"_s,
                                                      u"org.freedesktop.Secret.Service"_s, u"Lock"_s);
    call << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(u"/org/freedesktop/secrets/collection/login"_s)});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : QString();
}

SecretServiceSession::ToolResult SecretServiceSession::secretTool(const QStringList &arguments, const QByteArray &input) const
{
    QProcess tool;
    tool.setProcessEnvironment(childEnvironment());
    tool.start(u"secret-tool"_s, arguments);
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(15000)) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, tool.readAllStandardOutput()};
}

} // namespace nimbel::test
