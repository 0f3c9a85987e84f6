// A long session: the paired assistant answers questions typed into its panel
// one after the other, every fourth one about the dialog in front, against the
// local platform; and a voice session answers spoken questions, each said into
// a private PulseAudio server's microphone. Read from outside the process after
// a warm-up and at the end: resident memory, open descriptors, threads, and the
// files left in its private temporary folder.
//   scripts/with-session build/bench/soak/soak_bench [--questions=N] (default 300)
#include "AppLaunch.h"
#include "PulseAudioTestServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QThread>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>

#include <sys/prctl.h>

using namespace nimbel::test;

namespace {

int questionCount = 300;
constexpr int warmUp = 20;

struct Figures
{
    double rssKiB = 0;
    double descriptors = 0;
    double threads = 0;
};

Figures figuresOf(qint64 pid)
{
    Figures figures;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                figures.rssKiB = line.mid(6).trimmed().split(' ').first().toDouble();
            else if (line.startsWith("Threads:"))
                figures.threads = line.mid(8).trimmed().toDouble();
        }
    }
    figures.descriptors = double(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::Files | QDir::System).size());
    return figures;
}

qsizetype filesUnder(const QString &folder)
{
    qsizetype count = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

class Session
{
public:
    Session()
    {
        QDir(home.path()).mkpath(QStringLiteral("platform"));
        env = privateProfile(home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    }
    ~Session()
    {
        for (QProcess *process : {&app, &dialog, &platform}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
        }
    }

    QString failure;

    bool start()
    {
        const QJsonObject reply{{QStringLiteral("match"), QStringLiteral("question")},
                                {QStringLiteral("sentences"), QJsonArray{QStringLiteral("Here is the answer.")}}};
        // Each spoken question is heard as a question of its own.
        QJsonArray transcripts;
        for (int i = 0; i < questionCount; ++i)
            transcripts.append(QStringLiteral("Spoken question number %1").arg(i));
        QFile script(home.filePath(QStringLiteral("script.json")));
        script.open(QIODevice::WriteOnly);
        script.write(QJsonDocument(QJsonObject{{QStringLiteral("chat"), QJsonObject{{QStringLiteral("pause_ms"), 0},
                                                                                     {QStringLiteral("replies"), QJsonArray{reply}}}},
                                               {QStringLiteral("transcription"), QJsonObject{{QStringLiteral("sequence"), transcripts}}}})
                         .toJson());
        script.close();
        endWithSession(platform);
        platform.start(QStringLiteral(NIMBEL_PLATFORM_BINARY),
                       {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--state-dir"),
                        home.filePath(QStringLiteral("platform")), QStringLiteral("--script"), script.fileName(),
                        QStringLiteral("--chat-pause-ms"), QStringLiteral("0")});
        if (!platform.waitForStarted(10000) || !platform.waitForReadyRead(30000))
            return fail(QStringLiteral("the platform did not start"));
        const auto match = QRegularExpression(QStringLiteral(R"((http://127\.0\.0\.1:\d+))")).match(QString::fromUtf8(platform.readLine()));
        if (!match.hasMatch())
            return fail(QStringLiteral("the platform named no address"));
        base = match.captured(1);

        endWithSession(dialog);
        dialog.start(QStringLiteral(NIMBEL_TEST_WINDOW), {QStringLiteral("--title"), QStringLiteral("Setup")});
        if (!dialog.waitForStarted(10000) || !dialog.waitForReadyRead(20000))
            return fail(QStringLiteral("the dialog did not open"));

        const QString link = QJsonDocument::fromJson(run(QStringLiteral("curl"), {QStringLiteral("-fsS"), QStringLiteral("-X"), QStringLiteral("POST"),
                                                                                   base + QStringLiteral("/desktop-agent/connect?format=json")})
                                                         .toUtf8())
                                 .object()
                                 .value(u"link")
                                 .toString();
        endWithSession(app);
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(NIMBEL_APP_BINARY), {link});
        if (!app.waitForStarted(10000) || !waitFor([&] { return records().contains(u"handled=true"); }))
            return fail(QStringLiteral("pairing failed: ") + records());
        return true;
    }

    // Types `question` into the panel and waits for its answer: a new
    // assistant bubble, and for a screen question its analysis too.
    bool ask(const QString &question, bool aboutTheScreen)
    {
        const int answersBefore = answers();
        const qsizetype analysesBefore = records().count(u"screen_facts=");
        const QString panel = panelWindow();
        if (panel.isEmpty())
            return fail(QStringLiteral("no panel window"));
        const QString shell = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), panel});
        const auto value = [&](const char *name) {
            return QRegularExpression(QStringLiteral("%1=(\\d+)").arg(QLatin1String(name))).match(shell).captured(1).toInt();
        };
        // The question field runs along the panel's bottom edge.
        const int x = value("X") + value("WIDTH") / 3;
        const int y = value("Y") + value("HEIGHT") - 36;
        run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(x), QString::number(y),
                                        QStringLiteral("click"), QStringLiteral("1")});
        run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("2"), question});
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
        const bool answered = waitFor([&] {
            return answers() > answersBefore && (!aboutTheScreen || (records().count(u"screen_facts=") > analysesBefore
                                                                     && answers() > answersBefore + 1));
        });
        if (!answered)
            return fail(QStringLiteral("no answer to \"%1\"").arg(question));
        return true;
    }

    // Distinct assistant bubbles (a streamed answer is recorded again as it grows).
    int answers()
    {
        static const QRegularExpression bubble(QStringLiteral("event=chat_message_displayed id=(\\S+) role=assistant text=\\S"));
        QSet<QString> ids;
        for (auto it = bubble.globalMatch(records()); it.hasNext();)
            ids.insert(it.next().captured(1));
        return int(ids.size());
    }

    QString panelWindow()
    {
        const QStringList ids = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                                                QString::number(app.processId()), QStringLiteral("--name"), QStringLiteral("^Nimbel$")})
                                    .split(u'\n', Qt::SkipEmptyParts);
        return ids.isEmpty() ? QString() : ids.last();
    }

    void openPanel()
    {
        // A second launch opens the running assistant's panel.
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(NIMBEL_APP_BINARY), {});
        second.waitForFinished(20000);
        waitFor([&] { return !panelWindow().isEmpty(); }, 20000);
    }

    // Starts again past the introduction, where an ordinary start shows the launcher alone.
    bool restartPastIntroduction()
    {
        app.terminate();
        app.waitForFinished(10000);
        QSettings(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat)
            .setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
        collected.clear();
        app.start(QStringLiteral(NIMBEL_APP_BINARY), {});
        if (!app.waitForStarted(10000) || !waitFor([&] { return records().contains(u"event=startup"); }))
            return fail(QStringLiteral("the assistant did not start again: ") + records());
        return true;
    }

    bool clickOrb() { return nimbel::test::clickOrb(app.processId()) || fail(QStringLiteral("no launcher window")); }

    // Says `file` once the session listens, and waits until its answer has been spoken.
    bool askAloud(const PulseAudioTestServer &pulse, const QString &file, int number)
    {
        // (After the greeting, which is the session's first line.)
        const bool listening = waitFor([&] {
            const QString log = records();
            return log.contains(u"voice_line=") && log.lastIndexOf(u"platform_recording_started") > log.lastIndexOf(u"voice_line=");
        });
        if (!listening)
            return fail(QStringLiteral("the session stopped listening before spoken question %1").arg(number));
        QThread::msleep(600); // the capture starts after its record
        const qsizetype spoken = records().count(u"voice_line=Here is the answer.");
        const auto feed = pulse.playIntoMicrophone(file);
        if (!waitFor([&] { return records().count(u"voice_line=Here is the answer.") > spoken; }))
            return fail(QStringLiteral("spoken question %1 was not answered aloud").arg(number));
        feed->waitForFinished(5000);
        return true;
    }

    QString records()
    {
        collected += QString::fromUtf8(app.readAllStandardError());
        return collected;
    }

    bool waitFor(const std::function<bool()> &condition, int limitMs = 60000)
    {
        QDeadlineTimer deadline(limitMs);
        while (!condition()) {
            if (deadline.hasExpired() || app.state() != QProcess::Running)
                return false;
            app.waitForReadyRead(100);
        }
        return true;
    }

    qint64 pid() const { return app.processId(); }
    QString temporaryFolder() const { return home.filePath(QStringLiteral("tmp")); }

