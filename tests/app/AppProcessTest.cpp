// The built executable: its self-test report, and links handed from a second
// launch to the running instance.
#include "app/SingleInstance.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "AppLaunch.h"

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

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

TEST(AppProcess, SelfTestWalksTheIntroductionDrawsNothingAndTouchesNoSettings)
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

    // A profile that never saw the introduction, every page walked, completion
    // kept, and the verdict, in this order. (What each page offers is the
    // introduction's own tests'.)
    const QString printed = QString::fromUtf8(app.readAllStandardOutput());
    qsizetype at = 0;
    for (const QString &expected :
         {QStringLiteral("  already completed?     false\n"), QStringLiteral("  pages walked           5\n"),
          QStringLiteral("  completed, and stays completed true\n"), QStringLiteral("\nselftest ok — ")}) {
        const qsizetype found = printed.indexOf(expected, at);
        EXPECT_GE(found, 0) << expected.toStdString() << " not after offset " << at << " in:\n" << printed.toStdString();
        at = found < 0 ? at : found + expected.size();
    }

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
