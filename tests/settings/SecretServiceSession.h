#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace nimbel::test {

// A private D-Bus session bus without service activation, so that only the
// services a test starts exist on it, and the real desktop's key store is
// never reached. The test process is pointed at it (DBUS_SESSION_BUS_ADDRESS)
// before anything opens a session-bus connection.
class SecretServiceSession
{
public:
    SecretServiceSession() = default;
    ~SecretServiceSession();
    SecretServiceSession(const SecretServiceSession &) = delete;
    SecretServiceSession &operator=(const SecretServiceSession &) = delete;

    // Starts the bus and points this process at it. Empty on success, else why not.
    QString startBus();
    // The login keyring's password.
    static constexpr char keyringPassword[] = "nimbel-test-password";
    // Starts gnome-keyring's secret service with a fresh, unlocked login
    // keyring under a private home, and waits until it owns its bus name.
    // Its prompts go to `prompter` (a bus name).
    QString startGnomeKeyring(const QString &prompter);
    // Locks the login keyring, as a desktop does at login without the
    // keyring's password or when the owner locks it. Empty on success.
    QString lockLoginKeyring() const;
    // Stops gnome-keyring's process (SIGSTOP): it keeps its bus name and
    // answers nothing until it is woken (SIGCONT).
    void freezeKeyring(bool frozen) const;

    QString scratchPath(const QString &name) const { return m_dir.filePath(name); }

    struct ToolResult { int exitCode = -1; QByteArray output; };
    // secret-tool on the private bus, with `input` on its standard input.
    ToolResult secretTool(const QStringList &arguments, const QByteArray &input = {}) const;

private:
    QProcessEnvironment childEnvironment() const;

    QTemporaryDir m_dir;
    QString m_address;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_keyring;
};

// Runs the event loop until `store` has finished storing its latest key; false
// when it is still storing after `guardMs` (a hang, not a speed goal).
template<typename Store>
bool waitUntilStored(Store &store, int guardMs = 120000)
{
    if (!store.isStoring())
        return true;
    QEventLoop loop;
    QObject::connect(&store, &Store::storingFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(guardMs, &loop, &QEventLoop::quit);
    loop.exec();
    return !store.isStoring();
}

} // namespace nimbel::test
