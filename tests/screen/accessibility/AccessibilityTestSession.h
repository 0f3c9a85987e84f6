#pragma once

#include "screen/AccessibilityContext.h"
#include "screen/AccessibilityContextService.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace nimbel::test {

// The accessibility bus of the desktop session the tests run in, started by
// the session bus on first use; it stays for the session and ends with the
// session bus. Toolkit accessibility is switched on. False when no launcher
// can be had.
bool ensureAccessibilityBus();

// An application under test, ended (and woken first, if stopped) when the
// object goes away.
class TargetApplication
{
public:
    TargetApplication(const QString &program, const QStringList &arguments);
    ~TargetApplication();
    TargetApplication(const TargetApplication &) = delete;
    TargetApplication &operator=(const TargetApplication &) = delete;

    bool started() const { return m_process.state() == QProcess::Running; }
    qint32 pid() const { return qint32(m_process.processId()); }
    void stop();   // SIGSTOP: the application answers nothing until woken
    void resume(); // SIGCONT

private:
    QProcess m_process;
    bool m_stopped = false;
};

// The Qt window built beside the tests (see AccessibilityTestWindow.cpp).
QString testWindowProgram();

// Collects until `accept` holds for the answer (an application's tree appears
// on the bus a little after its window), or until `patience` is over; answers
// the last context seen.
std::optional<AccessibilityContext> collectWhen(AccessibilityContextService &service, qint32 pid,
                                                const std::function<bool(const AccessibilityContext &)> &accept,
                                                std::chrono::milliseconds patience = std::chrono::seconds(30));

} // namespace nimbel::test
