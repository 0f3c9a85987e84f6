#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>

namespace nimbel {

// One visible control or text item of the application the owner asks about.
struct AccessibilityElementSummary
{
    QString role; // "AXButton", "AXStaticText", ...
    std::optional<QString> label;
    std::optional<bool> enabled;

    bool operator==(const AccessibilityElementSummary &) const = default;

    // Keys "role", "label", "enabled" in this order; absent values are left out.
    nlohmann::ordered_json toJson() const;
};

// The bounded summary of the frontmost application's focused window.
struct AccessibilityContext
{
    std::optional<QString> applicationName;
    std::optional<QString> bundleIdentifier;
    std::optional<QString> focusedWindowTitle;
    std::optional<QString> pageURL;
    QList<AccessibilityElementSummary> elements; // walk order, at most `AccessibilityLimits::elements`
    bool truncated = false;                      // a limit cut the walk short

    bool operator==(const AccessibilityContext &) const = default;

    // "application_name", "bundle_identifier", "focused_window_title",
    // "page_url", "elements", "truncated": the optional strings are left out
    // when absent, the last two are always written.
    nlohmann::ordered_json toJson() const;
};

// The bounds of one walk over another application's tree.
namespace AccessibilityLimits {
inline constexpr std::chrono::milliseconds callTimeout{80};
inline constexpr std::chrono::milliseconds walkBudget{650};
inline constexpr int deepestLevel = 10; // the root is level 0
inline constexpr int elements = 80;
inline constexpr int labelLength = 240;
inline constexpr int pageAddressLength = 2000;
} // namespace AccessibilityLimits

// The roles that are summarised; every other role is walked through but not listed.
bool isIncludedAccessibilityRole(QStringView role);

} // namespace nimbel
