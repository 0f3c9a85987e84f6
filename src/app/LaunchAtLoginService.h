#pragma once

#include "conversation/LoginItem.h"

#include <QObject>
#include <QString>

#include <optional>

namespace nimbel {

// Launch at login as an XDG autostart entry ($XDG_CONFIG_HOME/autostart/<app id>.desktop).
// What is on disk is the truth: the entry counts as enabled only while it
// exists and the desktop has not switched it off (Hidden=true, or
// X-GNOME-Autostart-enabled=false written by the desktop's startup manager).
// Not final: the QML type registration derives from a default-constructible type.
class LaunchAtLoginService : public QObject, public LoginItem
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ isEnabled NOTIFY enabledChanged)
    Q_PROPERTY(QString entryPath READ entryPath CONSTANT)
    // Why the last change from the views did not happen; empty when it did.
    Q_PROPERTY(QString lastError READ lastError NOTIFY enabledChanged)

public:
    // `autostartFolder` defaults to $XDG_CONFIG_HOME/autostart; `program` to
    // this executable.
    explicit LaunchAtLoginService(QString autostartFolder = {}, QString program = {}, QObject *parent = nullptr);

    bool isEnabled() const override;
    QString entryPath() const;

    // Writes or removes the entry; nothing when it is already so. The error
    // text (in the owner's language) when the file could not be changed.
    std::optional<QString> setEnabled(bool enabled);
    // For the views: the same, keeping the error for them to show.
    Q_INVOKABLE bool setLaunchAtLogin(bool enabled);
    QString lastError() const { return m_lastError; }
    // The entry may have been changed by the desktop meanwhile: read it again.
    Q_INVOKABLE void reread() { emit enabledChanged(); }

    // The entry's text for `program` (a desktop-entry Exec value is quoted).
    static QString entryText(const QString &program);

signals:
    void enabledChanged();

private:
    QString m_folder;
    QString m_program;
    QString m_lastError;
};

} // namespace nimbel
