// The built assistant in the X session of scripts/with-session: where its panel
// stands, its tray item docked in the tray host, and its introduction and
// settings sheet driven through its accessibility tree as an assistive tool
// drives them. Pictures of each page are saved under the build's artifacts/.
#include "AccessibilityBusReader.h"
#include "AssistantSession.h"

#include <csignal>

using namespace nimbel::test;
using namespace std::chrono_literals;

namespace {

class SettingsSession : public AssistantSession
{
protected:
    void TearDown() override
    {
        if (relaunched > 0)
            ::kill(pid_t(relaunched), SIGTERM);
        AssistantSession::TearDown();
    }

    static bool shows(qint64 pid, const QString &name)
    {
        QString diagnosis;
        return findAccessible(pid, [&](const AccessibleNode &node) { return node.name == name; }, &diagnosis).has_value();
    }

    // Waits until the application shows `name`, then presses it.
    void press(const QString &name)
    {
        QString diagnosis;
        ASSERT_TRUE(waitFor([&] { return shows(app.processId(), name); }, 30s)) << name.toStdString() << "\n"
                                                                                << records().toStdString();
        ASSERT_TRUE(pressAccessible(app.processId(), name, &diagnosis)) << diagnosis.toStdString();
    }

    QString profilePath() const { return home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")); }

    QVariant stored(const QString &key) const { return QSettings(profilePath(), QSettings::IniFormat).value(key); }

    QStringList autostartEntries() const
    {
        return QDir(home.filePath(QStringLiteral("config/autostart"))).entryList({QStringLiteral("*.desktop")}, QDir::Files);
    }

    // The instance a restart started: the owner of a Nimbel window on this test's
    // display that runs with this test's home (other tests' instances share the display).
    qint64 restartedInstance() const
    {
        for (const QString &id : xdotool(QStringLiteral("search --onlyvisible --name ^Nimbel$")).split(u'\n', Qt::SkipEmptyParts)) {
            const qint64 pid = xdotool(QStringLiteral("getwindowpid ") + id).toLongLong();
            QFile environment(QStringLiteral("/proc/%1/environ").arg(pid));
            if (pid > 0 && environment.open(QIODevice::ReadOnly)
                && environment.readAll().split('\0').contains("HOME=" + QFile::encodeName(home.path())))
                return pid;
        }
        return 0;
    }

    qint64 relaunched = 0;
};

TEST_F(SettingsSession, IntroductionOnceThenTheChatByItsAnchorItsTrayItemAndItsSettingsSheet)
{
    ASSERT_NO_FATAL_FAILURE(launch({}));
    const QStringList titles{QStringLiteral("Hello — I’m Nimbel"), QStringLiteral("The microphone"),
                             QStringLiteral("Looking at your screen"), QStringLiteral("Reading labels (optional)"),
                             QStringLiteral("Connect your Zelm account")};
    for (qsizetype page = 0; page < titles.size(); ++page) {
        SCOPED_TRACE(titles[page].toStdString());
        ASSERT_TRUE(waitFor([&] { return shows(app.processId(), titles[page]) && !expandedPanel().isEmpty(); }, 30s))
            << records().toStdString();
        // The title reaches the accessibility tree before the page's first frame.
        QString shot;
        EXPECT_TRUE(waitFor([&] {
            shot = saveScreenshot(expandedPanel(), QStringLiteral("first-run-%1.png").arg(page + 1));
            return sampledColours(QImage(shot)) > 20;
        }, 10s)) << shot.toStdString();
        ASSERT_NO_FATAL_FAILURE(press(page == 0 ? QStringLiteral("Continue") : QStringLiteral("Skip for now")));
    }
    EXPECT_TRUE(waitFor([&] { return stored(QStringLiteral("desktopFirstRunCompletedVersion")).toInt() == 1; }))
        << records().toStdString();
    stop(app);
    // (The next ordinary launch shows the orb alone: DesktopFaults.BareDesktop….)

    // The launcher dragged to (1000, 300), y upwards, and the chat opened.
    QSettings preferences(profilePath(), QSettings::IniFormat);
    preferences.setValue(QStringLiteral("overlayHasSavedLauncherAnchor"), true);
    preferences.setValue(QStringLiteral("overlayLauncherAnchorX"), 1000.0);
    preferences.setValue(QStringLiteral("overlayLauncherAnchorY"), 300.0);
    preferences.sync();
    env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("expanded"));
    // The restarted instance inherits the records' channel: a file outlives this
    // process's pipe, which closes when the first instance ends.
    const QString recordsFile = home.filePath(QStringLiteral("records.log"));
    app.setStandardErrorFile(recordsFile);
    ASSERT_NO_FATAL_FAILURE(launch({}));

