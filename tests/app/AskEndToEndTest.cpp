// The whole assistant against the local platform, in a real X session with a
// window manager and a tray host (scripts/with-session): a fresh profile is
// paired through a one-time link, then the application runs in the "ask" test
// mode. What the platform received is read from its journal; what reached the
// chat is read back from the application itself (its bubble records).
#include "AssistantSession.h"

#include <QSet>

using namespace nimbel::test;

namespace {

const QString question = QStringLiteral("What is the capital of France?");
const QString firstSentence = QStringLiteral("Paris is the capital of France.");
const QString secondSentence = QStringLiteral("It stands on the Seine, in the north of the country.");

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

class AskEndToEnd : public AssistantSession
{
protected:
    // The platform's own reply to this question, so that the chat can be told from an acknowledgement;
    // a second between the sentences leaves the chat ample time to show the first one alone.
    static QJsonObject script()
    {
        const QJsonObject reply{{QStringLiteral("match"), QStringLiteral("capital of france")},
                                {QStringLiteral("sentences"), QJsonArray{firstSentence, secondSentence}}};
        return {{QStringLiteral("chat"),
                 QJsonObject{{QStringLiteral("pause_ms"), 1000}, {QStringLiteral("replies"), QJsonArray{reply}}}}};
    }
};

} // namespace

TEST_F(AskEndToEnd, PairedAssistantAsksTheLocalPlatformAndShowsTheStreamedAnswer)
{
    ASSERT_NO_FATAL_FAILURE(startPlatform(script()));

    // Paired through a one-time link, then the same profile asks in the "ask" mode
    // with the key it was given.
    ASSERT_NO_FATAL_FAILURE(pair());
    ASSERT_NO_FATAL_FAILURE(ask(question));

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

    // The tray item is docked in the session's tray host.
    QString tree;
    EXPECT_TRUE(waitFor([&] { return dockedInTrayHost(windowsOf(app.processId()), &tree); }, 30s))
        << "no window of the application inside a tray host:\n" << tree.toStdString();
}
