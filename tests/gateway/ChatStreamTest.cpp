// The streamed chat against a real server: live sentences, event rules, errors, cancellation, stalls.

#include "gateway/GatewayTestSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <variant>

using namespace nimbel;
using test::ScriptedResponse;
using test::StreamStep;
using namespace std::chrono_literals;

namespace {

using E = VisionGatewayError;

std::string event(const std::string &json)
{
    return "data: " + json + "\n\n";
}

std::string sentence(const std::string &text)
{
    return event(R"({"type":"sentence","text":")" + text + "\"}");
}

const std::string done = event(R"({"type":"done"})");

// Streamed in chunks, step by step.
constexpr auto chunked = &ScriptedResponse::events;

// The whole body at once, with its length: its end is certain.
ScriptedResponse whole(std::string events)
{
    ScriptedResponse response = ScriptedResponse::json(200, std::move(events));
    response.contentType = "text/event-stream";
    return response;
}

class ChatStreamTest : public test::GatewayTest
{
protected:
    Result<QString, GatewayFailure> chat(std::stop_token stop = {})
    {
        const auto onSentence = [this](const QString &text) {
            sentences.append(text);
            if (afterSentence)
                afterSentence(text);
        };
        return test::finish(client().streamChat({{"user", "What is new?"}}, server.baseURL(), "zelm-key", "dsa-1", "session",
                                                "voice", onSentence, stop));
    }

    QStringList sentences;
    std::function<void(const QString &)> afterSentence;
};

} // namespace

TEST_F(ChatStreamTest, eachStreamEndsInItsReplyOrAClassifiedErrorAfterTheSentencesBeforeIt)
{
    options.timeouts.chat = 1000ms; // wide margins below: the machine may be busy
    options.maxLineBytes = 64 * 1024;
    ScriptedResponse streamedError = chunked(
        {StreamStep::write(R"({"error":{"message":)"), StreamStep::pause(20ms), StreamStep::write(R"("Agent paused"}})")});
    streamedError.status = 403;

    struct Row
    {
        const char *name;
        ScriptedResponse response;
        QStringList sentences;
        std::variant<QString, E> outcome; // the reply, or the error
    };
    const std::vector<Row> rows = {
        {"sentences are trimmed, empty ones skipped",
         whole(sentence("One.") + sentence("   Two, padded.  ") + sentence("") + sentence("  ")), {"One.", "Two, padded."},
         "One. Two, padded."},
        // Over plain http a chunked body's end could be a lost connection; only "done" tells them apart.
        {"chunked without done", chunked({StreamStep::write(sentence("One.")), StreamStep::write(sentence("Two."))}),
         {"One.", "Two."}, E::connectionFailed()},
        {"cut in the middle of a line",
         chunked({StreamStep::write(sentence("One.")), StreamStep::pause(20ms), StreamStep::write("data: {\"type\":\"sen"),
                  StreamStep::cut()}),
         {"One."}, E::connectionFailed()},
        {"the done reply wins",
         chunked({StreamStep::write(sentence("Partial.") + event(R"({"type":"done","reply":"  The full reply.  "})"))}),
         {"Partial."}, "The full reply."},
        {"neither reply nor sentence",
         chunked({StreamStep::write(": nothing here\n\ndata: [DONE]\n\n" + event(R"({"type":"done","reply":""})"))}), {},
         E::invalidResponse()},
        {"line and event rules",
         chunked({StreamStep::write(": comment\r\nevent: sentence\r\nid: 1\r\n"
                                    "data:{\"type\":\"sentence\",\"text\":\"No space.\",\"extra\":[1,2],\"reply\":null}\r\n\r\n"
                                    " data: {\"type\":\"sentence\",\"text\":\"Indented, ignored.\"}\n"
                                    "data: [DONE]\n"
                                    "data: {\"type\":\"sentence\",\"text\":\"After DONE.\"}\r"
                                    "data: {\"type\":\"sentence\",\"text\":5}\n"
                                    "data: {\"type\":\"done\",\"reply\":{\"text\":\"Not a string.\"}}\n"
                                    "data: {not json}\n"
                                    "data: {\"type\":\"sentence\",\"text\":\"Split "),
                  StreamStep::pause(30ms), StreamStep::write("across reads.\"}\r"), StreamStep::pause(30ms),
                  StreamStep::write("\n" + done)}),
         {"No space.", "After DONE.", "Split across reads."}, "No space. After DONE. Split across reads."},
        {"the end of the body ends the last line", whole("data: {\"type\":\"sentence\",\"text\":\"Last, unterminated.\"}"),
         {"Last, unterminated."}, "Last, unterminated."},
        {"an error event",
         chunked({StreamStep::write(sentence("One.") + sentence("Two.") +
                                    event(R"({"type":"error","error":"  Model overloaded "})") + sentence("Never."))}),
         {"One.", "Two."}, E::agentUnavailable("Model overloaded")},
        {"a failed status delivers nothing", ScriptedResponse::json(502, "{\"error\":\"Upstream agent crashed\"}\n" + sentence("Not a sentence.")),
         {}, E::server(502, "Request failed")},
        {"a streamed error body is read to its end", streamedError, {}, E::server(403, "Agent paused")},
        {"a line that never ends",
         chunked({StreamStep::write(sentence("Fine.") + "data: {\"type\":\"sentence\",\"text\":\""),
                  StreamStep::flood(std::string(4096, 'x'))}),
         {"Fine."}, E::invalidResponse()},
        // Invalid UTF-8 inside a sentence is replaced; outside strings the event is dropped.
        {"invalid UTF-8",
         chunked({StreamStep::write("data: {\"type\":\"sentence\",\"text\":\"Caf\xe9 \xff ok\"}\n"
                                    "data: {\"type\":\"sentence\",\xff\"text\":\"x\"}\n" + sentence("Still here.") + done)}),
         {u"Caf\uFFFD \uFFFD ok"_qs, "Still here."}, u"Caf\uFFFD \uFFFD ok Still here."_qs},
        // The timeout is on inactivity: longer than it in total, but never silent for that long.
        {"slow but steady",
         chunked({StreamStep::write(sentence("A.")), StreamStep::pause(400ms), StreamStep::write(sentence("B.")),
                  StreamStep::pause(400ms), StreamStep::write(sentence("C.")), StreamStep::pause(400ms),
                  StreamStep::write(sentence("D.")), StreamStep::pause(400ms), StreamStep::write(done)}),
         {"A.", "B.", "C.", "D."}, "A. B. C. D."},
        {"silent mid-stream",
         chunked({StreamStep::write(sentence("A.")), StreamStep::pause(3000ms), StreamStep::write(sentence("B."))}), {"A."},
         E::connectionFailed()},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sentences.clear();
        server.script("/v1/desktop/chat", row.response);
        const auto result = chat();
        EXPECT_EQ(sentences, row.sentences);
        if (const auto *reply = std::get_if<QString>(&row.outcome))
            EXPECT_EQ(result.ok() ? result.value() : QStringLiteral("failure %1").arg(int(result.error().kind())), *reply);
        else
            EXPECT_EQ(test::gatewayError(result), std::get<E>(row.outcome));
    }
}