    // Grows left and up from the anchor: on a 1080-high screen its top-left
    // corner is at (1000 − 488, 1080 − 300 − 670).
    // (The window manager may map it elsewhere first.)
    QPoint at(-1, -1);
    EXPECT_TRUE(waitFor([&] { return !panel(QSize(488, 670), &at).isEmpty() && at == QPoint(512, 110); }, 20s))
        << at.x() << "," << at.y();
    const auto written = [&] {
        QFile file(recordsFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    EXPECT_TRUE(waitFor([&] {
        return written().contains(u"role=assistant text=Hi! Show me what is unclear on your screen and I’ll tell you the next step.");
    })) << written().toStdString();
    EXPECT_FALSE(written().contains(u"overlay_view_error")) << written().toStdString();
    // Pictured once the opening animations have drawn the chat.
    QThread::msleep(700);
    QImage chat;
    EXPECT_TRUE(waitFor([&] {
        chat = QImage(saveScreenshot(expandedPanel(), QStringLiteral("expanded-chat.png")));
        return chat.size() == QSize(488, 670) && sampledColours(chat) > 40;
    }, 10s)) << chat.width() << "x" << chat.height();

    // The tray item is docked in the session's tray host, which reparents it into its own window.
    // Both lists are read again each time: a search of the whole display ends
    // early when another test's window goes away during it.
    QStringList ours;
    QString tree;
    EXPECT_TRUE(waitFor([&] {
        ours = xdotool(QStringLiteral("search --all --pid %1").arg(app.processId())).split(u'\n');
        tree.clear();
        for (const QString &host : xdotool(QStringLiteral("search --class trayer")).split(u'\n', Qt::SkipEmptyParts))
            tree += run(QStringLiteral("xwininfo"), {QStringLiteral("-tree"), QStringLiteral("-id"), host});
        return std::any_of(ours.begin(), ours.end(), [&](const QString &id) {
            return !id.isEmpty() && tree.contains(QStringLiteral(" 0x%1 ").arg(id.toULongLong(), 0, 16));
        });
    }, 30s)) << "no window of the application (" << ours.join(u' ').toStdString() << ") inside a tray host:\n"
             << tree.toStdString();

    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Settings")));
    ASSERT_TRUE(waitFor([&] { return shows(app.processId(), QStringLiteral("Launch at login")); }, 30s));
    // The tree shows the sheet before its first frame.
    QString shot;
    EXPECT_TRUE(waitFor([&] {
        shot = saveScreenshot(expandedPanel(), QStringLiteral("settings-sheet.png"));
        return sampledColours(QImage(shot)) > 20;
    }, 10s)) << shot.toStdString();

    // The switch writes the autostart entry and removes it again.
    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Launch at login")));
    EXPECT_TRUE(waitFor([&] { return autostartEntries().size() == 1; }, 20s));
    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Launch at login")));
    EXPECT_TRUE(waitFor([&] { return autostartEntries().isEmpty(); }, 20s));

    // A new language restarts the assistant, which then speaks it.
    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Русский")));
    ASSERT_TRUE(app.waitForFinished(20000)) << written().toStdString();
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(stored(QStringLiteral("ZelmAppLanguage")).toString(), u"ru");
    ASSERT_TRUE(waitFor([&] { return (relaunched = restartedInstance()) > 0; }, 20s));
    EXPECT_TRUE(waitFor([&] { return shows(relaunched, QStringLiteral("Настройки")); }, 30s));
}

} // namespace
