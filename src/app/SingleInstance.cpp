#include "app/SingleInstance.h"

#include <utility>

#include "core/BuildInfo.h"
#include "core/Log.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace nimbel {

namespace {
// The first line of every hand-over; anything else on the socket is ignored.
constexpr char greeting[] = "nimbel-activate 1";
// A hand-over is a handful of links; anything longer is not one of ours.
constexpr qint64 maximumMessageBytes = 64 * 1024;
} // namespace

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
    QByteArray message = QByteArray(greeting) + '\n';
    for (const QString &link : links) {
        QString single = link;
        single.remove(u'\n').remove(u'\r');
        message += single.toUtf8() + '\n';
    }
    socket.write(message);
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
            if (socket->bytesAvailable() > maximumMessageBytes) {
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
    const QByteArray data = socket->readAll().left(maximumMessageBytes);
    QList<QByteArray> lines = data.split('\n');
    if (lines.isEmpty() || lines.first() != greeting)
        return;
    QStringList links;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            links << QString::fromUtf8(lines[i]);
    }
    emit activated(links);
}

} // namespace nimbel
