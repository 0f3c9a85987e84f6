// The paired assistant against a local platform that fails on purpose, one
// fault per case: streams that break off, crawl, stall or carry garbage, error
// statuses on each endpoint (each status's message is the gateway tests'), a
// platform that dies mid-answer and comes back, a redirect to another host.
// Whatever happens, the owner's question stays in the chat, no sentence shows
// twice, the failure is shown, and the next question (typed into the composer
// as the owner would) is answered.
#include "AccessibilityBusReader.h"
#include "AssistantSession.h"

using namespace nimbel::test;

namespace {

const QString question = QStringLiteral("What is the capital of France?");
const QStringList answer = {QStringLiteral("Paris is the capital of France."),
                            QStringLiteral("It stands on the Seine, in the north of the country."),
                            QStringLiteral("About two million people live in the city itself.")};
const QString screenQuestion = QStringLiteral("Where is the Continue button on this screen?");
const QString nextQuestion = QStringLiteral("How tall is the Eiffel Tower?");
const QString nextAnswer = QStringLiteral("The tower is about three hundred and thirty metres tall.");

const QString connectionFailed =
    QStringLiteral("Could not connect to Zelm Platform. For the local beta, start the platform on port 4100.");
const QString generic = QStringLiteral("That didn’t work — I’ll look into it.");
const QString invalidResponse = QStringLiteral("Zelm Platform returned an invalid response.");

// What the platform does wrong, and what the owner must see.
struct FaultCase
{
    const char *name;
    QString path;                  // the failing endpoint
    QJsonObject fault;             // its fault script; "{other}" in a header stands for the other host
    bool screen = false;           // asked in front of a dialog
    qsizetype sentencesShown = 0;  // of `answer`, before the failure
    QString failure;               // the failure shown; empty when the answer arrives whole
    bool disappears = false;       // the platform dies in its stall and comes back
    std::chrono::seconds limit{60};
};

void PrintTo(const FaultCase &fault, std::ostream *out)
{
    *out << fault.name;
}

QJsonObject status(int code, const QJsonValue &body = QJsonObject{{QStringLiteral("error"), QStringLiteral("Request failed")}})
{
    return {{QStringLiteral("status"), code}, {QStringLiteral("body"), body}};
}

const QString chat = QStringLiteral("/v1/desktop/chat");
const QString config = QStringLiteral("/v1/desktop/config");
const QString analyze = QStringLiteral("/v1/desktop/analyze");

const FaultCase cases[] = {
    {"StreamCutMidSentence", chat,
     {{"cut_after", 1}, {"cut_mid_event", true}}, false, 1, connectionFailed},
    {"SlowStream", chat, {{"pause_after", 1}, {"pause_ms", 4000}}, false, 3, {}},
    // Nothing arrives for longer than the stream's inactivity limit (60 s).
    {"StalledStream", chat, {{"pause_after", 1}, {"pause_ms", 200000}}, false, 1, connectionFailed, false, 120s},
    {"GarbageBetweenEvents", chat,
     {{"malformed_event", QJsonObject{{"after", 1}, {"line", "data: {\"type\": \"sentence\", \"te"}}}}, false, 3, {}},
    {"NothingButGarbage", chat,
     {{"status", 200}, {"content_type", "text/event-stream"},
      {"body", "data: {oops\n\nevent: sentence\ndata: [1, 2]\n\n: comment\ndata: {\"type\": 7}\n\n"}},
     false, 0, invalidResponse},
    {"ChatRefused", chat, status(401, QJsonObject{{"error", "Invalid API key"}}), false, 0, generic},
    {"ChatNotFound", chat, status(404, QJsonObject{{"error", "No such agent"}}), false, 0, QStringLiteral("No such agent")},
    {"ConfigurationForbidden", config, status(403, QJsonObject{{"error", "Agent disabled"}}), false, 0,
     QStringLiteral("Agent disabled")},
    {"AnalysisServerError", analyze, status(500), true, 0, generic},
    {"RedirectToAnotherHost", chat,
     {{"status", 307}, {"headers", QJsonObject{{"Location", "{other}/v1/desktop/chat"}}}}, false, 0, invalidResponse},
    {"PlatformDisappearsMidTurn", chat, {{"pause_after", 1}, {"pause_ms", 200000}}, false, 1, connectionFailed, true},
};

class PlatformFaults : public AssistantSession, public ::testing::WithParamInterface<FaultCase>
{
protected:
    void TearDown() override
    {
        AssistantSession::TearDown();
        stop(other);
    }

