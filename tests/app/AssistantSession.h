#pragma once

// The built assistant and the local platform, each a real process, in the X
// session of scripts/with-session, with a profile of the test's own. What the
// platform received is read from its journal; what the assistant showed, from
// the records it writes for each displayed bubble.
#include "AppLaunch.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include <sys/prctl.h>

namespace nimbel::test {

using namespace std::chrono_literals;

class AssistantSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qgetenv("QT_QPA_PLATFORM") == "offscreen")
            GTEST_SKIP() << "needs an X display with a tray host (run under scripts/with-session)";
        ASSERT_TRUE(home.isValid());
        QDir(home.path()).mkpath(QStringLiteral("platform"));
        env = privateProfile(home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        // Publish the views on the accessibility bus even though no screen reader asked.
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    }

    void TearDown() override
    {
        stop(app);
        stop(platform);
        stop(dialog);
    }

    // The platform and the application end with this test process, even when it is
    // killed at its time limit or aborts.
    static void endWithTest(QProcess &process) { process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }); }

    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }

    // Polls `condition` until it holds or `limit` passes, reading the application's
    // records meanwhile (its pipe is read only while waiting on it).
    bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds limit = 60s)
    {
        QDeadlineTimer deadline(limit);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            if (app.state() == QProcess::Running)
                app.waitForReadyRead(100);
            else
                QThread::msleep(100);
            records();
        }
        return true;
    }

    QString records()
    {
        if (app.state() != QProcess::NotRunning || app.bytesAvailable() > 0)
            collected += QString::fromUtf8(app.readAllStandardError());
        return collected;
    }

    // Starts the platform on `port` (0: one of the system's choosing), answering from `script`.
    void startPlatform(const QJsonObject &script = {}, int port = 0)
    {
        ASSERT_NO_FATAL_FAILURE(writeScript(script));
        endWithTest(platform);
        platform.setProgram(QStringLiteral(NIMBEL_PLATFORM_BINARY));
        platform.setArguments({QStringLiteral("--port"), QString::number(port), QStringLiteral("--state-dir"),
                               home.filePath(QStringLiteral("platform")), QStringLiteral("--script"),
                               home.filePath(QStringLiteral("script.json"))});
        platform.start();
        ASSERT_TRUE(platform.waitForStarted(10000));
        // The first line names the port the system picked.
        static const QRegularExpression listening(QStringLiteral(R"(listening on (http://127\.0\.0\.1:\d+))"));
        QDeadlineTimer deadline(30s);
        while (!platform.canReadLine() && !deadline.hasExpired() && platform.state() == QProcess::Running)
            platform.waitForReadyRead(200);
        const QString out = QString::fromUtf8(platform.readLine());
        const auto match = listening.match(out);
        ASSERT_TRUE(match.hasMatch()) << out.toStdString() << platform.readAllStandardError().toStdString();
        base = match.captured(1);
    }

    // The platform's script; it is read again for every request.
    void writeScript(const QJsonObject &script)
    {
        QFile file(home.filePath(QStringLiteral("script.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(QJsonDocument(script).toJson()) > 0);
    }

    // The session's accessibility bus, with toolkit accessibility on, so that
    // the assistant may read other applications' trees.
    static bool switchOnToolkitAccessibility()
    {
        return !run(QStringLiteral("dbus-send"), QStringLiteral("--session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
                                                                "org.freedesktop.DBus.Properties.Set string:org.a11y.Status "
                                                                "string:IsEnabled variant:boolean:true").split(u' ')).isEmpty();
    }

#ifdef NIMBEL_TEST_WINDOW
    // The test dialog ("Setup", with a "Continue" button) started with `arguments`,
    // until it is the active window (its id in `dialogWindow`).
    void openDialog(const QStringList &arguments = {})
    {
        // The pointer waits in a corner no window covers: left over the dialog's
        // button by an earlier test, it would change how the button is drawn.
        xdotool(QStringLiteral("mousemove 0 1079"));
        QProcessEnvironment environment = env;
        environment.remove(QStringLiteral("NO_AT_BRIDGE"));
        endWithTest(dialog);
        dialog.setProcessEnvironment(environment);
        dialog.start(QStringLiteral(NIMBEL_TEST_WINDOW), QStringList{QStringLiteral("--title"), QStringLiteral("Setup")} + arguments);
        ASSERT_TRUE(dialog.waitForStarted(10000));
        ASSERT_TRUE(dialog.waitForReadyRead(20000) && dialog.readAll().contains("ready"));
        const QString pid = QString::number(dialog.processId());
        ASSERT_TRUE(waitFor([&] {
            dialogWindow = xdotool(QStringLiteral("getactivewindow"));
            return xdotool(QStringLiteral("getwindowpid ") + dialogWindow) == pid;
        }, 20s)) << "the dialog never became the active window";
    }
#endif

    QJsonObject http(const QString &method, const QString &path)
    {
        const QString body = run(QStringLiteral("curl"), {QStringLiteral("-fsS"), QStringLiteral("-X"), method, base + path});
        return QJsonDocument::fromJson(body.toUtf8()).object();
    }

    QJsonArray journal() { return http(QStringLiteral("GET"), QStringLiteral("/debug/requests")).value(u"requests").toArray(); }

    static QJsonObject entry(const QJsonArray &requests, const QString &path, int status = 200)
    {
        for (const auto &value : requests) {
            const QJsonObject request = value.toObject();
            if (request[u"path"].toString() == path && request[u"status"].toInt() == status)
                return request;
        }
        return {};
    }

    static qsizetype count(const QJsonArray &requests, const QString &path)
    {
        return std::count_if(requests.begin(), requests.end(),
                             [&](const QJsonValue &value) { return value.toObject()[u"path"].toString() == path; });
    }

    void launch(const QStringList &arguments)
    {
        collected.clear();
        endWithTest(app);
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(NIMBEL_APP_BINARY), arguments);
        ASSERT_TRUE(app.waitForStarted(10000));
    }

    // Pairs the profile through a one-time link from the platform, handed to the
    // application as the desktop's URL handler would; the application is stopped again.
    void pair()
    {
        const QString link =
            http(QStringLiteral("POST"), QStringLiteral("/desktop-agent/connect?format=json")).value(u"link").toString();
        ASSERT_TRUE(link.startsWith(u"zelmdesktop://connect?")) << link.toStdString();
        ASSERT_NO_FATAL_FAILURE(launch({link}));
        QSettings preferences(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat);
        const bool paired = waitFor([&] {
            preferences.sync();
            const QJsonArray requests = journal();
            // The code was exchanged, the issued key was used, and the address was kept.
            return !entry(requests, QStringLiteral("/desktop-connect/exchange")).isEmpty()
                && !entry(requests, QStringLiteral("/v1/desktop/config")).isEmpty()
                && preferences.value(QStringLiteral("desktopPlatformBaseURL")).toString() == base;
        });
        ASSERT_TRUE(paired) << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
        stop(app);
        http(QStringLiteral("DELETE"), QStringLiteral("/debug/requests"));
    }

    // Starts the same profile again in the "ask" test mode with `question`.
    void ask(const QString &question)
    {
        env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("ask"));
        env.insert(QStringLiteral("ZELM_DESKTOP_QA_QUESTION"), question);
        ASSERT_NO_FATAL_FAILURE(launch({}));
        EXPECT_TRUE(waitFor([&] { return records().contains(u"event=startup mode=ask"); })) << records().toStdString();
    }

    // The last text of every bubble with this role, in the order they appeared.
    QStringList bubbles(const QString &role)
    {
        static const QRegularExpression record(
            QStringLiteral(R"(event=chat_message_displayed id=(\S+) role=(\S+) text=(.*)$)"),
            QRegularExpression::MultilineOption);
        QStringList ids, texts;
        for (auto it = record.globalMatch(records()); it.hasNext();) {
            const auto match = it.next();
            if (match.captured(2) != role)
                continue;
            if (!ids.contains(match.captured(1))) {
                ids.append(match.captured(1));
                texts.append(QString());
            }
            texts[ids.indexOf(match.captured(1))] = match.captured(3);
        }
        return texts;
    }

    // The text of the last bubble with this role, or an empty string.
    QString lastDisplayed(const QString &role) { return bubbles(role).value(bubbles(role).size() - 1); }

    // Clicks into the composer at the foot of the chat, types and sends.
    void typeQuestion(const QString &text)
    {
        QString panel;
        ASSERT_TRUE(waitFor([&] { return !(panel = expandedPanel()).isEmpty(); }, 30s));
        xdotool(QStringLiteral("mousemove --window %1 244 640 click 1").arg(panel));
        QThread::msleep(300);
        run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
        xdotool(QStringLiteral("key Return"));
    }

    // This process's visible panel of `size`, or an empty id; its place in `at`.
    // ("--all": xdotool otherwise matches any one criterion, and so the panels of
    // other instances in the session.)
    QString panel(QSize size, QPoint *at = nullptr)
    {
        const QString ids = xdotool(QStringLiteral("search --all --onlyvisible --pid %1 --name ^Nimbel$").arg(app.processId()));
        for (const QString &id : ids.split(u'\n', Qt::SkipEmptyParts)) {
            const QRect geometry = geometryOf(id);
            if (geometry.size() == size) {
                if (at)
                    *at = geometry.topLeft();
                return id;
            }
        }
        return {};
    }

    // Where window `id` stands, as the window manager placed it.
    static QRect geometryOf(const QString &id)
    {
        QHash<QString, int> values;
        for (const QString &line : xdotool(QStringLiteral("getwindowgeometry --shell ") + id).split(u'\n'))
            values.insert(line.section(u'=', 0, 0), line.section(u'=', 1).toInt());
        return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                     values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
    }

    QString expandedPanel() { return panel(QSize(488, 670)); }

    // Saves a picture of window `id` ("root": the screen) as artifacts/`name`; answers the file's path.
    // Nothing without a window: `import` would wait for a click on the screen.
    static QString saveScreenshot(const QString &id, const QString &name)
    {
        if (id.isEmpty())
            return {};
        QDir().mkpath(QStringLiteral(NIMBEL_ARTIFACT_DIR));
        const QString shot = QDir(QStringLiteral(NIMBEL_ARTIFACT_DIR)).filePath(name);
        QFile::remove(shot);
        run(QStringLiteral("import"), {QStringLiteral("-window"), id, shot});
        return shot;
    }

    QTemporaryDir home;
    QProcessEnvironment env;
    QProcess platform;
    QProcess app;
    QProcess dialog;
    QString dialogWindow;
    QString base;
    QString collected;
};

} // namespace nimbel::test
