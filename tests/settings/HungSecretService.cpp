// Takes the secret service's name on the session bus and then stops itself,
// so that every call to it stays unanswered until it is killed.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerService(QStringLiteral("org.freedesktop.secrets"))) {
        std::fprintf(stderr, "hung secret service: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::raise(SIGSTOP);
    return 0;
}
