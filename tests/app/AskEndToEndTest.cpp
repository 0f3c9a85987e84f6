// The whole assistant against the local platform, in a real X session with a
// window manager and a tray host (scripts/with-session): a fresh profile is
// paired through a one-time link, then the application runs in the "ask" test
// mode. What the platform received is read from its journal; what reached the
// chat is read back from the application itself (its bubble records and its
// accessibility tree). Saves a screenshot of the answer under artifacts/.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>

#include <sys/prctl.h>

namespace {

using namespace std::chrono_literals;

const QString question = QStringLiteral("What is the capital of France?");
const QString firstSentence = QStringLiteral("Paris is the capital of France.");
const QString secondSentence = QStringLiteral("It stands on the Seine, in the north of the country.");

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The ids (decimal, as xdotool prints them) of every window the process owns.
QSet<quint64> windowsOf(qint64 pid)
{
    QSet<quint64> ids;
    const QString out = run(QStringLiteral("xdotool"),
                            {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--pid"), QString::number(pid)});
    for (const QString &line : out.split(u'\n', Qt::SkipEmptyParts))
        ids.insert(line.trimmed().toULongLong());
    return ids;
}

// Whether one of `windows` sits inside a tray host's panel in the window tree
// (an XEmbed tray host reparents a docked icon into its own window).
bool dockedInTrayHost(const QSet<quint64> &windows, QString *tree)
{
    *tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    static const QRegularExpression line(QStringLiteral(R"(^(\s*)(0x[0-9a-f]+) (.*)$)"));
    // Indentation and WM_CLASS text of the ancestors of the current line.
    QList<std::pair<qsizetype, QString>> ancestors;
    for (const QString &text : tree->split(u'\n')) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        const qsizetype indent = match.capturedLength(1);
        while (!ancestors.isEmpty() && ancestors.last().first >= indent)
            ancestors.removeLast();
        bool ok = false;
        const quint64 id = match.captured(2).toULongLong(&ok, 16);
        if (ok && windows.contains(id)) {
            for (const auto &ancestor : ancestors)
                if (ancestor.second.contains(u"\"trayer\")"))
                    return true;
        }
        ancestors.append({indent, match.captured(3)});
    }
    return false;
}

struct AccessibleNode
{
    QString role;
    QString name;
};

} // namespace

// A node of the accessibility tree as the bus names it: the owning connection and its path.
struct AtspiReference
{
    QString service;
    QDBusObjectPath path;
};
Q_DECLARE_METATYPE(AtspiReference)

QDBusArgument &operator<<(QDBusArgument &argument, const AtspiReference &reference)
{
    argument.beginStructure();
    argument << reference.service << reference.path;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, AtspiReference &reference)
{
    argument.beginStructure();
    argument >> reference.service >> reference.path;
    argument.endStructure();
    return argument;
}

namespace {

QDBusMessage accessibleCall(const QDBusConnection &bus, const AtspiReference &node, const QString &interface,
                            const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(node.service, node.path.path(), interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, 3000);
}

QList<AtspiReference> childrenOf(const QDBusConnection &bus, const AtspiReference &node)
{
    QList<AtspiReference> children;
    const QDBusMessage reply = accessibleCall(bus, node, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        reply.arguments().constFirst().value<QDBusArgument>() >> children;
    return children;
}

// Every named node of the accessibility tree of the application with this pid, read
// over the accessibility bus the way a screen reader reads it. Empty while the bus or
// the application is not there yet.
QList<AccessibleNode> accessibleNodes(qint64 pid, QString *diagnosis)
{
    qDBusRegisterMetaType<AtspiReference>();
    qDBusRegisterMetaType<QList<AtspiReference>>();
    const QDBusMessage address = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
        QDBus::Block, 3000);
    if (address.type() != QDBusMessage::ReplyMessage || address.arguments().isEmpty()) {
        *diagnosis = QStringLiteral("no accessibility bus: ") + address.errorMessage();
        return {};
    }
    static int attempt = 0;
    const QString connectionName = QStringLiteral("ask-test-accessibility-%1").arg(++attempt);
    QList<AccessibleNode> nodes;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address.arguments().constFirst().toString(), connectionName);
        *diagnosis = QStringLiteral("accessibility bus %1: %2")
                         .arg(address.arguments().constFirst().toString(),
                              bus.isConnected() ? QStringLiteral("connected") : bus.lastError().message());
        if (bus.isConnected()) {
            const AtspiReference desktop{QStringLiteral("org.a11y.atspi.Registry"),
                                         QDBusObjectPath(QStringLiteral("/org/a11y/atspi/accessible/root"))};
            std::function<void(const AtspiReference &, int)> walk = [&](const AtspiReference &node, int depth) {
                const QDBusMessage name = accessibleCall(
                    bus, node, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                    {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
                const QDBusMessage role = accessibleCall(bus, node, QStringLiteral("org.a11y.atspi.Accessible"),
                                                         QStringLiteral("GetRoleName"));
                const QString text = name.arguments().value(0).value<QDBusVariant>().variant().toString();
                if (!text.isEmpty())
                    nodes.append({role.arguments().value(0).toString(), text});
                if (depth < 60) {
                    for (const AtspiReference &child : childrenOf(bus, node))
                        walk(child, depth + 1);
                }
            };
            for (const AtspiReference &application : childrenOf(bus, desktop)) {
                const quint64 owner = bus.interface()->servicePid(application.service).value();
                *diagnosis += QStringLiteral("; application %1 pid %2").arg(application.service).arg(owner);
                if (owner == quint64(pid))
                    walk(application, 0);
            }
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return nodes;
}

class AskEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qgetenv("QT_QPA_PLATFORM") == "offscreen")
            GTEST_SKIP() << "needs an X display with a tray host (run under scripts/with-session)";
        ASSERT_TRUE(home.isValid());
        for (const char *folder : {"config", "data", "runtime", "tmp", "platform"})
            QDir(home.path()).mkpath(QString::fromLatin1(folder));
        QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        // Publish the views on the accessibility bus even though no screen reader asked.
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        for (const char *name : {"ZELM_DESKTOP_QA_MODE", "ZELM_DESKTOP_QA_QUESTION", "ZELM_DESKTOP_QA_DELAY_MS",
                                 "ZELM_DESKTOP_QA_DEVICE_TOKEN", "LC_ALL"})
            env.remove(QString::fromLatin1(name));

        // The platform's own reply to this question, so that the chat can be told from an acknowledgement;
        // a second between the sentences leaves the chat ample time to show the first one alone.
        QJsonObject reply{{QStringLiteral("match"), QStringLiteral("capital of france")},
                          {QStringLiteral("sentences"), QJsonArray{firstSentence, secondSentence}}};
        QJsonObject script{{QStringLiteral("chat"),
                            QJsonObject{{QStringLiteral("pause_ms"), 1000}, {QStringLiteral("replies"), QJsonArray{reply}}}}};
        QFile file(home.filePath(QStringLiteral("script.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(script).toJson());
    }

    void TearDown() override
    {
        stop(app);
        stop(platform);
    }

    // The platform and the application end with this test process, even when it is
    // killed at its time limit or aborts.
    static void endWithTest(QProcess &process)
    {
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }

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

    void startPlatform()
    {
        endWithTest(platform);
        platform.setProgram(QStringLiteral(NIMBEL_PLATFORM_BINARY));
        platform.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--state-dir"),
                               home.filePath(QStringLiteral("platform")), QStringLiteral("--script"),
                               home.filePath(QStringLiteral("script.json"))});
        platform.start();
        ASSERT_TRUE(platform.waitForStarted(10000));
        // The first line names the port the system picked.
        static const QRegularExpression listening(QStringLiteral(R"(listening on (http://127\.0\.0\.1:\d+))"));
        QString out;
        QDeadlineTimer deadline(30s);
        while (!platform.canReadLine() && !deadline.hasExpired() && platform.state() == QProcess::Running)
            platform.waitForReadyRead(200);
        out = QString::fromUtf8(platform.readLine());
        const auto match = listening.match(out);
        ASSERT_TRUE(match.hasMatch()) << out.toStdString() << platform.readAllStandardError().toStdString();
        base = match.captured(1);
    }

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

    void launch(const QStringList &arguments)
    {
        collected.clear();
        app.setProcessEnvironment(env);
        endWithTest(app);
        app.start(QStringLiteral(NIMBEL_APP_BINARY), arguments);
        ASSERT_TRUE(app.waitForStarted(10000));
    }

    // The text of the last displayed bubble with this role, or an empty string.
    QString lastDisplayed(const QString &role)
    {
        static const QRegularExpression record(
            QStringLiteral(R"(event=chat_message_displayed id=\S+ role=(\S+) text=(.*)$)"),
            QRegularExpression::MultilineOption);
        QString text;
        auto it = record.globalMatch(records());
        while (it.hasNext()) {
            const auto match = it.next();
            if (match.captured(1) == role)
                text = match.captured(2);
        }
        return text;
    }

    // This process's panel at the expanded size, or an empty id.
    QString expandedPanel()
    {
        const QStringList ids = run(QStringLiteral("xdotool"),
                                    {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                     QStringLiteral("--pid"), QString::number(app.processId()), QStringLiteral("--name"),
                                     QStringLiteral("^Nimbel$")})
                                    .split(u'\n', Qt::SkipEmptyParts);
        for (const QString &id : ids) {
            const QString shell = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
            if (shell.contains(u"WIDTH=488") && shell.contains(u"HEIGHT=670"))
                return id;
        }
        return {};
    }

    QTemporaryDir home;
    QProcessEnvironment env;
    QProcess platform;
    QProcess app;
    QString base;
    QString collected;
};

} // namespace

TEST_F(AskEndToEnd, PairedAssistantAsksTheLocalPlatformAndShowsTheStreamedAnswer)
{
    ASSERT_NO_FATAL_FAILURE(startPlatform());

    // Pairing: a one-time link from the platform, handed to the application as the
    // desktop's URL handler would.
    const QString link = http(QStringLiteral("POST"), QStringLiteral("/desktop-agent/connect?format=json")).value(u"link").toString();
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
    EXPECT_TRUE(records().contains(u"event=connection_link scheme=zelmdesktop host=connect handled=true"))
        << records().toStdString();
    stop(app);

    // The same profile started again in the "ask" mode: it asks with the key it was given.
    http(QStringLiteral("DELETE"), QStringLiteral("/debug/requests"));
    env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("ask"));
    env.insert(QStringLiteral("ZELM_DESKTOP_QA_QUESTION"), question);
    ASSERT_NO_FATAL_FAILURE(launch({}));
    EXPECT_TRUE(waitFor([&] { return records().contains(u"event=startup mode=ask"); })) << records().toStdString();

