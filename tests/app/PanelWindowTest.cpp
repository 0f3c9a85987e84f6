// The built application in a real X session (scripts/with-session): its panel
// window, where it stands, and what the chat shows. Saves a screenshot of the
// expanded chat under the build folder's artifacts/.
#include "AppLaunch.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace nimbel::test;

namespace {

struct WindowGeometry
{
    int x = -1, y = -1, width = 0, height = 0;
};

class PanelWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qgetenv("QT_QPA_PLATFORM") == "offscreen")
            GTEST_SKIP() << "needs an X display (run under scripts/with-session)";
        env = privateProfile(home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    }

    void TearDown() override
    {
        if (app.state() != QProcess::NotRunning) {
            app.terminate();
            if (!app.waitForFinished(5000))
                app.kill();
            app.waitForFinished(5000);
        }
    }

    QSettings preferences()
    {
        return QSettings(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat);
    }

    void launch(const QString &mode)
    {
        if (!mode.isEmpty())
            env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), mode);
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(NIMBEL_APP_BINARY), {});
        ASSERT_TRUE(app.waitForStarted(10000));
    }

    // Waits until this process's panel is mapped with the given size; returns its window id.
    // "--all": xdotool matches windows meeting any one criterion by default, which would
    // find the panel of another test's instance running in the same session.
    QString waitForPanel(int width, int height, WindowGeometry *geometry)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString pid = QString::number(app.processId());
            const QStringList ids = run(QStringLiteral("xdotool"),
                                        {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                         pid, QStringLiteral("--name"), QStringLiteral("^Nimbel$")})
                                        .split(u'\n', Qt::SkipEmptyParts);
            for (const QString &id : ids) {
                const QString shell =
                    run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
                WindowGeometry g;
                for (const QString &line : shell.split(u'\n')) {
                    const auto value = [&line] { return line.section(u'=', 1).toInt(); };
                    if (line.startsWith(u"X="))
                        g.x = value();
                    else if (line.startsWith(u"Y="))
                        g.y = value();
                    else if (line.startsWith(u"WIDTH="))
                        g.width = value();
                    else if (line.startsWith(u"HEIGHT="))
                        g.height = value();
                }
                if (g.width == width && g.height == height) {
                    *geometry = g;
                    return id;
                }
            }
            QThread::msleep(100);
        }
        return {};
    }

    QString log() { return collected += QString::fromUtf8(app.readAllStandardError()); }

    QTemporaryDir home;
    QProcessEnvironment env;
    QProcess app;
    QString collected;
};

} // namespace

TEST_F(PanelWindow, ExpandedModeShowsTheChatWithTheWelcomeMessageAndSavesAScreenshot)
{
    // A profile that completed the introduction and dragged its launcher to (1000, 300), y upwards.
    {
        QSettings prefs = preferences();
        prefs.setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
        prefs.setValue(QStringLiteral("overlayHasSavedLauncherAnchor"), true);
        prefs.setValue(QStringLiteral("overlayLauncherAnchorX"), 1000.0);
        prefs.setValue(QStringLiteral("overlayLauncherAnchorY"), 300.0);
    }
    launch(QStringLiteral("expanded"));
    WindowGeometry g;
    const QString id = waitForPanel(488, 670, &g);
    ASSERT_FALSE(id.isEmpty()) << log().toStdString();
    // Grows to the left and upwards from the anchor: on a 1080-high screen its
    // top-left corner is at (1000 − 488, 1080 − 300 − 670).
    EXPECT_EQ(g.x, 512);
    EXPECT_EQ(g.y, 110);

    // The welcome message is on display (each displayed bubble writes one record).
    QString records;
    for (int attempt = 0; attempt < 50 && !records.contains(u"role=assistant"); ++attempt) {
        app.waitForReadyRead(100); // the pipe is read only while waiting on it
        records = log();
    }
    EXPECT_TRUE(records.contains(QStringLiteral(
        "event=chat_message_displayed")))
        << records.toStdString();
    EXPECT_TRUE(records.contains(QStringLiteral(
        "role=assistant text=Hi! Show me what is unclear on your screen and I’ll tell you the next step.")))
        << records.toStdString();
    EXPECT_FALSE(records.contains(u"overlay_view_error")) << records.toStdString();

    QThread::msleep(700); // let the opening animations finish
    const QString shot = saveWindowPicture(id, QStringLiteral(NIMBEL_ARTIFACT_DIR), QStringLiteral("expanded-chat.png"));
    const QImage image(shot);
    ASSERT_FALSE(image.isNull()) << shot.toStdString();
    EXPECT_EQ(image.size(), QSize(488, 670));
    EXPECT_GT(sampledColours(image), 40);
}

TEST_F(PanelWindow, FreshProfileOpensTheChatFromTheDefaultCorner)
{
    launch(QString());
    WindowGeometry g;
    // A profile that never completed the introduction opens the chat, placed from the default
    // anchor 20 points in from the bottom-right corner of the 1920 × 1080 screen.
    ASSERT_FALSE(waitForPanel(488, 670, &g).isEmpty()) << log().toStdString();
    EXPECT_EQ(g.x, 1920 - 20 - 488);
    EXPECT_EQ(g.y, 1080 - 20 - 670);
}

TEST_F(PanelWindow, OrdinaryStartShowsOnlyTheLauncherWhereAnOlderVersionLeftIt)
{
    {
        QSettings prefs = preferences();
        prefs.setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
        // An older version's origin keys: the launcher's right edge is at origin x + 196.
        prefs.setValue(QStringLiteral("overlayHasSavedOrigin"), true);
        prefs.setValue(QStringLiteral("overlayOriginX"), 300.0);
        prefs.setValue(QStringLiteral("overlayOriginY"), 200.0);
    }
    launch(QString());
    WindowGeometry g;
    ASSERT_FALSE(waitForPanel(196, 188, &g).isEmpty()) << log().toStdString();
    EXPECT_EQ(g.x, 300);
    EXPECT_EQ(g.y, 1080 - 200 - 188);
}
