// The streamed chat against a real server: live sentences, event rules, errors, cancellation, stalls.

#include "gateway/GatewayTestSupport.h"
#include "settings/Localized.h"

#include <gtest/gtest.h>

using namespace nimbel;
using test::ScriptedResponse;
using test::StreamStep;
using namespace std::chrono_literals;

namespace {

std::string event(const std::string &json)
{
    return "data: " + json + "\n\n";
}

std::string sentence(const std::string &text)
{
    return event(R"({"type":"sentence","text":")" + text + "\"}");
}

const std::string done = event(R"({"type":"done"})");

class ChatStreamTest : public test::GatewayTest
{
protected:
    Result<QString, GatewayFailure> chat(const QList<DesktopChatMessage> &messages, std::stop_token stop = {})
    {
        return test::finish(client().streamChat(messages, server.baseURL(), "zelm-key", "dsa-1", "session", "voice",
                                                [this](const QString &text) { onSentence(text); }, stop));
    }
    Result<QString, GatewayFailure> chat() { return chat({{"user", "What is new?"}}); }
    void stream(std::vector<StreamStep> steps) { server.script("/v1/desktop/chat", ScriptedResponse::events(std::move(steps))); }
    // The whole body at once, with its length: its end is certain.
    void body(std::string events)
    {
        ScriptedResponse response = ScriptedResponse::json(200, std::move(events));
        response.contentType = "text/event-stream";
        server.script("/v1/desktop/chat", response);
    }

    virtual void onSentence(const QString &text)
    {
        sentences.append(text);
        if (afterSentence)
            afterSentence(text);
    }

    test::TestServer server;
    QStringList sentences;
    std::function<void(const QString &)> afterSentence;
};

VisionGatewayError::Kind kindOf(const Result<QString, GatewayFailure> &result)
{
    return test::gatewayError(result).kind;
}

} // namespace

TEST_F(ChatStreamTest, handsOnEachSentenceWhileTheStreamIsStillOpen)
{
    stream({StreamStep::write(sentence("First sentence.")), StreamStep::hold(),
            StreamStep::write(sentence("Second sentence.")), StreamStep::hold(),
            StreamStep::write(done)});
    QList<bool> serverWasHolding;
    afterSentence = [&](const QString &) {
        // Seen while the server holds: it arrived before the body ended.
        serverWasHolding.append(server.waitUntilHolding(2s));
        server.release();
    };
    const auto result = chat();
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), "First sentence. Second sentence.");
    EXPECT_EQ(sentences, (QStringList{"First sentence.", "Second sentence."}));
    EXPECT_EQ(serverWasHolding, (QList<bool>{true, true}));
}

TEST_F(ChatStreamTest, trimsSentencesSkipsEmptyOnesAndPrefersTheDoneReply)
{
    body(sentence("One.") + sentence("   Two, padded.  ") + sentence("") + sentence("  "));
    auto result = chat();
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), "One. Two, padded.");
    EXPECT_EQ(sentences, (QStringList{"One.", "Two, padded."}));

    // Streamed in chunks over plain http, the end of the body could be a lost
    // connection; only "done" tells them apart.
    sentences.clear();
    stream({StreamStep::write(sentence("One.")), StreamStep::write(sentence("Two."))});
    EXPECT_EQ(kindOf(chat()), VisionGatewayError::Kind::connectionFailed);
    EXPECT_EQ(sentences, (QStringList{"One.", "Two."}));
    // A lost connection is no reply, and the broken last line is no event.
    sentences.clear();
    stream({StreamStep::write(sentence("One.")), StreamStep::pause(20ms), StreamStep::write("data: {\"type\":\"sen"),
            StreamStep::cut()});
    EXPECT_EQ(kindOf(chat()), VisionGatewayError::Kind::connectionFailed);
    EXPECT_EQ(sentences, QStringList{"One."});

    sentences.clear();
    stream({StreamStep::write(sentence("Partial.") + event(R"({"type":"done","reply":"  The full reply.  "})"))});
    result = chat();
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), "The full reply.");
    EXPECT_EQ(sentences, QStringList{"Partial."});

    // A later "done" replaces an earlier one, and an empty reply falls back to the sentences.
    stream({StreamStep::write(sentence("Kept.") + event(R"({"type":"done","reply":"Earlier."})") +
                              event(R"({"type":"done","reply":"   "})"))});
    EXPECT_EQ(chat().value(), "Kept.");

    // Neither a reply nor a sentence: nothing to show.
    stream({StreamStep::write(": nothing here\n\ndata: [DONE]\n\n" + event(R"({"type":"done","reply":""})"))});
    EXPECT_EQ(kindOf(chat()), VisionGatewayError::Kind::invalidResponse);
    server.script("/v1/desktop/chat", ScriptedResponse::json(200, ""));
    EXPECT_EQ(kindOf(chat()), VisionGatewayError::Kind::invalidResponse);
}

