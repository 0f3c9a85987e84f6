// The paired assistant against a local platform that fails on purpose, one
// fault per case: streams that break off, crawl or carry garbage, error
// statuses, a redirect to another host, a platform that dies mid-answer and
// comes back (each status's message and stalls are the gateway tests').
// Whatever happens, the owner's question stays in the chat, no sentence shows
// twice, the failure is shown, and the next question (typed into the composer
// as the owner would) is answered.
#include "AccessibilityBusReader.h"
#include "AssistantSession.h"

#include <QUrl>

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
    QJsonObject fault;             // its fault script
    bool screen = false;           // asked in front of a dialog
    qsizetype sentencesShown = 0;  // of `answer`, before the failure
    QString failure;               // the failure shown; empty when the answer arrives whole
    bool platformRestarts = false; // the platform dies after the shown sentences, and comes back
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
    {"GarbageBetweenEvents", chat,
     {{"malformed_event", QJsonObject{{"after", 1}, {"line", "data: {\"type\": \"sentence\", \"te"}}}}, false, 3, {}},
    {"NothingButGarbage", chat,
     {{"status", 200}, {"content_type", "text/event-stream"},
      {"body", "data: {oops\n\nevent: sentence\ndata: [1, 2]\n\n: comment\ndata: {\"type\": 7}\n\n"}},
     false, 0, invalidResponse},
    {"ConfigurationForbidden", config, status(403, QJsonObject{{"error", "Agent disabled"}}), false, 0,
     QStringLiteral("Agent disabled")},
    {"AnalysisServerError", analyze, status(500), true, 0, generic},
    // Not followed: had it been, nothing answers there, and the failure would be another.
    {"RedirectToAnotherHost", chat,
     {{"status", 307}, {"body", ""}, {"headers", QJsonObject{{"Location", "http://127.0.0.2:9/v1/desktop/chat"}}}}, false, 0,
     invalidResponse},
    {"PlatformGoneMidAnswer", chat, {{"pause_after", 1}, {"pause_ms", 30000}}, false, 1, connectionFailed, true},
};

class PlatformFaults : public AssistantSession, public ::testing::WithParamInterface<FaultCase>
{
protected:
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

    // How often `sentence` is on screen now, over all assistant bubbles.
    qsizetype timesShown(const QString &sentence) { return bubbles(QStringLiteral("assistant")).join(u'\n').count(sentence); }

    // Whether a node of the application's accessibility tree holds all of `parts`.
    bool readable(const QStringList &parts, QString *dump)
    {
        return findAccessible(app.processId(), [&](const AccessibleNode &node) {
            return std::all_of(parts.begin(), parts.end(), [&](const QString &part) { return node.name.contains(part); });
        }, dump).has_value();
    }
};

TEST_P(PlatformFaults, QuestionSurvivesAndTheNextOneIsAnswered)
{
    const FaultCase &fault = GetParam();
    const QString asked = fault.screen ? screenQuestion : question;
    ASSERT_NO_FATAL_FAILURE(startPlatform(script()));
    ASSERT_NO_FATAL_FAILURE(pair());
    ASSERT_NO_FATAL_FAILURE(writeScript(script({{fault.path, fault.fault}})));
    if (fault.screen) {
        ASSERT_NO_FATAL_FAILURE(openDialog());
    }
    ASSERT_NO_FATAL_FAILURE(ask(asked));
    if (fault.platformRestarts) {
        ASSERT_TRUE(waitFor([&] { return timesShown(answer[0]) == 1; })) << records().toStdString();
        platform.kill();
        platform.waitForFinished(5000);
        ASSERT_NO_FATAL_FAILURE(startPlatform(script(), QUrl(base).port()));
    }

    // Each sentence shows once or not at all, also after the next question.
    const auto expectEachSentenceOnce = [&] {
        for (qsizetype i = 0; i < answer.size(); ++i)
            EXPECT_EQ(timesShown(answer[i]), i < fault.sentencesShown ? 1 : 0) << answer[i].toStdString() << "\n"
                                                                               << records().toStdString();
    };
    if (fault.failure.isEmpty()) {
        ASSERT_TRUE(waitFor([&] { return lastDisplayed(QStringLiteral("assistant")) == answer.join(u' '); }))
            << records().toStdString();
        EXPECT_FALSE(records().contains(u"turn_failed")) << records().toStdString();
    } else {
        ASSERT_TRUE(waitFor([&] { return records().contains(u"turn_failed"); })) << records().toStdString();
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

    // The platform behaves again: the owner asks the next question in the same chat.
    ASSERT_NO_FATAL_FAILURE(writeScript(script()));
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

INSTANTIATE_TEST_SUITE_P(EveryFault, PlatformFaults, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

} // namespace
