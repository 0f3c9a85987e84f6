#include "ChatResponder.h"

#include <gtest/gtest.h>

namespace nimbel::localplatform {
namespace {

using Sentences = std::vector<std::string>;

Script defaultScript()
{
    return parseScript(nlohmann::json::object()).value();
}

TEST(LocalPlatformChat, ScriptedRepliesMatchTheQuestionIgnoringCase)
{
    // Latin letters over HTTP in the server test; Cyrillic is case-folded as well, a reply's
    // text is cut into sentences, and done_reply replaces the joined sentences.
    const Script script = parseScript(nlohmann::json::parse(R"({"chat": {"replies": [
        {"match": ["ПОГОДА", "forecast"], "text": "Солнечно. Тепло!", "done_reply": "Солнечно и тепло."}]}})"))
                              .value();
    const ChatReply russian = composeReply({{"user", "Какая погода?"}}, script, "ru");
    EXPECT_EQ(russian.sentences, (Sentences{"Солнечно.", "Тепло!"}));
    EXPECT_EQ(russian.doneReply, "Солнечно и тепло.");
    EXPECT_TRUE(russian.russian);
}

TEST(LocalPlatformChat, TheAnalysisAttachedToTheQuestionBecomesTheAnswer)
{
    const std::vector<ChatTurn> conversation{
        {"user", "Where is Continue?"},
        {"user",
         "[ANALYST]\nI can see the button “Continue” in the bottom right of the window. It is blue.\n"
         "1. Find the button “Continue” in the bottom right of the window. (Continue)\n"
         "2. Click “Continue” (Continue)\nWarning: It submits the form"},
        {"user", "[SCREEN]\nThe button “Continue” is in the bottom right of the window."},
    };
    const ChatReply reply = composeReply(conversation, defaultScript(), "en");
    EXPECT_EQ(reply.sentences,
              (Sentences{"I can see the button “Continue” in the bottom right of the window.", "It is blue.",
                         "Step 1: Find the button “Continue” in the bottom right of the window.",
                         "Step 2: Click “Continue”.", "Warning: It submits the form."}));

    // An analysis of an earlier question is not reused.
    const ChatReply stale = composeReply({conversation[0], conversation[1], {"assistant", "Done."}, {"user", "Tell me a joke"}},
                                         defaultScript(), "en");
    EXPECT_EQ(stale.sentences.front(), "You asked: “Tell me a joke”.");
}

} // namespace
} // namespace nimbel::localplatform