TEST_F(ChatStreamTest, appliesTheLineAndEventRules)
{
    stream({StreamStep::write(": comment\r\nevent: sentence\r\nid: 1\r\n"
                              "data:{\"type\":\"sentence\",\"text\":\"No space.\"}\r\n\r\n"
                              " data: {\"type\":\"sentence\",\"text\":\"Indented, ignored.\"}\n"
                              "DATA: {\"type\":\"sentence\",\"text\":\"Upper case, ignored.\"}\n"
                              "data: [DONE]\n"
                              "data: {\"type\":\"sentence\",\"text\":\"After DONE.\"}\r"
                              "data: {\"type\":\"sentence\",\"text\":5}\n"
                              "data: {not json}\n"
                              "data: {\"type\":\"thinking\",\"text\":\"Unknown type.\"}\n"
                              "data: {\"type\":\"sentence\",\"text\":\"Split "),
            StreamStep::pause(30ms), StreamStep::write("across reads.\"}\r"), StreamStep::pause(30ms),
            StreamStep::write("\n" + done)});
    const auto result = chat();
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(sentences, (QStringList{"No space.", "After DONE.", "Split across reads."}));

    // The end of the body ends the last line.
    sentences.clear();
    body("data: {\"type\":\"sentence\",\"text\":\"Last, unterminated.\"}");
    EXPECT_EQ(chat().value(), "Last, unterminated.");
}

TEST_F(ChatStreamTest, anErrorEventOrAFailedStatusEndsTheCall)
{
    stream({StreamStep::write(sentence("One.") + sentence("Two.") +
                              event(R"({"type":"error","error":"  Model overloaded "})") + sentence("Never."))});
    auto result = chat({{"user", u"Что нового? 👋🏽"_qs}, {"assistant", "Hi"}});
    EXPECT_EQ(kindOf(result), VisionGatewayError::Kind::agentUnavailable);
    EXPECT_EQ(result.error().gatewayError()->message, "Model overloaded");
    EXPECT_EQ(sentences, (QStringList{"One.", "Two."}));

    sentences.clear();
    stream({StreamStep::write(event(R"({"type":"error"})"))});
    result = chat({{"assistant", "Welcome"}});
    EXPECT_EQ(kindOf(result), VisionGatewayError::Kind::agentUnavailable);
    EXPECT_EQ(result.error().gatewayError()->message, "Agent runtime failed");
    EXPECT_EQ(result.error().toDescription().message, L::text("error.gateway.generic"));

    // A failed status delivers nothing and carries the server's message.
    sentences.clear();
    server.script("/v1/desktop/chat",
                  ScriptedResponse::json(502, "{\"error\":\"Upstream agent crashed\"}\n" + sentence("Not a sentence.")));
    result = chat();
    EXPECT_EQ(*result.error().gatewayError(), VisionGatewayError::server(502, "Request failed"));

    // A streamed error body is read to its end.
    ScriptedResponse streamedError = ScriptedResponse::events(
        {StreamStep::write(R"({"error":{"message":)"), StreamStep::pause(20ms), StreamStep::write(R"("Agent paused"}})")});
    streamedError.status = 403;
    server.script("/v1/desktop/chat", streamedError);
    result = chat();
    EXPECT_EQ(*result.error().gatewayError(), VisionGatewayError::server(403, "Agent paused"));
    EXPECT_EQ(result.error().toDescription().message, "Agent paused");
    EXPECT_TRUE(sentences.isEmpty());
}

