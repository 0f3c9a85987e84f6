#include "app/DesktopServices.h"

#include "app/AppMetadata.h"
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

LaunchAtLoginService::LaunchAtLoginService(QString autostartFolder)
    : m_folder(autostartFolder.isEmpty()
                   ? QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                         .filePath(QStringLiteral("autostart"))
                   : std::move(autostartFolder))
{
}

QString LaunchAtLoginService::entryPath() const
{
    return QDir(m_folder).filePath(QString::fromUtf8(appmeta::desktopFileName) + QStringLiteral(".desktop"));
}

bool LaunchAtLoginService::isEnabled() const
{
    return QFileInfo(entryPath()).isFile();
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
    struct Tool
    {
        const char *program;
        QStringList arguments;
    };
    const QList<Tool> tools = page == SettingsPage::microphone
                                  ? QList<Tool>{{"gnome-control-center", {QStringLiteral("sound")}},
                                                {"systemsettings", {QStringLiteral("kcm_pulseaudio")}},
                                                {"pavucontrol", {QStringLiteral("--tab=4")}}}
                                  : QList<Tool>{{"gnome-control-center", {QStringLiteral("privacy")}},
                                                {"systemsettings", {QStringLiteral("kcm_screenlocker")}}};
    for (const Tool &tool : tools) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool.program));
        if (!program.isEmpty() && QProcess::startDetached(program, tool.arguments))
            return true;
    }
    return false;
}

} // namespace nimbel