    // The platform received the question from a paired assistant.
    QJsonObject chat;
    ASSERT_TRUE(waitFor([&] { return !(chat = entry(journal(), QStringLiteral("/v1/desktop/chat"))).isEmpty(); }))
        << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
    EXPECT_NE(chat.value(u"authorized"), QJsonValue(false));
    const QJsonArray messages = chat.value(u"request").toObject().value(u"messages").toArray();
    ASSERT_FALSE(messages.isEmpty()) << QJsonDocument(chat).toJson().toStdString();
    const QJsonObject last = messages.last().toObject();
    EXPECT_EQ(last.value(u"role").toString(), QStringLiteral("user"));
    EXPECT_EQ(last.value(u"content").toString(), question);

    // The streamed answer reached the chat, sentence after sentence, below the question.
    const bool answered = waitFor([&] {
        const QString answer = lastDisplayed(QStringLiteral("assistant"));
        return answer.contains(firstSentence) && answer.contains(secondSentence);
    });
    ASSERT_TRUE(answered) << records().toStdString();
    const QString log = records();
    EXPECT_EQ(lastDisplayed(QStringLiteral("user")), question) << log.toStdString();
    const qsizetype asked = log.indexOf(QStringLiteral("role=user text=") + question);
    const qsizetype partial = log.indexOf(QRegularExpression(QStringLiteral("role=assistant text=")
                                                             + QRegularExpression::escape(firstSentence) + u'$',
                                                             QRegularExpression::MultilineOption));
    const qsizetype whole = log.indexOf(secondSentence);
    EXPECT_GE(asked, 0);
    EXPECT_GT(partial, asked) << "the first sentence is shown on its own before the second arrives\n" << log.toStdString();
    EXPECT_GT(whole, partial) << log.toStdString();
    EXPECT_FALSE(log.contains(u"overlay_view_error")) << log.toStdString();

