#include "gateway/ChatWire.h"
#include "gateway/DesktopConfiguration.h"
#include "gateway/NavigationResponse.h"
#include "gateway/SpeechWire.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(ChatWire, sendsTheLastFourteenMessagesAndTheLanguageOfTheLastUserOne)
{
    QList<DesktopChatMessage> messages;
    for (int i = 1; i <= 15; ++i)
        messages.append({i % 2 ? QStringLiteral("user") : QStringLiteral("assistant"), QStringLiteral("m%1").arg(i)});
    // The bytes reach a real server in the chat stream and end-to-end tests.
    const auto json = chatRequestJson(messages, "dsa-1", "session-9", "voice");
    ASSERT_EQ(json["messages"].size(), 14u);
    EXPECT_EQ(json["messages"][0]["content"], "m2");
    EXPECT_EQ(json["messages"][13]["content"], "m15");

    // The language is that of the last user message.
    const auto lang = [](const QList<DesktopChatMessage> &list) {
        return QString::fromStdString(chatRequestJson(list, "a", "s", "chat")["lang"].get<std::string>());
    };
    EXPECT_EQ(lang({{"user", u"Where is the Save button, ж?"_qs}}), "ru");
    EXPECT_EQ(lang({{"user", u"Где настройки?"_qs}, {"assistant", "Here."}, {"user", "And now?"}}), "en");
    // Only the role "user" exactly.
    EXPECT_EQ(lang({{"User", u"Привет"_qs}, {"user", "hi"}, {"owner", u"Привет"_qs}}), "en");
    // Searched among all the caller's messages, not only the fourteen sent.
    QList<DesktopChatMessage> long_ = {{"user", u"Привет"_qs}};
    for (int i = 0; i < 20; ++i)
        long_.append(DesktopChatMessage{"assistant", "ok"});
    EXPECT_EQ(lang(long_), "ru");
}

TEST(NavigationResponse, decodesStepsFactsUnclampedConfidenceAndDefaults)
{
    const auto response = NavigationResponse::decode(R"({
        "summary": "  Use the File menu. ",
        "steps": [
            {"instruction": "Open File", "target_label": "File", "target_rect": {"x": 0.1, "y": 0.02, "width": 0.05, "height": 1}},
            {"instruction": "Choose Save", "future_key": true}
        ],
        "confidence": 1.7,
        "needs_fresh_capture": true,
        "safety_note": "Nothing destructive.",
        "screen_facts": ["", "   ", "  Save dialog open \n", "Title: Report"],
        "unknown": {"nested": [1]}
    })");
    // The summary as sent; facts trimmed, blank ones dropped; confidence not clamped; unknown keys ignored.
    NavigationResponse expected;
    expected.summary = "  Use the File menu. ";
    expected.steps = {{"Open File", QString("File"), NormalizedRect{0.1, 0.02, 0.05, 1.0}}, {"Choose Save", {}, {}}};
    expected.confidence = 1.7;
    expected.needsFreshCapture = true;
    expected.safetyNote = "Nothing destructive.";
    expected.screenFacts = {"Save dialog open", "Title: Report"};
    EXPECT_EQ(response, expected);

    // Missing keys take their defaults.
    const auto minimal = NavigationResponse::decode(R"({"summary":"s"})");
    ASSERT_TRUE(minimal);
    EXPECT_TRUE(minimal->steps.isEmpty());
    EXPECT_EQ(minimal->confidence, 0.75);
    EXPECT_FALSE(minimal->needsFreshCapture);
}

TEST(NavigationResponse, rejectsMissingRequiredKeysAndWrongTypes)
{
    for (const char *body : {
             R"({})",
             R"({"summary":3})",
             R"({"summary":"s","steps":[{"target_label":"File"}]})",
             R"({"summary":"s","steps":[{"instruction":"x","target_rect":{"x":0,"y":0,"width":1}}]})",
             R"({"summary":"s","confidence":"high"})",
             R"({"summary":"s","screen_facts":["ok",null]})",
             "not json",
             "{\"summary\":\"\xc3\x28\"}",
         })
        EXPECT_FALSE(NavigationResponse::decode(body)) << body;
}

TEST(DesktopConfiguration, decodesTheAnswerAndRejectsWrongShapes)
{
    // Keys it does not know are ignored; optional ones may be null.
    const auto minimal = DesktopConfiguration::decode(R"({"agent_id":"a","agent_name":"b","skills":{},"greet_en":null,"plan":"pro"})");
    ASSERT_TRUE(minimal);
    EXPECT_TRUE(minimal->skills.isEmpty());
    EXPECT_FALSE(minimal->greetEN);

    for (const char *body : {
             R"({"agent_id":"a","agent_name":"b"})",
             R"({"agent_id":"a","agent_name":"b","skills":{"screen_capture":"yes"}})",
             R"({"agent_id":"a","agent_name":"b","skills":{},"greet_ru":5})",
             R"({"agent_id":"a","agent_name":"b","skills":{},"updated_at":1736933400})",
         })
        EXPECT_FALSE(DesktopConfiguration::decode(body)) << body;
}

TEST(SpeechWire, cutsTheSpeechInputAtWholeCharacters)
{
    // 2500 characters, each of two code points; a Cyrillic letter only after the cut.
    QString text;
    for (int i = 0; i < 2499; ++i)
        text += u"e\u0301"_qs;
    text += u"ж"_qs;
    const auto json = speechRequestJson(text, "a", std::nullopt);
    const QString input = QString::fromStdString(json["input"].get<std::string>());
    EXPECT_EQ(input.size(), 4000);
    EXPECT_EQ(input, text.left(4000));
    EXPECT_EQ(json["language"], "ru");
}
