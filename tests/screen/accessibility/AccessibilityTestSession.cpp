#include "AccessibilityTestSession.h"

#include "screen/linux/AccessibilityBusStatus.h"

#include <QCoro/QCoroTask>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <csignal>
#include <cstdlib>

namespace nimbel::test {

bool ensureAccessibilityBus()
{
    static const bool ready = [] {
        QProcess owner;
        owner.start(QStringLiteral("dbus-send"),
                    {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=org.freedesktop.DBus"),
                     QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                     QStringLiteral("string:org.a11y.Bus")});
        if (!owner.waitForFinished(5000) || owner.exitStatus() != QProcess::NormalExit || owner.exitCode() != 0)
            return false;
        if (!owner.readAllStandardOutput().contains("true")) {
            // The launcher puts its socket under XDG_RUNTIME_DIR (or the home
            // folder): a folder of this session's own keeps sessions running side
            // by side from taking each other's bus, whether the launcher is
            // started here or by the session bus on first use.
            QByteArray folder = QDir::temp().filePath(QStringLiteral("nimbel-a11y-XXXXXX")).toLocal8Bit();
            if (!mkdtemp(folder.data()))
                return false;
            const QString runtime = QString::fromLocal8Bit(folder);
            if (QProcess::execute(QStringLiteral("dbus-update-activation-environment"),
                                  {QStringLiteral("XDG_RUNTIME_DIR=") + runtime}) != 0)
                return false;
            QProcess launcher;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
            launcher.setProcessEnvironment(environment);
            launcher.setProgram(QStringLiteral("/usr/libexec/at-spi-bus-launcher"));
            launcher.setArguments({QStringLiteral("--launch-immediately")});
            // It outlives this process: holding the test's output open would
            // keep whoever reads that output waiting for it.
            launcher.setStandardOutputFile(QProcess::nullDevice());
            launcher.setStandardErrorFile(QProcess::nullDevice());
            if (!launcher.startDetached())
                return false;
        }
        const AccessibilityBusStatus status;
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            if (const auto address = status.busAddress(); address && status.busAnswers(*address))
                return status.enableToolkitAccessibility() && status.isTrusted();
            QThread::msleep(50);
        }
        return false;
    }();
    return ready;
}

TargetApplication::TargetApplication(const QString &program, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("NO_AT_BRIDGE"));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, arguments);
    m_process.waitForStarted(5000);
}

TargetApplication::~TargetApplication()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    resume();
    m_process.kill();
    m_process.waitForFinished(5000);
}

void TargetApplication::stop()
{
    if (started() && ::kill(pid_t(pid()), SIGSTOP) == 0)
        m_stopped = true;
}

void TargetApplication::resume()
{
    if (m_stopped && ::kill(pid_t(pid()), SIGCONT) == 0)
        m_stopped = false;
}

QString testWindowProgram()
{
    return QStringLiteral(NIMBEL_TEST_WINDOW);
}

std::optional<AccessibilityContext> collectWhen(AccessibilityContextService &service, qint32 pid,
                                                const std::function<bool(const AccessibilityContext &)> &accept,
                                                std::chrono::milliseconds patience)
{
    const QDeadlineTimer deadline(patience);
    std::optional<AccessibilityContext> last;
    while (!deadline.hasExpired()) {
        last = QCoro::waitFor(service.collect(pid, QStringLiteral("Test"), QStringLiteral("test.desktop")));
        if (last && accept(*last))
            return last;
        // Calls that gave up are still answered later: an application that is
        // slow to start gets the time to catch up before it is asked again.
        QThread::msleep(400);
        QCoreApplication::processEvents();
    }
    return last;
}

} // namespace nimbel::test
