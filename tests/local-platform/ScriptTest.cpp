#include "Script.h"
#include "ScriptSource.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace nimbel::localplatform {
namespace {

using json = nlohmann::json;

std::string problem(const char *text)
{
    auto script = parseScript(json::parse(text));
    return script.ok() ? std::string("(accepted)") : script.error().message;
}

TEST(LocalPlatformScript, RefusesMistakesAndSaysWhere)
{
    const std::pair<const char *, const char *> cases[] = {
        {R"({"agnet": {}})", "unknown key \"agnet\""},
        {R"({"agent": {"agent_id": "agent-1"}})", "dsa-"},
        {R"({"faults": {"/v1/desktop/chat": {"status": 99}}})", "faults./v1/desktop/chat.status"},
        {R"({"faults": {"/x": {"pause_after": 1}}})", "go together"},
        {R"({"faults": {"/x": {"malformed_event": {"line": "data: a\ndata: b"}}}})", "single line"},
        {R"({"chat": {"replies": [{"sentences": ["x"]}]}})", "needs \"match\""},
        {R"({"token": ""})", "blank"},
    };
    for (const auto &[script, mention] : cases)
        EXPECT_NE(problem(script).find(mention), std::string::npos) << script;
}

TEST(LocalPlatformScript, TheDocumentedExampleIsAValidScript)
{
    ScriptSource example{std::filesystem::path(LOCAL_PLATFORM_EXAMPLE_SCRIPT)};
    const auto loaded = example.load();
    ASSERT_TRUE(loaded.ok()) << loaded.error().message;
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

    ScriptSource none;
    EXPECT_FALSE(none.nextTranscript().has_value());
    EXPECT_EQ(none.current()->agent.agentID, "dsa-local-agent");
}

} // namespace
} // namespace nimbel::localplatform
