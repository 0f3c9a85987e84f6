// The paired assistant when the desktop around it misbehaves: the application
// in front stops answering (its accessibility interface hangs), the window in
// front goes away in the middle of a screen question, and a bare desktop with
// no tray host, no key store and no accessibility bus. None of them may crash
// or hang the assistant: each question ends, and the next one is answered.
#include "AssistantSession.h"

#include <QSettings>

#include <csignal>

using namespace nimbel::test;

namespace {

const QString screenQuestion = QStringLiteral("Where is the Continue button on this screen?");
const QString nextQuestion = QStringLiteral("What is the capital of France?");
const QString nextAnswer = QStringLiteral("Paris is the capital of France.");

class DesktopHazards : public AssistantSession
{
protected:
    void TearDown() override
    {
        if (dialog.state() == QProcess::Running)
            ::kill(pid_t(dialog.processId()), SIGCONT);
        AssistantSession::TearDown();
        stop(dialog);
        stop(windowManager);
        stop(display);
        stop(bus);
        if (!previousDisplay.isEmpty())
            qputenv("DISPLAY", previousDisplay);
    }

    static QJsonObject script()
    {
        const QJsonObject reply{{QStringLiteral("match"), QStringLiteral("capital of france")},
                                {QStringLiteral("sentences"), QJsonArray{nextAnswer}}};
        return {{QStringLiteral("chat"), QJsonObject{{QStringLiteral("replies"), QJsonArray{reply}}}}};
    }

    void openDialog()
    {
        endWithTest(dialog);
        dialog.setProcessEnvironment(env);
        dialog.start(QStringLiteral(NIMBEL_TEST_WINDOW), {QStringLiteral("--title"), QStringLiteral("Setup")});
        ASSERT_TRUE(dialog.waitForStarted(10000));
        ASSERT_TRUE(dialog.waitForReadyRead(20000) && dialog.readAll().contains("ready"));
        const QString pid = QString::number(dialog.processId());
        ASSERT_TRUE(waitFor([&] {
            return run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowpid")}) == pid;
        }, 20s)) << "the dialog never became the active window";
    }

    // The screen question's turn ended, answered or failed, and the next
    // question typed into the chat is answered: nothing hangs.
    void expectTurnEndsAndNextIsAnswered()
    {
        EXPECT_TRUE(waitFor([&] {
            return records().contains(u"turn_failed") || !entry(journal(), QStringLiteral("/v1/desktop/chat")).isEmpty();
        })) << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
        EXPECT_EQ(bubbles(QStringLiteral("user")), QStringList{screenQuestion});
        ASSERT_NO_FATAL_FAILURE(typeQuestion(nextQuestion));
        ASSERT_TRUE(waitFor([&] { return bubbles(QStringLiteral("assistant")).contains(nextAnswer); }))
            << records().toStdString();
        EXPECT_EQ(bubbles(QStringLiteral("user")), (QStringList{screenQuestion, nextQuestion}));
        ASSERT_EQ(app.state(), QProcess::Running);
    }

    // A display of the test's own with a window manager and no tray host.
    void startBareDisplay()
    {
        int number = 150;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        const QString name = QStringLiteral(":%1").arg(number);
        endWithTest(display);
        display.start(QStringLiteral("Xvfb"), {name, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1920x1080x24"),
                                               QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        ASSERT_TRUE(display.waitForStarted(10000));
        ASSERT_TRUE(waitFor([&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)); }, 20s));
        previousDisplay = qgetenv("DISPLAY");
        // xdotool and the programs started here look at this display from now on.
        qputenv("DISPLAY", name.toUtf8());
        env.insert(QStringLiteral("DISPLAY"), name);
        endWithTest(windowManager);
        windowManager.setProcessEnvironment(env);
        windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        ASSERT_TRUE(windowManager.waitForStarted(10000));
    }

    // A session bus that starts no services: no key store, no accessibility bus.
    QString startBareBus()
    {
        const QString config = home.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:dir=%1</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>)")
                       .arg(home.path())
                       .toUtf8());
        file.close();
        endWithTest(bus);
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!bus.waitForStarted(10000) || !bus.waitForReadyRead(10000))
            return {};
        return QString::fromUtf8(bus.readLine()).trimmed();
    }

    QProcess dialog;
    QProcess display;
    QProcess windowManager;
    QProcess bus;
    QByteArray previousDisplay;
};

TEST_F(DesktopHazards, ApplicationInFrontStopsAnsweringItsAccessibilityInterface)
{
    ASSERT_NO_FATAL_FAILURE(startPlatform(script()));
    ASSERT_NO_FATAL_FAILURE(pair());
    ASSERT_NO_FATAL_FAILURE(openDialog());
    // Stopped, it answers no call on the accessibility bus; its window stays on screen.
    ASSERT_EQ(::kill(pid_t(dialog.processId()), SIGSTOP), 0);
    ASSERT_NO_FATAL_FAILURE(ask(screenQuestion));
    // The walk gave up and the question went out with what the picture showed.
    ASSERT_TRUE(waitFor([&] { return !entry(journal(), QStringLiteral("/v1/desktop/analyze")).isEmpty(); }))
        << records().toStdString();
    EXPECT_TRUE(records().contains(u"accessibility_walk found_application=true")) << records().toStdString();
    expectTurnEndsAndNextIsAnswered();
}

TEST_F(DesktopHazards, WindowInFrontClosesDuringTheScreenQuestion)
{
    ASSERT_NO_FATAL_FAILURE(startPlatform(script()));
    ASSERT_NO_FATAL_FAILURE(pair());
    ASSERT_NO_FATAL_FAILURE(openDialog());
    ASSERT_NO_FATAL_FAILURE(ask(screenQuestion));
    // Gone the moment the turn begins: during the capture, the recognition or the walk.
    ASSERT_TRUE(waitFor([&] { return records().contains(u"route=screen"); }, 30s)) << records().toStdString();
    dialog.kill();
    expectTurnEndsAndNextIsAnswered();
}

TEST_F(DesktopHazards, BareDesktopStillOpensFromASecondLaunch)
{
    ASSERT_NO_FATAL_FAILURE(startBareDisplay());
    const QString address = startBareBus();
    ASSERT_FALSE(address.isEmpty());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
    ASSERT_NO_FATAL_FAILURE(startPlatform(script()));
    ASSERT_NO_FATAL_FAILURE(pair());
    // With no key store on the bus the key is kept in a file of the owner's alone.
    const QString keyFile = home.filePath(QStringLiteral("data/Nimbel/platform-api-key"));
    ASSERT_TRUE(QFile::exists(keyFile));
    EXPECT_EQ(QFile::permissions(keyFile) & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());

    // An ordinary start with the introduction done leaves the chat closed; with
    // no tray to click, launching the assistant again is the way in.
    QSettings preferences(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat);
    preferences.setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
    preferences.sync();
    ASSERT_NO_FATAL_FAILURE(launch({}));
    ASSERT_TRUE(waitFor([&] { return records().contains(u"event=startup mode=ordinary"); })) << records().toStdString();
    EXPECT_TRUE(expandedPanel().isEmpty());
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(NIMBEL_APP_BINARY), QStringList{});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();

    // The chat opened, and a question typed there is answered with the stored key.
    ASSERT_NO_FATAL_FAILURE(typeQuestion(nextQuestion));
    ASSERT_TRUE(waitFor([&] { return bubbles(QStringLiteral("assistant")).contains(nextAnswer); }))
        << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
    ASSERT_EQ(app.state(), QProcess::Running);
}

} // namespace
