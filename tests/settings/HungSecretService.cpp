// Takes the secret service's name on the session bus and then stops itself,
// so that every call to it stays unanswered until it is killed.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerService(u"org.freedesktop.secrets"_s)) {
        std::fprintf(stderr, "hung secret service: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::raise(SIGSTOP);
    return 0;
}
