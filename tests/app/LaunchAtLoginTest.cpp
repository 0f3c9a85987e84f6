#include "app/LaunchAtLoginService.h"
#include "settings/Localized.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writing and removing the entry through the settings sheet's switch:
// SettingsSession.IntroductionOnceThenTheChatByItsAnchorItsTrayItemAndItsSettingsSheet.
TEST(LaunchAtLogin, TheEntryRunsTheProgramWhateverItsPathHolds)
{
    QTemporaryDir home;
    LaunchAtLoginService service(home.filePath(QStringLiteral("config/autostart")), QStringLiteral("/opt/My Apps/nim$bel\"100%"));
    QSignalSpy changed(&service, &LaunchAtLoginService::enabledChanged);
    EXPECT_EQ(service.setEnabled(true), std::nullopt);
    const QByteArray entry = contents(service.entryPath());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/My Apps/nim\\$bel\\\"100%%\"\n")) << entry.toStdString();
    EXPECT_EQ(changed.count(), 1);
}

TEST(LaunchAtLogin, AnEntryTheDesktopSwitchedOffReadsAsOffAndEnablingRewritesIt)
{
    QTemporaryDir home;
    LaunchAtLoginService service(home.path(), QStringLiteral("/usr/bin/nimbel"));
    QFile file(service.entryPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nExec=/usr/bin/nimbel\nHidden=true\n");
    file.close();
    EXPECT_FALSE(service.isEnabled());
    EXPECT_EQ(service.setEnabled(true), std::nullopt);
    EXPECT_TRUE(service.isEnabled());
    EXPECT_FALSE(contents(service.entryPath()).contains("Hidden=true"));
}

TEST(LaunchAtLogin, FolderThatCannotBeWrittenFailsAndShowsTheRealState)
{
    installTranslations(AppLanguage::en);
    QTemporaryDir home;
    // The folder's place is taken by a plain file.
    const QString blocker = home.filePath(QStringLiteral("autostart"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    LaunchAtLoginService service(blocker, QStringLiteral("/usr/bin/nimbel"));
    const auto error = service.setEnabled(true);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->startsWith(QStringLiteral("Could not change launch at login: "))) << error->toStdString();
    EXPECT_FALSE(service.isEnabled());
}

} // namespace
