#include "screen/linux/DesktopEntryIndex.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

namespace nimbel {

namespace {
// Desktop-entry escapes: \s \n \t \r \\.
QString unescaped(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's': out += u' '; break;
        case 'n': out += u'\n'; break;
        case 't': out += u'\t'; break;
        case 'r': out += u'\r'; break;
        default: out += next; break;
        }
    }
    return out;
}

// The program a desktop file's Exec line starts, as a base name ("env A=B prog" → "prog").
QString executableOf(const QString &exec)
{
    const QStringList words = exec.split(u' ', Qt::SkipEmptyParts);
    qsizetype i = 0;
    if (i < words.size() && QFileInfo(words[i]).fileName() == u"env") {
        ++i;
        while (i < words.size() && words[i].contains(u'=') && !words[i].startsWith(u'-'))
            ++i;
    }
    if (i >= words.size())
        return {};
    QString program = words[i];
    program.remove(u'"');
    return QFileInfo(program).fileName();
}

bool sameName(const QString &a, const QString &b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}
} // namespace

DesktopEntryIndex::DesktopEntryIndex(QStringList applicationDirs, QStringList localeKeys)
    : m_dirs(std::move(applicationDirs))
    , m_localeKeys(std::move(localeKeys))
{
}

QStringList DesktopEntryIndex::standardApplicationDirs()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList dirs{dataHome + QStringLiteral("/applications")};
    for (const QString &dir : dataDirs.split(u':', Qt::SkipEmptyParts))
        dirs.append(dir + QStringLiteral("/applications"));
    dirs.removeDuplicates();
    return dirs;
}

QString DesktopEntryIndex::currentMessagesLocale()
{
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    return QLocale::system().name();
}

QStringList DesktopEntryIndex::localeKeysFor(const QString &posixLocale)
{
    QString rest = posixLocale;
    QString modifier;
    if (const qsizetype at = rest.indexOf(u'@'); at >= 0) {
        modifier = rest.mid(at);
        rest.truncate(at);
    }
    if (const qsizetype dot = rest.indexOf(u'.'); dot >= 0)
        rest.truncate(dot);
    QString language = rest;
    QString country;
    if (const qsizetype underscore = rest.indexOf(u'_'); underscore >= 0) {
        language = rest.left(underscore);
        country = rest.mid(underscore);
    }
    if (language.isEmpty() || language == u"C" || language == u"POSIX")
        return {};
    QStringList keys;
    if (!country.isEmpty() && !modifier.isEmpty())
        keys.append(language + country + modifier);
    if (!country.isEmpty())
        keys.append(language + country);
    if (!modifier.isEmpty())
        keys.append(language + modifier);
    keys.append(language);
    return keys;
}

ApplicationIdentity DesktopEntryIndex::identify(const WindowClassHints &hints)
{
    QMutexLocker lock(&m_mutex);
    refreshIfChanged();
    if (const Entry *entry = find(hints))
        return {entry->id, localizedName(*entry)};

    ApplicationIdentity identity;
    const QString className = !hints.className.isEmpty() ? hints.className : hints.instanceName;
    if (!hints.applicationId.isEmpty())
        identity.bundleIdentifier = hints.applicationId;
    else if (!className.isEmpty())
        identity.bundleIdentifier = className;
    if (!className.isEmpty())
        identity.localizedName = className;
    return identity;
}

const DesktopEntryIndex::Entry *DesktopEntryIndex::find(const WindowClassHints &hints) const
{
    const QStringList names{hints.className, hints.instanceName};
    const auto first = [this](auto &&matches) -> const Entry * {
        for (const Entry &entry : m_entries) {
            if (matches(entry))
                return &entry;
        }
        return nullptr;
    };

    if (!hints.applicationId.isEmpty()) {
        if (auto *entry = first([&](const Entry &e) { return e.id == hints.applicationId; }))
            return entry;
        if (auto *entry = first([&](const Entry &e) { return sameName(e.id, hints.applicationId); }))
            return entry;
    }
    for (const QString &name : names) {
        if (auto *entry = first([&](const Entry &e) { return sameName(e.startupWMClass, name); }))
            return entry;
    }
    for (const QString &name : names) {
        // "gedit" is also "org.gnome.gedit".
        if (auto *entry = first([&](const Entry &e) {
                return sameName(e.id, name) || sameName(e.id.section(u'.', -1), name);
            }))
            return entry;
    }
    for (const QString &name : names) {
        if (auto *entry = first([&](const Entry &e) { return sameName(e.executable, name); }))
            return entry;
    }
    return nullptr;
}

QString DesktopEntryIndex::localizedName(const Entry &entry) const
{
    for (const QString &key : m_localeKeys) {
        const auto it = entry.localizedNames.constFind(key);
        if (it != entry.localizedNames.cend() && !it->isEmpty())
            return *it;
    }
    return entry.name;
}

void DesktopEntryIndex::refreshIfChanged()
{
    bool changed = !m_scanned;
    for (auto it = m_scannedFolders.cbegin(); !changed && it != m_scannedFolders.cend(); ++it)
        changed = QFileInfo(it.key()).lastModified() != it.value();
    // A folder that did not exist at the last scan may have appeared.
    for (qsizetype i = 0; !changed && i < m_dirs.size(); ++i)
        changed = !m_scannedFolders.contains(m_dirs[i]) && QFileInfo::exists(m_dirs[i]);
    if (changed)
        scan();
}

void DesktopEntryIndex::scan()
{
    m_entries.clear();
    m_scannedFolders.clear();
    m_scanned = true;
    QSet<QString> claimedIds;
    for (const QString &dir : m_dirs) {
        const QFileInfo root(dir);
        if (!root.isDir())
            continue;
        m_scannedFolders.insert(dir, root.lastModified());
        QStringList files;
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext())
            files.append(it.next());
        QDirIterator folders(dir, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (folders.hasNext()) {
            const QString folder = folders.next();
            m_scannedFolders.insert(folder, QFileInfo(folder).lastModified());
        }
        files.sort();
        const QDir base(dir);
        for (const QString &file : files) {
            QString id = base.relativeFilePath(file);
            id.chop(int(sizeof(".desktop") - 1));
            id.replace(u'/', u'-');
            // A file earlier in the search path hides later ones with its id,
            // even when it is itself hidden.
            if (claimedIds.contains(id))
                continue;
            claimedIds.insert(id);
            if (auto entry = parse(file, id))
                m_entries.append(std::move(*entry));
        }
    }
}

std::optional<DesktopEntryIndex::Entry> DesktopEntryIndex::parse(const QString &path, const QString &id) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    Entry entry;
    entry.id = id;
    bool inMainGroup = false;
    QString type;
    QString exec;
    bool hidden = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = unescaped(QStringView(line).mid(equals + 1).trimmed());
        if (key == u"Type")
            type = value;
        else if (key == u"Name")
            entry.name = value;
        else if (key.startsWith(u"Name[") && key.endsWith(u']'))
            entry.localizedNames.insert(key.mid(5, key.size() - 6), value);
        else if (key == u"StartupWMClass")
            entry.startupWMClass = value;
        else if (key == u"Exec")
            exec = value;
        else if (key == u"Hidden")
            hidden = value == u"true";
    }
    if (hidden || type != u"Application" || entry.name.isEmpty())
        return std::nullopt;
    entry.executable = executableOf(exec);
    return entry;
}

} // namespace nimbel