    static QJsonObject script(const QJsonObject &faults = {})
    {
        const QJsonArray replies{
            QJsonObject{{QStringLiteral("match"), QStringLiteral("capital of france")},
                        {QStringLiteral("sentences"), QJsonArray::fromStringList(answer)}},
            QJsonObject{{QStringLiteral("match"), QStringLiteral("eiffel")},
                        {QStringLiteral("sentences"), QJsonArray{nextAnswer}}}};
        QJsonObject document{{QStringLiteral("chat"), QJsonObject{{QStringLiteral("pause_ms"), 300},
                                                                   {QStringLiteral("replies"), replies}}}};
        if (!faults.isEmpty())
            document.insert(QStringLiteral("faults"), faults);
        return document;
    }

    // A second platform on another host name: where the redirect points.
    QString startOtherHost()
    {
        endWithTest(other);
        other.start(QStringLiteral(NIMBEL_PLATFORM_BINARY), {QStringLiteral("--port"), QStringLiteral("0")});
        if (!other.waitForStarted(10000) || !other.waitForReadyRead(20000))
            return {};
        static const QRegularExpression listening(QStringLiteral(R"(listening on http://127\.0\.0\.1:(\d+))"));
        return QStringLiteral("http://localhost:") + listening.match(QString::fromUtf8(other.readLine())).captured(1);
    }

    // How often `sentence` is on screen now, over all assistant bubbles.
    qsizetype timesShown(const QString &sentence) { return bubbles(QStringLiteral("assistant")).join(u'\n').count(sentence); }

    // Whether a node of the application's accessibility tree holds all of `parts`.
    bool readable(const QStringList &parts, QString *dump)
    {
        QString diagnosis;
        const QList<AccessibleNode> nodes = accessibleNodes(app.processId(), &diagnosis);
        *dump = diagnosis + u'\n';
        bool found = false;
        for (const AccessibleNode &node : nodes) {
            *dump += node.role + QStringLiteral(": ") + node.name + u'\n';
            found = found || std::all_of(parts.begin(), parts.end(), [&](const QString &part) { return node.name.contains(part); });
        }
        return found;
    }

