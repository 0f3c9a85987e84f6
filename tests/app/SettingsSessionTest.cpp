// The built assistant's introduction and settings sheet, driven through its
// accessibility tree as an assistive tool drives them, in the X session of
// scripts/with-session. Pictures of each page are saved as artifacts.
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

    bool shows(qint64 pid, const QString &name)
    {
        QString diagnosis;
        const QList<AccessibleNode> nodes = accessibleNodes(pid, &diagnosis);
        return std::any_of(nodes.begin(), nodes.end(), [&](const AccessibleNode &node) { return node.name == name; });
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

    // The instance a restart started: the owner of a Nimbel window on this test's display.
    static qint64 restartedInstance()
    {
        for (const QString &id : xdotool(QStringLiteral("search --onlyvisible --name ^Nimbel$")).split(u'\n', Qt::SkipEmptyParts))
            if (const qint64 pid = xdotool(QStringLiteral("getwindowpid ") + id).toLongLong(); pid > 0)
                return pid;
        return 0;
    }

    qint64 relaunched = 0;
};

TEST_F(SettingsSession, IntroductionShowsItsFivePagesOnceThenOnlyTheOrb)
{
    ASSERT_NO_FATAL_FAILURE(launch({}));
    const QStringList titles{QStringLiteral("Hello — I’m Nimbel"), QStringLiteral("The microphone"),
                             QStringLiteral("Looking at your screen"), QStringLiteral("Reading labels (optional)"),
                             QStringLiteral("Connect your Zelm account")};
    for (qsizetype page = 0; page < titles.size(); ++page) {
        SCOPED_TRACE(titles[page].toStdString());
        ASSERT_TRUE(waitFor([&] { return shows(app.processId(), titles[page]) && !expandedPanel().isEmpty(); }, 30s))
            << records().toStdString();
        const QString shot = saveScreenshot(expandedPanel(), QStringLiteral("first-run-%1.png").arg(page + 1));
        EXPECT_GT(sampledColours(QImage(shot)), 20) << shot.toStdString();
        ASSERT_NO_FATAL_FAILURE(press(page == 0 ? QStringLiteral("Continue") : QStringLiteral("Skip for now")));
    }
    EXPECT_TRUE(waitFor([&] { return stored(QStringLiteral("desktopFirstRunCompletedVersion")).toInt() == 1; }))
        << records().toStdString();
    stop(app);

    // The next launch shows the orb alone.
    ASSERT_NO_FATAL_FAILURE(launch({}));
    ASSERT_TRUE(waitFor([&] { return records().contains(u"event=startup mode=ordinary"); }, 30s)) << records().toStdString();
    ASSERT_TRUE(waitFor([&] { return shows(app.processId(), QStringLiteral("Nimbel")); }, 30s)) << records().toStdString();
    EXPECT_TRUE(expandedPanel().isEmpty());
    EXPECT_FALSE(shows(app.processId(), titles[0]));
}

TEST_F(SettingsSession, SettingsSheetSwitchesLaunchAtLoginAndRestartsInTheChosenLanguage)
{
    QSettings(profilePath(), QSettings::IniFormat).setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
    env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("expanded"));
    // The restarted instance inherits the records' channel: a file outlives this
    // process's pipe, which closes when the first instance ends.
    app.setStandardErrorFile(home.filePath(QStringLiteral("records.log")));
    ASSERT_NO_FATAL_FAILURE(launch({}));
    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Settings")));
    ASSERT_TRUE(waitFor([&] { return shows(app.processId(), QStringLiteral("Launch at login")); }, 30s));
    const QString shot = saveScreenshot(expandedPanel(), QStringLiteral("settings-sheet.png"));
    EXPECT_GT(sampledColours(QImage(shot)), 20) << shot.toStdString();

    // The switch writes the autostart entry and removes it again.
    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Launch at login")));
    EXPECT_TRUE(waitFor([&] { return autostartEntries().size() == 1; }, 20s)) << records().toStdString();
    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Launch at login")));
    EXPECT_TRUE(waitFor([&] { return autostartEntries().isEmpty(); }, 20s)) << records().toStdString();

    // A new language restarts the assistant, which then speaks it.
    ASSERT_NO_FATAL_FAILURE(press(QStringLiteral("Русский")));
    ASSERT_TRUE(app.waitForFinished(20000)) << records().toStdString();
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(stored(QStringLiteral("ZelmAppLanguage")).toString(), u"ru");
    ASSERT_TRUE(waitFor([&] { return (relaunched = restartedInstance()) > 0; }, 20s));
    EXPECT_TRUE(waitFor([&] { return shows(relaunched, QStringLiteral("Настройки")); }, 30s));
}

} // namespace
