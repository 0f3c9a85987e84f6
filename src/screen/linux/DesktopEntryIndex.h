#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

namespace nimbel {

// What a window says about the application that owns it.
struct WindowClassHints
{
    QString instanceName; // WM_CLASS, first string
    QString className;    // WM_CLASS, second string
    QString applicationId; // _GTK_APPLICATION_ID
};

// The application's desktop-file id (its bundle identifier) and that file's
// Name in the owner's language.
struct ApplicationIdentity
{
    std::optional<QString> bundleIdentifier;
    std::optional<QString> localizedName;

    bool operator==(const ApplicationIdentity &) const = default;
};

// The installed applications' .desktop files, by which windows are told
// apart as applications. Rescans a folder when it changes. Thread-safe.
class DesktopEntryIndex
{
public:
    // `applicationDirs` in priority order: the first file of a desktop-file id wins.
    // `localeKeys` are the Name[...] suffixes to try, most specific first.
    explicit DesktopEntryIndex(QStringList applicationDirs = standardApplicationDirs(),
                               QStringList localeKeys = localeKeysFor(currentMessagesLocale()));

    // The matching desktop file: the one named by the application id, else
    // the one whose StartupWMClass, id or command is the WM_CLASS. Without a
    // match the application id, else the WM_CLASS class, stands in for the id
    // and the WM_CLASS class for the name.
    ApplicationIdentity identify(const WindowClassHints &hints);

    // $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS.
    static QStringList standardApplicationDirs();
    // "sr_YU.UTF-8@Latn" → sr_YU@Latn, sr_YU, sr@Latn, sr.
    static QStringList localeKeysFor(const QString &posixLocale);
    // LC_ALL, else LC_MESSAGES, else LANG.
    static QString currentMessagesLocale();

private:
    struct Entry
    {
        QString id;
        QString name;
        QHash<QString, QString> localizedNames;
        QString startupWMClass;
        QString executable; // base name of the command
    };

    void refreshIfChanged();
    void scan();
    std::optional<Entry> parse(const QString &path, const QString &id) const;
    const Entry *find(const WindowClassHints &hints) const;
    QString localizedName(const Entry &entry) const;

    const QStringList m_dirs;
    const QStringList m_localeKeys;
    QMutex m_mutex;
    QList<Entry> m_entries; // scan order: directory priority, then path
    QHash<QString, QDateTime> m_scannedFolders; // folder → modification time at scan
    bool m_scanned = false;
};

} // namespace nimbel