    QProcess other;
};

TEST_P(PlatformFaults, QuestionSurvivesAndTheNextOneIsAnswered)
{
    const FaultCase &fault = GetParam();
    const QString asked = fault.screen ? screenQuestion : question;
    ASSERT_NO_FATAL_FAILURE(startPlatform(script()));
    ASSERT_NO_FATAL_FAILURE(pair());

    QJsonObject shape = fault.fault;
    QString otherHost;
    if (shape.contains(u"headers")) {
        ASSERT_FALSE((otherHost = startOtherHost()).isEmpty());
        QJsonObject headers = shape.value(u"headers").toObject();
        for (auto it = headers.begin(); it != headers.end(); ++it)
            it.value() = it.value().toString().replace(QStringLiteral("{other}"), otherHost);
        shape.insert(QStringLiteral("headers"), headers);
    }
    ASSERT_NO_FATAL_FAILURE(writeScript(script({{fault.path, shape}})));
    if (fault.screen) {
        ASSERT_NO_FATAL_FAILURE(openDialog());
    }
    ASSERT_NO_FATAL_FAILURE(ask(asked));

    if (fault.disappears) {
        // Dies without a word while the answer is under way, and comes back where it was.
        ASSERT_TRUE(waitFor([&] { return timesShown(answer[0]) == 1; })) << records().toStdString();
        const QString port = base.section(u':', -1);
        platform.kill();
        platform.waitForFinished(5000);
        ASSERT_TRUE(waitFor([&] { return records().contains(u"turn_failed"); })) << records().toStdString();
        ASSERT_NO_FATAL_FAILURE(startPlatform(script(), port.toInt()));
    }

    // Each sentence shows once or not at all, also after the next question.
    const auto expectEachSentenceOnce = [&] {
        for (qsizetype i = 0; i < answer.size(); ++i)
            EXPECT_EQ(timesShown(answer[i]), i < fault.sentencesShown ? 1 : 0) << answer[i].toStdString() << "\n"
                                                                               << records().toStdString();
    };
    if (fault.failure.isEmpty()) {
        ASSERT_TRUE(waitFor([&] { return lastDisplayed(QStringLiteral("assistant")) == answer.join(u' '); }, fault.limit))
            << records().toStdString();
        EXPECT_FALSE(records().contains(u"turn_failed")) << records().toStdString();
    } else {
        ASSERT_TRUE(waitFor([&] { return records().contains(u"turn_failed"); }, fault.limit)) << records().toStdString();
        QString dump;
        EXPECT_TRUE(waitFor([&] { return readable({QStringLiteral("That did not work"), fault.failure}, &dump); }, 30s))
            << dump.toStdString();
    }
    // A bubble reports itself once the panel draws it, and the panel draws
    // only while it shows: other tests' windows on the shared display may
    // cover it for a while.
    EXPECT_TRUE(waitFor([&] { return bubbles(QStringLiteral("user")) == QStringList{asked}; }, 30s))
        << records().toStdString();
    expectEachSentenceOnce();
    if (!otherHost.isEmpty()) {
        other.waitForReadyRead(500);
        EXPECT_FALSE(other.readAll().contains("request ")) << "the redirect was followed to " << otherHost.toStdString();
    }

    // The platform behaves again: the owner asks the next question in the same chat.
    if (!fault.disappears) {
        ASSERT_NO_FATAL_FAILURE(writeScript(script()));
    }
    ASSERT_NO_FATAL_FAILURE(typeQuestion(nextQuestion));
    ASSERT_TRUE(waitFor([&] { return bubbles(QStringLiteral("assistant")).contains(nextAnswer); }))
        << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
    EXPECT_EQ(bubbles(QStringLiteral("user")), (QStringList{asked, nextQuestion}));
    expectEachSentenceOnce();
    QString dump;
    EXPECT_TRUE(waitFor([&] { return readable({QStringLiteral("You: ") + asked}, &dump)
                                     && readable({QStringLiteral("You: ") + nextQuestion}, &dump); }, 30s))
        << dump.toStdString();
    ASSERT_EQ(app.state(), QProcess::Running);
}

// The one-time code cannot be exchanged: the link's failure is shown, and a
// fresh link handed over by a second launch pairs the running assistant.
using PairingFaults = PlatformFaults;

TEST_F(PairingFaults, RefusedExchangeIsShownAndTheNextLinkPairs)
{
    QJsonObject refused = status(500);
    refused.insert(QStringLiteral("times"), 1);
    ASSERT_NO_FATAL_FAILURE(startPlatform({{QStringLiteral("faults"),
                                            QJsonObject{{QStringLiteral("/desktop-connect/exchange"), refused}}}}));
    const auto link = [this] {
        return http(QStringLiteral("POST"), QStringLiteral("/desktop-agent/connect?format=json")).value(u"link").toString();
    };
    ASSERT_NO_FATAL_FAILURE(launch({link()}));
    ASSERT_TRUE(waitFor([&] { return records().contains(u"turn_failed"); })) << records().toStdString();
    QString dump;
    EXPECT_TRUE(waitFor([&] { return readable({QStringLiteral("That did not work"), generic}, &dump); }, 30s))
        << dump.toStdString();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(NIMBEL_APP_BINARY), {link()});
    ASSERT_TRUE(second.waitForFinished(30000));
    QSettings preferences(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat);
    EXPECT_TRUE(waitFor([&] {
        preferences.sync();
        return !entry(journal(), QStringLiteral("/v1/desktop/config")).isEmpty()
            && preferences.value(QStringLiteral("desktopPlatformBaseURL")).toString() == base;
    })) << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
    ASSERT_EQ(app.state(), QProcess::Running);
}

INSTANTIATE_TEST_SUITE_P(EveryFault, PlatformFaults, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

} // namespace