private:
    static void endWithSession(QProcess &process)
    {
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    bool fail(const QString &why)
    {
        failure = why;
        return false;
    }

    QTemporaryDir home;
    QProcessEnvironment env;
    QProcess platform;
    QProcess dialog;
    QProcess app;
    QString base;
    QString collected;
};

// Asks the session's `questionCount` questions, question `i` through `ask(i)`,
// and reports the figures after the warm-up against those at the end.
void askAll(benchmark::State &state, Session &session, const char *kind, const std::function<bool(int)> &ask)
{
    Figures warm;
    for (int i = 0; i < questionCount; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!ask(i)) {
            state.SkipWithError(session.failure.toStdString().c_str());
            return;
        }
        std::fprintf(stderr, "soak: %s question %d answered in %lld ms\n", kind, i + 1, timer.elapsed());
        if (i + 1 == warmUp)
            warm = figuresOf(session.pid());
    }
    QThread::msleep(2000);
    const Figures end = figuresOf(session.pid());
    state.counters["questions"] = double(questionCount);
    state.counters["rss_warm_MiB"] = warm.rssKiB / 1024;
    state.counters["rss_end_MiB"] = end.rssKiB / 1024;
    state.counters["rss_growth_MiB"] = (end.rssKiB - warm.rssKiB) / 1024;
    state.counters["fds_warm"] = warm.descriptors;
    state.counters["fds_end"] = end.descriptors;
    state.counters["threads_warm"] = warm.threads;
    state.counters["threads_end"] = end.threads;
    state.counters["tmp_files"] = double(filesUnder(session.temporaryFolder()));
}

