#include "app/LaunchAtLoginService.h"

#include "app/AppMetadata.h"
#include "core/Log.h"
#include "settings/Localized.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace nimbel {

namespace {

// Quoted the way desktop entries require an Exec argument to be.
QString quotedExec(const QString &program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    // A literal percent sign is written twice.
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace

LaunchAtLoginService::LaunchAtLoginService(QString autostartFolder, QString program, QObject *parent)
    : QObject(parent)
    , m_folder(autostartFolder.isEmpty()
                   ? QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                         .filePath(QStringLiteral("autostart"))
                   : std::move(autostartFolder))
    , m_program(program.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(program))
{
}

QString LaunchAtLoginService::entryPath() const
{
    return QDir(m_folder).filePath(QString::fromUtf8(appmeta::desktopFileName) + QStringLiteral(".desktop"));
}

bool LaunchAtLoginService::isEnabled() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            continue;
        }
        if (!inEntry)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if ((key == u"Hidden" && value == u"true") || (key == u"X-GNOME-Autostart-enabled" && value == u"false"))
            return false;
    }
    return true;
}

QString LaunchAtLoginService::entryText(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Nimbel\n"
                          "Comment=Desktop assistant\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quotedExec(program), QString::fromUtf8(appmeta::desktopFileName));
}

std::optional<QString> LaunchAtLoginService::setEnabled(bool enabled)
{
    if (enabled == isEnabled())
        return std::nullopt;
    std::optional<QString> error;
    if (enabled) {
        QSaveFile file(entryPath());
        if (!QDir().mkpath(m_folder) || !file.open(QIODevice::WriteOnly)
            || file.write(entryText(m_program).toUtf8()) < 0 || !file.commit())
            error = file.errorString();
    } else {
        QFile file(entryPath());
        if (!file.remove())
            error = file.errorString();
    }
    if (error) {
        log::error(log::general(), log::Record().add(u"login_item", enabled ? u"enable_failed" : u"disable_failed"));
        emit enabledChanged();
        return L::text("error.loginItem").arg(*error);
    }
    emit enabledChanged();
    return std::nullopt;
}

bool LaunchAtLoginService::setLaunchAtLogin(bool enabled)
{
    m_lastError = setEnabled(enabled).value_or(QString());
    emit enabledChanged();
    return m_lastError.isEmpty();
}

} // namespace nimbel
