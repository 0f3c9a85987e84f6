#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace nimbel::localplatform {

struct NormalizedRect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

struct NavigationStep
{
    std::string instruction;
    std::optional<std::string> targetLabel;
    std::optional<NormalizedRect> targetRect;
};

struct NavigationAnswer
{
    std::string summary;
    std::vector<NavigationStep> steps;
    double confidence = 0.75;
    bool needsFreshCapture = false;
    std::optional<std::string> safetyNote;
    std::vector<std::string> screenFacts;
};

// The JSON of a navigation answer, keys in wire order, absent optionals left out.
nlohmann::ordered_json toJson(const NavigationAnswer &answer);

// Checks the "payload" part of an analysis upload against its wire form; the message names
// the first offending key.
std::optional<std::string> payloadProblem(const nlohmann::ordered_json &payload);

// Answers the question of a valid payload from its prepared screen context and accessibility
// summary: the control or recognised text the question names (a quoted label first, then the
// best overlap of words) becomes numbered steps pointing at that element's rectangle; when
// nothing matches, the summary says so. Russian when the question has a Cyrillic letter.
NavigationAnswer navigate(const nlohmann::ordered_json &payload);

} // namespace nimbel::localplatform
