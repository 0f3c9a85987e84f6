#include "app/DesktopServices.h"

#include "app/SystemSettingsPages.h"
#include "screen/linux/AccessibilityBusStatus.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace nimbel {

BusAccessibilityTrust::BusAccessibilityTrust()
    : m_status(std::make_unique<AccessibilityBusStatus>())
{
}

BusAccessibilityTrust::~BusAccessibilityTrust() = default;

bool BusAccessibilityTrust::isTrusted() const
{
    return m_status->isTrusted();
}

bool DesktopLinkOpener::open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

LinuxDesktopActions::LinuxDesktopActions(std::function<void()> releaseInstance, std::function<void()> reclaimInstance)
    : m_releaseInstance(std::move(releaseInstance))
    , m_reclaimInstance(std::move(reclaimInstance))
{
}

bool LinuxDesktopActions::relaunch()
{
    // The new instance starts without the links this one was given: they were handled.
    QStringList arguments;
    const QStringList own = QCoreApplication::arguments();
    for (qsizetype i = 1; i < own.size(); ++i)
        if (!own[i].startsWith(u"zelmdesktop:", Qt::CaseInsensitive))
            arguments << own[i];
    if (m_releaseInstance)
        m_releaseInstance();
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments)) {
        if (m_reclaimInstance)
            m_reclaimInstance();
        return false;
    }
    QCoreApplication::quit();
    return true;
}

bool LinuxDesktopActions::openSettings(SettingsPage page)
{
    const auto command = systemSettings::command(
        page == SettingsPage::microphone ? nimbel::SettingsPage::microphone : nimbel::SettingsPage::screenRecording,
        [](const QString &program) { return !QStandardPaths::findExecutable(program).isEmpty(); });
    return command && QProcess::startDetached(command->program, command->arguments);
}

} // namespace nimbel