TEST_F(ChatStreamTest, stoppingAbortsTheStreamWithoutAHalfResult)
{
    // Stopped from the sentence callback: no later sentence arrives.
    stream({StreamStep::write(sentence("One.")), StreamStep::pause(50ms), StreamStep::write(sentence("Two.")),
            StreamStep::hold(), StreamStep::write(event(R"({"type":"done","reply":"All."})"))});
    std::stop_source stopper;
    afterSentence = [&](const QString &) { stopper.request_stop(); };
    auto result = chat({{"user", "Hi"}}, stopper.get_token());
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().isCancelled());
    EXPECT_EQ(sentences, QStringList{"One."});

    // Stopped while the server holds the stream: the call ends at once.
    sentences.clear();
    afterSentence = {};
    stream({StreamStep::write(sentence("Before.")), StreamStep::hold(), StreamStep::write(sentence("After."))});
    std::stop_source waiting;
    const auto stopper2 = test::stopWhenHolding(server, waiting);
    result = chat({{"user", "Hi"}}, waiting.get_token());
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().isCancelled());
    EXPECT_TRUE(server.isHolding());
    EXPECT_EQ(sentences, QStringList{"Before."});
    server.release();

    // Stopped before the call: nothing is sent.
    const auto requests = server.requests().size();
    std::stop_source early;
    early.request_stop();
    EXPECT_TRUE(chat({{"user", "Hi"}}, early.get_token()).error().isCancelled());
    EXPECT_EQ(server.requests().size(), requests);
}

TEST_F(ChatStreamTest, theTimeoutIsOnInactivityNotOnTheWholeStream)
{
    options.timeouts.chat = 1000ms; // wide margins: the machine may be busy
    // Four pauses of 400 ms: longer than the timeout in total, never silent for that long.
    stream({StreamStep::write(sentence("A.")), StreamStep::pause(400ms), StreamStep::write(sentence("B.")),
            StreamStep::pause(400ms), StreamStep::write(sentence("C.")), StreamStep::pause(400ms),
            StreamStep::write(sentence("D.")), StreamStep::pause(400ms), StreamStep::write(done)});
    auto result = chat();
    ASSERT_TRUE(result.ok()) << int(result.error().kind());
    EXPECT_EQ(result.value(), "A. B. C. D.");

    // Silent mid-stream for longer than the timeout.
    sentences.clear();
    stream({StreamStep::write(sentence("A.")), StreamStep::pause(3000ms), StreamStep::write(sentence("B."))});
    result = chat();
    EXPECT_EQ(kindOf(result), VisionGatewayError::Kind::connectionFailed);
    EXPECT_EQ(sentences, QStringList{"A."});

    // Silent before the first byte.
    ScriptedResponse late = ScriptedResponse::events({StreamStep::write(sentence("Late."))});
    late.delay = 3000ms;
    server.script("/v1/desktop/chat", late);
    EXPECT_EQ(kindOf(chat()), VisionGatewayError::Kind::connectionFailed);
}

TEST_F(ChatStreamTest, hostileStreamsEndInAClassifiedErrorWithBoundedMemory)
{
    options.maxLineBytes = 64 * 1024;
    options.maxBodyBytes = 1024 * 1024;

    // A line that never ends.
    stream({StreamStep::write(sentence("Fine.") + "data: {\"type\":\"sentence\",\"text\":\""),
            StreamStep::flood(std::string(4096, 'x'))});
    EXPECT_EQ(kindOf(chat()), VisionGatewayError::Kind::invalidResponse);
    EXPECT_EQ(sentences, QStringList{"Fine."});

    // Well-formed events that never end.
    std::string pings;
    for (int i = 0; i < 200; ++i)
        pings += event(R"({"type":"ping"})");
    stream({StreamStep::flood(pings)});
    EXPECT_EQ(kindOf(chat()), VisionGatewayError::Kind::invalidResponse);

    // Invalid UTF-8 inside a sentence is replaced; outside strings the event is dropped.
    sentences.clear();
    stream({StreamStep::write("data: {\"type\":\"sentence\",\"text\":\"Caf\xe9 \xff ok\"}\n"
                              "data: {\"type\":\"sentence\",\xff\"text\":\"x\"}\n" +
                              sentence("Still here.") + done)});
    const auto result = chat();
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(sentences, (QStringList{u"Caf\uFFFD \uFFFD ok"_qs, "Still here."}));
}
