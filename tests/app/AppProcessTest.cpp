// The built executable: its self-test report, and links handed from a second
// launch to the running instance.
#include "app/SelfTest.h"
#include "app/SingleInstance.h"
#include "settings/Localized.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <functional>

#include "AppLaunch.h"

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

// The self-test report for an English profile, line by line; button titles come from `text`.
QString expectedSelfTestReport(const QString &version, const QString &buildVersion, const QString &updateFeed,
                               const QString &screenText, const std::function<QString(const char *)> &text)
{
    QString report = QStringLiteral("  app                    app.nimbel.desktop\n"
                          "  version                %1 (%2)\n"
                          "  localizations          en, ru\n"
                          "  resolved language      en\n"
                          "  speech locale          en-US\n"
                          "  update feed            %3\n"
                          "  screen text            %4\n"
                          "\n"
                          "── the first run, on a profile that has never seen it ──\n"
                          "  already completed?     false\n"
                          "\n"
                          "  • welcome\n"
                          "      button:  {firstRun.continue}\n"
                          "      way out: — (the welcome page)\n"
                          "      action:  firstRunAdvance\n"
                          "\n"
                          "  • microphone [1/3]\n"
                          "      button:  {firstRun.allow}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  firstRunAsk\n"
                          "\n"
                          "  • screen [2/3]\n"
                          "      button:  {firstRun.allow}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  firstRunAsk\n"
                          "\n"
                          "  • accessibility [3/3]\n"
                          "      button:  {firstRun.allow}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  firstRunAsk\n"
                          "\n"
                          "  • connect\n"
                          "      button:  {firstRun.connect.openConsole}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  openPlatformConnectionPage\n"
                          "  pages walked           5\n"
                          "\n"
                          "── and what a refusal offers ──\n"
                          "\n"
                          "  • microphone [1/3]\n"
                          "      button:  {firstRun.openSettings}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  openMicrophoneSettings\n"
                          "\n"
                          "  • screen [2/3]\n"
                          "      button:  {firstRun.openSettings}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  openScreenRecordingSettings\n"
                          "\n"
                          "  • screen [2/3]\n"
                          "      button:  {firstRun.restart}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  restartApplication\n"
                          "\n"
                          "  completed, and stays completed true\n"
                          "\n"
                          "selftest ok — the app started, read its bundle and walked its introduction, and drew nothing.\n")
        .arg(version, buildVersion, updateFeed, screenText);
    for (const char *key : {"firstRun.continue", "firstRun.allow", "firstRun.skip", "firstRun.openSettings",
                            "firstRun.restart", "firstRun.connect.openConsole"})
        report.replace(u'{' + QString::fromLatin1(key) + u'}', text(key));
    return report;
}


// A private home for one launch, without a display.
QProcessEnvironment isolatedEnvironment(const QTemporaryDir &home)
{
    QProcessEnvironment env = test::privateProfile(home);
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

QStringList filesUnder(const QString &path)
{
    QStringList files;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

} // namespace

TEST(AppProcess, SelfTestPrintsTheReportLineByLineDrawsNothingAndTouchesNoSettings)
{
    QTemporaryDir home;
    QProcessEnvironment env = isolatedEnvironment(home);
    env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("selftest"));

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(NIMBEL_APP_BINARY), {});
    ASSERT_TRUE(app.waitForFinished(30000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();

    const BundleInfo bundle = BundleInfo::compiledIn();
    // The texts as an English owner sees them on this desktop.
    ASSERT_TRUE(installTranslations(AppLanguage::en));
    const QStringList expected = expectedSelfTestReport(*bundle.shortVersion, *bundle.buildVersion,
                                                              *bundle.updateFeed, *bundle.screenUsageDescription,
                                                              [](const char *key) { return L::text(key); })
                                     .split(u'\n');
    const QStringList printed = QString::fromUtf8(app.readAllStandardOutput()).split(u'\n');
    for (qsizetype i = 0; i < std::max(printed.size(), expected.size()); ++i)
        EXPECT_EQ(printed.value(i, QStringLiteral("<no line>")), expected.value(i, QStringLiteral("<no line>")))
            << "line " << i + 1;

    // Without a display it still ran (it draws nothing), and it left no file anywhere:
    // neither the owner's settings nor its private settings.
    EXPECT_EQ(filesUnder(home.path()), QStringList());
}

TEST(AppProcess, SecondLaunchHandsItsLinkToTheRunningInstanceAndExits)
{
    QTemporaryDir home;
    QProcessEnvironment env = isolatedEnvironment(home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    test::ScopedEnvironment scoped;
    scoped.set("XDG_RUNTIME_DIR", env.value(QStringLiteral("XDG_RUNTIME_DIR")).toUtf8());
    SingleInstance running(SingleInstance::defaultSocketPath());
    ASSERT_EQ(running.claim({}), SingleInstance::Role::primary);
    QSignalSpy received(&running, &SingleInstance::activated);

    const QString link = QStringLiteral(
        "zelmdesktop://connect?platform_url=http%3A%2F%2F127.0.0.1%3A4100&code=one-time-code&agent_id=a1&agent_name=Mira");
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(NIMBEL_APP_BINARY), {link, QStringLiteral("--not-a-link")});
    // The hand-over completes while this process serves its event loop.
    ASSERT_TRUE(received.wait(15000)) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList{link});

    // The second launch built nothing of its own: no settings were written.
    EXPECT_TRUE(filesUnder(home.filePath(QStringLiteral("config"))).isEmpty());
}
