#pragma once

// Launching the built application from tests: a private profile per launch,
// running helper programs, and pictures of windows.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QTemporaryDir>

namespace nimbel::test {

// Settings, data, runtime folder and temporary files all inside `home`, the
// interface in English, and none of the test switches of the surrounding
// environment.
inline QProcessEnvironment privateProfile(const QTemporaryDir &home)
{
    for (const char *folder : {"config", "data", "runtime", "tmp"})
        QDir(home.path()).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    for (const char *name : {"ZELM_DESKTOP_QA_MODE", "ZELM_DESKTOP_QA_QUESTION", "ZELM_DESKTOP_QA_DELAY_MS",
                             "ZELM_DESKTOP_QA_DEVICE_TOKEN", "LC_ALL", "LC_MESSAGES"})
        env.remove(QString::fromLatin1(name));
    return env;
}

// The standard output of a helper program, trimmed.
inline QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// xdotool with `arguments`, separated by spaces; its output, trimmed. A search
// of the whole display ends at an X error, having printed nothing, when a window
// goes away during it (other programs share the display): such a run is repeated.
inline QString xdotool(const QString &arguments)
{
    for (int attempt = 1;; ++attempt) {
        QProcess process;
        process.start(QStringLiteral("xdotool"), arguments.split(u' ', Qt::SkipEmptyParts));
        process.waitForFinished(20000);
        if (attempt < 5 && process.exitCode() != 0 && process.readAllStandardError().contains("X Error"))
            continue;
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
}

// Clicks the orb of the launcher (the visible 196-wide Nimbel window) of
// process `pid`; false when it shows no launcher.
inline bool clickOrb(qint64 pid)
{
    for (const QString &id : xdotool(QStringLiteral("search --all --onlyvisible --pid %1 --name ^Nimbel$").arg(pid))
                                 .split(u'\n', Qt::SkipEmptyParts)) {
        if (xdotool(QStringLiteral("getwindowgeometry --shell ") + id).contains(u"WIDTH=196")) {
            xdotool(QStringLiteral("mousemove --window %1 98 70 click 1").arg(id));
            return true;
        }
    }
    return false;
}

// How many colours a sample of every third pixel of `image` holds: a drawn
// panel (text, bubbles, gradients) has many, an empty window a few.
inline qsizetype sampledColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

} // namespace nimbel::test