    // The accessibility tree a screen reader sees holds both bubbles.
    QList<AccessibleNode> nodes;
    QString diagnosis;
    const auto named = [&nodes](const QStringList &parts) {
        for (const AccessibleNode &node : nodes) {
            if (std::all_of(parts.begin(), parts.end(), [&node](const QString &part) { return node.name.contains(part); }))
                return true;
        }
        return false;
    };
    const bool readable = waitFor([&] {
        nodes = accessibleNodes(app.processId(), &diagnosis);
        return named({QStringLiteral("You: ") + question}) && named({firstSentence, secondSentence});
    }, 30s);
    QString dump = diagnosis + u'\n';
    for (const AccessibleNode &node : nodes)
        dump += node.role + QStringLiteral(": ") + node.name + u'\n';
    EXPECT_TRUE(readable) << dump.toStdString();

    // The tray item is docked in the session's tray host.
    QString tree;
    EXPECT_TRUE(waitFor([&] { return dockedInTrayHost(windowsOf(app.processId()), &tree); }, 30s))
        << "no window of the application inside a tray host:\n" << tree.toStdString();

    // A picture of the expanded chat with the answer.
    QString panel;
    ASSERT_TRUE(waitFor([&] { return !(panel = expandedPanel()).isEmpty(); }, 30s));
    const QString artifacts = QStringLiteral(NIMBEL_ARTIFACT_DIR);
    QDir().mkpath(artifacts);
    const QString shot = QDir(artifacts).filePath(QStringLiteral("ask-answer.png"));
    QFile::remove(shot);
    QProcess grab;
    grab.start(QStringLiteral("import"), {QStringLiteral("-window"), panel, shot});
    ASSERT_TRUE(grab.waitForFinished(20000));
    const QImage image(shot);
    ASSERT_FALSE(image.isNull()) << shot.toStdString();
    EXPECT_EQ(image.size(), QSize(488, 670));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 40);
}
