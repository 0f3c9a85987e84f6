#include "screen/AccessibilityContext.h"

#include <array>

namespace nimbel {

namespace {

std::string utf8(const QString &text)
{
    return text.toStdString();
}

} // namespace

nlohmann::ordered_json AccessibilityElementSummary::toJson() const
{
    nlohmann::ordered_json json;
    json["role"] = utf8(role);
    if (label)
        json["label"] = utf8(*label);
    if (enabled)
        json["enabled"] = *enabled;
    return json;
}

nlohmann::ordered_json AccessibilityContext::toJson() const
{
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    if (applicationName)
        json["application_name"] = utf8(*applicationName);
    if (bundleIdentifier)
        json["bundle_identifier"] = utf8(*bundleIdentifier);
    if (focusedWindowTitle)
        json["focused_window_title"] = utf8(*focusedWindowTitle);
    if (pageURL)
        json["page_url"] = utf8(*pageURL);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const AccessibilityElementSummary &element : elements)
        list.push_back(element.toJson());
    json["elements"] = std::move(list);
    json["truncated"] = truncated;
    return json;
}

bool isIncludedAccessibilityRole(QStringView role)
{
    static constexpr std::array<std::u16string_view, 15> included{
        u"AXButton",      u"AXCheckBox",   u"AXComboBox",    u"AXDisclosureTriangle", u"AXHeading",
        u"AXLink",        u"AXMenuButton", u"AXMenuItem",    u"AXPopUpButton",        u"AXRadioButton",
        u"AXSearchField", u"AXSlider",     u"AXStaticText",  u"AXTabGroup",           u"AXTextField",
    };
    for (std::u16string_view candidate : included) {
        if (role == QStringView(candidate.data(), qsizetype(candidate.size())))
            return true;
    }
    return false;
}

} // namespace nimbel
