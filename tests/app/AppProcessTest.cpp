// The built executable's self-test report. (Links handed from a second launch
// to the running instance: DesktopFaults.BareDesktopAnswersFromThePictureAndOpensFromASecondLaunch.)
#include "AppLaunch.h"

#include <QDirIterator>
#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(AppProcess, SelfTestWalksTheIntroductionDrawsNothingAndTouchesNoSettings)
{
    QTemporaryDir home;
    QProcessEnvironment env = nimbel::test::privateProfile(home);
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("selftest"));

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(NIMBEL_APP_BINARY), {});
    ASSERT_TRUE(app.waitForFinished(30000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();

    // A profile that never saw the introduction, every page walked, completion
    // kept, and the verdict, in this order. (What each page offers is the
    // introduction's own tests'.)
    const QString printed = QString::fromUtf8(app.readAllStandardOutput());
    const QRegularExpression report(QStringLiteral("  already completed\\?     false\n.*  pages walked           5\n.*"
                                                   "  completed, and stays completed true\n.*\nselftest ok — "),
                                    QRegularExpression::DotMatchesEverythingOption);
    EXPECT_TRUE(report.match(printed).hasMatch()) << printed.toStdString();

    // Without a display it still ran (it draws nothing), and it left no file anywhere:
    // neither the owner's settings nor its private settings.
    QDirIterator files(home.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    EXPECT_FALSE(files.hasNext()) << files.next().toStdString();
}