void LongSession(benchmark::State &state)
{
    for (auto _ : state) {
        Session session;
        if (!session.start() || !session.restartPastIntroduction()) {
            state.SkipWithError(session.failure.toStdString().c_str());
            return;
        }
        session.openPanel();
        askAll(state, session, "typed", [&](int i) {
            const bool aboutTheScreen = i % 4 == 3;
            return session.ask(aboutTheScreen ? QStringLiteral("Which question is about the button on this screen number %1?").arg(i)
                                              : QStringLiteral("Soak question number %1?").arg(i),
                               aboutTheScreen);
        });
    }
}
BENCHMARK(LongSession)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void LongVoiceSession(benchmark::State &state)
{
    for (auto _ : state) {
        // Before the session, whose environment carries the server's address.
        PulseAudioTestServer pulse;
        Session session;
        if (!pulse.isRunning() || !session.start() || !session.restartPastIntroduction() || !session.clickOrb()) {
            state.SkipWithError(pulse.isRunning() ? session.failure.toStdString().c_str() : "no PulseAudio server");
            return;
        }
        const QString question = spokenFile(pulse.folder(), QStringLiteral("question"), QStringLiteral("en"),
                                            QStringLiteral("What is the weather like"), 0.3, 0.8);
        askAll(state, session, "spoken", [&](int i) { return session.askAloud(pulse, question, i + 1); });
    }
}
BENCHMARK(LongVoiceSession)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--questions=", 12) == 0)
            questionCount = std::max(warmUp + 1, std::atoi(argv[i] + 12));
    }
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
