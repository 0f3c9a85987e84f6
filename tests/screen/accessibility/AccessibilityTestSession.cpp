#include "AccessibilityTestSession.h"

#include "screen/linux/AccessibilityBusStatus.h"

#include <QCoro/QCoroTask>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <csignal>

namespace nimbel::test {

bool ensureAccessibilityBus()
{
    // The first call for the bus's address has the session bus start the
    // launcher. It puts its socket under XDG_RUNTIME_DIR, which
    // scripts/with-session makes a folder of the session's own: sessions side
    // by side never take each other's bus.
    static const bool ready = [] {
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