TEST_F(ChatStreamTest, stoppingAbortsTheStreamWithoutAHalfResult)
{
    // Stopped from the sentence callback: no later sentence arrives.
    server.script("/v1/desktop/chat",
                  chunked({StreamStep::write(sentence("One.")), StreamStep::pause(50ms), StreamStep::write(sentence("Two.")),
                           StreamStep::hold(), StreamStep::write(event(R"({"type":"done","reply":"All."})"))}));
    std::stop_source stopper;
    afterSentence = [&](const QString &) { stopper.request_stop(); };
    EXPECT_TRUE(test::failureOf(chat(stopper.get_token())).isCancelled());
    EXPECT_EQ(sentences, QStringList{"One."});

    // A sentence is handed on while the stream is still open; stopped from the event
    // loop while the server holds the stream, the call ends at once.
    sentences.clear();
    server.script("/v1/desktop/chat",
                  chunked({StreamStep::write(sentence("Before.")), StreamStep::hold(), StreamStep::write(sentence("After."))}));
    std::stop_source waiting;
    bool handedOnWhileOpen = false;
    afterSentence = [&](const QString &) {
        handedOnWhileOpen = server.isHolding();
        QTimer::singleShot(0, [&] { waiting.request_stop(); });
    };
    EXPECT_TRUE(test::failureOf(chat(waiting.get_token())).isCancelled());
    EXPECT_TRUE(handedOnWhileOpen);
    EXPECT_TRUE(server.isHolding());
    EXPECT_EQ(sentences, QStringList{"Before."});
    server.release();
}
