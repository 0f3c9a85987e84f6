#pragma once

#include "core/Clock.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace nimbel {

// One running assistant per user. The first launch listens on a local socket
// that only its user may open; a later launch hands its links (the desktop
// passes "zelmdesktop:" links as arguments) to the running one and exits.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role { primary, secondary, failed };

    explicit SingleInstance(QString socketPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The per-user socket: inside $XDG_RUNTIME_DIR (private to the user) when
    // there is one, else in the temporary folder with the user id in its name.
    static QString defaultSocketPath();

    // Becomes the running instance, or hands `links` to the instance already
    // running. A socket left behind by a crashed instance is removed and taken over.
    Role claim(const QStringList &links, Milliseconds timeout = Milliseconds(2000));

    // Stops being the running instance (before a relaunch), so that the next
    // launch becomes the first again.
    void release();

    QString socketPath() const { return m_path; }

signals:
    // A later launch's links, in order; empty when it was launched without any.
    void activated(const QStringList &links);

private:
    bool handOver(const QStringList &links, Milliseconds timeout);
    void accept();
    void readFrom(QLocalSocket *socket);

    QString m_path;
    QLocalServer *m_server = nullptr;
};

} // namespace nimbel
