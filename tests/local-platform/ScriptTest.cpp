#include "Script.h"
#include "ScriptSource.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace nimbel::localplatform {
namespace {

using json = nlohmann::json;

Script parsed(const char *text)
{
    auto script = parseScript(json::parse(text));
    EXPECT_TRUE(script.ok()) << (script.ok() ? "" : script.error().message);
    return script.ok() ? script.value() : Script{};
}

std::string problem(const char *text)
{
    auto script = parseScript(json::parse(text));
    return script.ok() ? std::string("(accepted)") : script.error().message;
}

TEST(LocalPlatformScript, ReadsEveryPartOfAScript)
{
    const Script script = parsed(R"({
        "agent": {"agent_id": "dsa-test", "agent_name": "Vera", "owner_email": "o@example.org", "greet_en": "Hi!",
                  "skills": {"custom_skill": true, "screen_capture": false}},
        "tokens": ["zelm-a", " zelm-b "],
        "chat": {"pause_ms": 40, "replies": [
            {"match": ["Weather ", "forecast"], "text": "Sunny today. Warm too!", "done_reply": "Sunny."}]},
        "transcription": {"sequence": ["one", "two"]},
        "analyze": {"server_timing": false},
        "faults": {"/v1/desktop/chat": {"status": 503, "body": {"error": "busy"}, "delay_ms": 5, "cut_after": 2,
                                        "pause_after": 1, "pause_ms": 300, "times": 2,
                                        "malformed_event": {"after": 1}, "error_event": {"after": 3, "error": "x"},
                                        "headers": {"Retry-After": "1"}},
                   "/v1/desktop/speech": {"status": 500, "body": "plain words"}}
    })");
    EXPECT_EQ(script.agent.agentID, "dsa-test");
    EXPECT_EQ(script.agent.agentName, "Vera");
    EXPECT_EQ(script.agent.ownerEmail, "o@example.org");
    EXPECT_EQ(script.agent.greetEN, "Hi!");
    EXPECT_FALSE(script.agent.greetRU.has_value());
    // The six known skills keep their order; the script's own come after them.
    ASSERT_EQ(script.agent.skills.size(), 7u);
    EXPECT_EQ(script.agent.skills[0], std::make_pair(std::string("screen_capture"), false));
    EXPECT_EQ(script.agent.skills[5], std::make_pair(std::string("voice_conversation"), true));
    EXPECT_EQ(script.agent.skills[6], std::make_pair(std::string("custom_skill"), true));
    EXPECT_EQ(script.tokens, (std::vector<std::string>{"zelm-a", "zelm-b"}));
    EXPECT_EQ(script.chatPauseMs, 40);
    ASSERT_EQ(script.replies.size(), 1u);
    EXPECT_EQ(script.replies[0].matches, (std::vector<std::string>{"weather", "forecast"}));
    EXPECT_EQ(script.replies[0].sentences, (std::vector<std::string>{"Sunny today.", "Warm too!"}));
    EXPECT_EQ(script.replies[0].doneReply, "Sunny.");
    EXPECT_EQ(script.transcripts, (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(script.serverTiming);

    const Fault &chat = script.faults.at("/v1/desktop/chat");
    EXPECT_EQ(chat.status, 503);
    EXPECT_EQ(json::parse(chat.body), json({{"error", "busy"}}));
    EXPECT_EQ(chat.contentType, "application/json");
    EXPECT_EQ(chat.delayMs, 5);
    EXPECT_EQ(chat.cutAfter, 2);
    EXPECT_EQ(chat.pauseAfter, 1);
    EXPECT_EQ(chat.pauseMs, 300);
    EXPECT_EQ(chat.times, 2);
    ASSERT_TRUE(chat.malformed);
    EXPECT_EQ(chat.malformed->after, 1);
    EXPECT_FALSE(chat.malformed->line.empty());
    ASSERT_TRUE(chat.errorEvent);
    EXPECT_EQ(chat.errorEvent->after, 3);
    EXPECT_EQ(chat.headers, (std::vector<std::pair<std::string, std::string>>{{"Retry-After", "1"}}));
    const Fault &speech = script.faults.at("/v1/desktop/speech");
    EXPECT_EQ(speech.body, "plain words");
    EXPECT_EQ(speech.contentType, "text/plain; charset=utf-8");
    EXPECT_EQ(speech.cutAfter, -1);

    // Nothing scripted: the default agent with every known skill on.
    const Script defaults = parsed("{}");
    EXPECT_EQ(defaults.agent.agentID, "dsa-local-agent");
    EXPECT_EQ(defaults.agent.agentName, "Nimbel");
    ASSERT_EQ(defaults.agent.skills.size(), 6u);
    for (const auto &[name, on] : defaults.agent.skills)
        EXPECT_TRUE(on) << name;
    EXPECT_TRUE(defaults.faults.empty());
    EXPECT_TRUE(defaults.serverTiming);
}

TEST(LocalPlatformScript, RefusesMistakesAndSaysWhere)
{
    EXPECT_EQ(problem(R"({"agnet": {}})"), "script: unknown key \"agnet\"");
    EXPECT_NE(problem(R"({"agent": {"agent_id": "agent-1"}})").find("dsa-"), std::string::npos);
    EXPECT_NE(problem(R"({"agent": {"skills": {"web_research": "yes"}}})").find("agent.skills.web_research"),
              std::string::npos);
    EXPECT_NE(problem(R"({"faults": {"/v1/desktop/chat": {"status": 99}}})").find("faults./v1/desktop/chat.status"),
              std::string::npos);
    EXPECT_NE(problem(R"({"faults": {"/x": {"pause_after": 1}}})").find("go together"), std::string::npos);
    EXPECT_NE(problem(R"({"faults": {"/x": {"delay": 1}}})").find("unknown key \"delay\""), std::string::npos);
    EXPECT_NE(problem(R"({"faults": {"v1/desktop/chat": {}}})").find("endpoint path"), std::string::npos);
    EXPECT_NE(problem(R"({"faults": {"/x": {"malformed_event": {"line": "data: a\ndata: b"}}}})").find("single line"),
              std::string::npos);
    EXPECT_NE(problem(R"({"faults": {"/x": {"times": 0}}})").find("times"), std::string::npos);
    EXPECT_NE(problem(R"({"chat": {"replies": [{"sentences": ["x"]}]}})").find("needs \"match\""), std::string::npos);
    EXPECT_NE(problem(R"({"chat": {"replies": [{"match": "a", "text": "x", "sentences": ["y"]}]}})").find("exactly one"),
              std::string::npos);
    EXPECT_NE(problem(R"({"chat": {"replies": [{"match": "  ", "text": "x"}]}})").find("blank"), std::string::npos);
    EXPECT_NE(problem(R"({"transcription": {"text": "a", "sequence": ["b"]}})").find("either"), std::string::npos);
    EXPECT_NE(problem(R"({"token": ""})").find("blank"), std::string::npos);
    EXPECT_EQ(problem("[]"), "script: must be an object");
}

TEST(LocalPlatformScript, TheDocumentedExampleIsAValidScript)
{
    ScriptSource example{std::filesystem::path(LOCAL_PLATFORM_EXAMPLE_SCRIPT)};
    const auto loaded = example.load();
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
    const auto script = example.current();
    EXPECT_EQ(script->tokens, (std::vector<std::string>{"zelm-local-demo-key"}));
    EXPECT_FALSE(script->replies.empty());
    EXPECT_TRUE(script->faults.contains("/v1/desktop/context/warm"));
}

class ScriptFileFixture : public ::testing::Test
{
protected:
    void write(const std::string &text)
    {
        std::ofstream out(path(), std::ios::trunc);
        out << text;
    }
    std::string path() const { return m_dir.filePath(QStringLiteral("script.json")).toStdString(); }

private:
    QTemporaryDir m_dir;
};

TEST_F(ScriptFileFixture, FollowsTheFileAndKeepsTheLastGoodScript)
{
    write(R"({"agent": {"agent_name": "First"}})");
    ScriptSource source(path());
    ASSERT_TRUE(source.load().ok());
    EXPECT_EQ(source.current()->agent.agentName, "First");

    write(R"({"agent": {"agent_name": "Second"}})");
    EXPECT_EQ(source.current()->agent.agentName, "Second");

    // Same size, different content: still noticed.
    write(R"({"agent": {"agent_name": "Secomd"}})");
    EXPECT_EQ(source.current()->agent.agentName, "Secomd");

    write(R"({"agent": {"agent_name": )");
    EXPECT_EQ(source.current()->agent.agentName, "Secomd");
    write(R"({"agent": {"agent_id": "wrong"}})");
    EXPECT_EQ(source.current()->agent.agentName, "Secomd");

    write("{ not json");
    ScriptSource broken(path());
    const auto loaded = broken.load();
    ASSERT_FALSE(loaded.ok());
    EXPECT_NE(loaded.error().message.find(path()), std::string::npos);

    ScriptSource missing(path() + ".absent");
    EXPECT_FALSE(missing.load().ok());
}

TEST_F(ScriptFileFixture, FaultsAreSpentAfterTheirTimesAndTranscriptsComeInTurn)
{
    write(R"({"faults": {"/a": {"status": 500, "times": 2}, "/b": {"delay_ms": 1}},
              "transcription": {"sequence": ["one", "two"]}})");
    ScriptSource source(path());
    ASSERT_TRUE(source.load().ok());
    EXPECT_TRUE(source.takeFault("/a").has_value());
    EXPECT_TRUE(source.takeFault("/a").has_value());
    EXPECT_FALSE(source.takeFault("/a").has_value());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(source.takeFault("/b").has_value()); // no limit
    EXPECT_FALSE(source.takeFault("/c").has_value());

    EXPECT_EQ(source.nextTranscript(), "one");
    EXPECT_EQ(source.nextTranscript(), "two");
    EXPECT_EQ(source.nextTranscript(), "two");

    // A rewritten script starts counting afresh.
    write(R"({"faults": {"/a": {"status": 500, "times": 1}}, "transcription": {"text": "fixed"}})");
    EXPECT_TRUE(source.takeFault("/a").has_value());
    EXPECT_FALSE(source.takeFault("/a").has_value());
    EXPECT_EQ(source.nextTranscript(), "fixed");
    EXPECT_EQ(source.nextTranscript(), "fixed");

    ScriptSource none;
    EXPECT_FALSE(none.nextTranscript().has_value());
    EXPECT_EQ(none.current()->agent.agentID, "dsa-local-agent");
}

} // namespace
} // namespace nimbel::localplatform
