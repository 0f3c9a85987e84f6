#include "app/SingleInstance.h"

#include "app/HandOverMessage.h"
#include "core/BuildInfo.h"
#include "core/Log.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <utility>

#include <unistd.h>

namespace nimbel {

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent)
    , m_path(std::move(socketPath))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    const QString name = QString::fromUtf8(build::appId);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(name + QStringLiteral(".instance"));
    return QDir(QDir::tempPath()).filePath(name + QStringLiteral("-%1.instance").arg(::getuid()));
}

SingleInstance::Role SingleInstance::claim(const QStringList &links, Milliseconds timeout)
{
    // Two launches at once must not both decide they are the first.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(Milliseconds(10000));
    if (!lock.tryLock(timeout))
        log::error(log::general(), log::Record().add(u"event", u"single_instance_lock_timeout").add(u"path", m_path));

    if (handOver(links, timeout))
        return Role::secondary;

    // Nobody answered: whatever is at the path was left by a crashed instance.
    QLocalServer::removeServer(m_path);
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_path)) {
        log::error(log::general(), log::Record()
                                       .add(u"event", u"single_instance_listen_failed")
                                       .add(u"path", m_path)
                                       .add(u"error", server->errorString()));
        delete server;
        return Role::failed;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return Role::primary;
}

void SingleInstance::release()
{
    if (!m_server)
        return;
    m_server->close();
    delete std::exchange(m_server, nullptr);
}

bool SingleInstance::handOver(const QStringList &links, Milliseconds timeout)
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(int(timeout.count())))
        return false;
    socket.write(handOverMessage::encode(links));
    if (!socket.waitForBytesWritten(int(timeout.count())))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(int(timeout.count()));
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (socket->bytesAvailable() > handOverMessage::maximumBytes) {
                socket->setProperty("overflow", true);
                socket->abort();
            }
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { readFrom(socket); });
        if (socket->state() == QLocalSocket::UnconnectedState)
            readFrom(socket);
    }
}

void SingleInstance::readFrom(QLocalSocket *socket)
{
    if (socket->property("handled").toBool())
        return;
    socket->setProperty("handled", true);
    socket->deleteLater();
    if (socket->property("overflow").toBool())
        return;
    if (const auto links = handOverMessage::decode(socket->readAll()))
        emit activated(*links);
}

} // namespace nimbel
