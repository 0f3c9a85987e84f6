#include "voice/RecordingFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>

namespace nimbel::recordingFiles {

QString newRecordingPath(const QString &folder)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return QDir(folder).filePath(QStringLiteral("zelm-voice-") + id + QStringLiteral(".wav"));
}

int removeStale(const QString &folder)
{
    const QDir dir(folder);
    int removed = 0;
    const QStringList names = dir.entryList({QStringLiteral("zelm-voice-*.wav"), QStringLiteral("zelm-lead-*.mp3")},
                                            QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        struct stat info{};
        // Only regular files of this user: a shared temporary folder holds other people's files too.
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)
            || info.st_uid != ::getuid())
            continue;
        if (QFile::remove(path))
            ++removed;
    }
    return removed;
}

} // namespace nimbel::recordingFiles
