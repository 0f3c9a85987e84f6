#include "ScreenNavigator.h"

#include <gtest/gtest.h>

#include <functional>

namespace nimbel::localplatform {
namespace {

using json = nlohmann::ordered_json;

json rect(double x, double y, double w, double h)
{
    return json{{"x", x}, {"y", y}, {"width", w}, {"height", h}};
}

json control(const std::string &label, const std::string &role, const json &box, const std::string &state = "enabled")
{
    json c{{"label", label}, {"role", role}, {"state", state}};
    if (!box.is_null())
        c["target_rect"] = box;
    return c;
}

json payload(const std::string &question, json controls = json::array(), json texts = json::array(),
             json elements = json::array())
{
    json p;
    p["question"] = question;
    p["capture"] = json{{"kind", "window"},       {"logical_width", 1000.0}, {"logical_height", 800.0},
                        {"pixel_width", 2000},    {"pixel_height", 1600},    {"captured_at", "2026-01-02T03:04:05.678Z"}};
    p["accessibility"] = json{{"elements", elements}, {"truncated", false}};
    p["prepared_screen_context"] = json{{"version", 1},           {"capture_id", "2026-01-02T03:04:05.678Z"},
                                        {"screen_summary", "A form."}, {"visible_text", texts},
                                        {"controls", controls},   {"statuses", json::array()}};
    p["agent_id"] = "dsa-x";
    p["established"] = json::array();
    p["conversation"] = json::array({json{{"role", "owner"}, {"text", "hi"}}});
    return p;
}

TEST(LocalPlatformNavigator, AQuotedLabelPointsAtThatControl)
{
    const json controls = json::array({control("Назад", "AXButton", rect(0.05, 0.9, 0.1, 0.05)),
                                       control("Продолжить", "AXButton", rect(0.8, 0.9, 0.12, 0.05))});
    const json p = payload("Где кнопка «Продолжить»?", controls, json::array({"Продолжить установку?"}));
    const NavigationAnswer answer = navigate(p);
    ASSERT_EQ(answer.steps.size(), 2u);
    EXPECT_EQ(answer.steps[0].targetLabel, "Продолжить");
    ASSERT_TRUE(answer.steps[0].targetRect);
    EXPECT_DOUBLE_EQ(answer.steps[0].targetRect->x, 0.8);
    EXPECT_FALSE(answer.needsFreshCapture);
}

TEST(LocalPlatformNavigator, WithoutQuotesTheBestWordOverlapWins)
{
    const json controls = json::array({control("Save", "AXButton", rect(0.1, 0.4, 0.1, 0.05)),
                                       control("Save As…", "AXButton", rect(0.45, 0.45, 0.1, 0.05)),
                                       control("Настройки", "AXLink", rect(0.9, 0.05, 0.08, 0.04))});
    const json texts = json::array({"Save your work before you leave"});
    const NavigationAnswer saveAs = navigate(payload("where is the save as button?", controls, texts));
    EXPECT_EQ(saveAs.steps.at(0).targetLabel, "Save As…");

    // Inflected Russian finds its label by a shared stem.
    const NavigationAnswer settings = navigate(payload("Что поменять в настройках?", controls, texts));
    EXPECT_EQ(settings.steps.at(0).targetLabel, "Настройки");

    // One shared word does not make a long line the target.
    const NavigationAnswer none = navigate(payload("Where do I leave a comment?", controls, texts));
    EXPECT_EQ(none.summary, "I can't see “leave comment” on this screen.");
    EXPECT_FALSE(none.steps.at(0).targetRect.has_value());
}

TEST(LocalPlatformNavigator, RecognisedLinesDisabledControlsAndEmptyScreens)
{
    // A recognised line takes the box of the control that shows it.
    const json controls = json::array({control("Submit", "AXButton", rect(0.4, 0.7, 0.2, 0.06), "disabled")});
    const NavigationAnswer line = navigate(payload("Where is «Submit order»", controls, json::array({"Submit order"})));
    ASSERT_TRUE(line.steps.at(0).targetRect.has_value());
    EXPECT_DOUBLE_EQ(line.steps.at(0).targetRect->y, 0.7);

    const NavigationAnswer disabled = navigate(payload("Where is Submit?", controls));
    ASSERT_TRUE(disabled.safetyNote.has_value());
    EXPECT_NE(disabled.safetyNote->find("disabled"), std::string::npos);

    // Nothing was read from the screen: ask for a fresh capture.
    json empty = payload("Where is Continue?");
    empty.erase("accessibility");
    empty.erase("prepared_screen_context");
    ASSERT_FALSE(payloadProblem(empty).has_value());
    const NavigationAnswer blind = navigate(empty);
    EXPECT_TRUE(blind.needsFreshCapture);
    EXPECT_TRUE(blind.steps.empty());
}

TEST(LocalPlatformNavigator, PayloadProblemsNameTheOffendingKey)
{
    const json good = payload("q", json::array({control("Ok", "AXButton", rect(0, 0, 1, 1))}));
    ASSERT_FALSE(payloadProblem(good).has_value());
    const std::vector<std::pair<std::function<void(json &)>, std::string>> cases = {
        {[](json &p) { p.erase("capture"); }, "\"capture\" is missing"},
        {[](json &p) { p["capture"]["pixel_width"] = 12.5; }, "\"capture.pixel_width\" must be an integer"},
        {[](json &p) { p["capture"]["window_title"] = nullptr; }, "\"capture.window_title\" is null"},
        {[](json &p) { p["prepared_screen_context"]["controls"][0]["target_rect"].erase("height"); },
         "\"prepared_screen_context.controls[0].target_rect.height\""},
        {[](json &p) { p["conversation"][0].erase("text"); }, "\"conversation[0].text\" is missing"},
    };
    for (const auto &[change, mention] : cases) {
        json p = good;
        change(p);
        EXPECT_NE(payloadProblem(p).value_or("(accepted)").find(mention), std::string::npos) << mention;
    }
    EXPECT_TRUE(payloadProblem(json::array()).has_value());
}

} // namespace
} // namespace nimbel::localplatform
