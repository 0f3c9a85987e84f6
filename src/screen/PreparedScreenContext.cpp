#include "screen/PreparedScreenContext.h"

namespace nimbel {

namespace {

std::string utf8(const QString &text)
{
    return text.toStdString();
}

QString fromUtf8(const nlohmann::ordered_json &value)
{
    return QString::fromStdString(value.get<std::string>());
}

std::optional<QString> optionalString(const nlohmann::ordered_json &json, const char *key)
{
    const auto found = json.find(key);
    if (found == json.end() || found->is_null())
        return std::nullopt;
    return fromUtf8(*found);
}

nlohmann::ordered_json stringArray(const QStringList &lines)
{
    auto array = nlohmann::ordered_json::array();
    for (const QString &line : lines)
        array.push_back(utf8(line));
    return array;
}

QStringList stringList(const nlohmann::ordered_json &array)
{
    QStringList lines;
    for (const auto &item : array)
        lines.append(fromUtf8(item));
    return lines;
}

} // namespace

nlohmann::ordered_json PreparedScreenControl::toJson() const
{
    nlohmann::ordered_json json;
    json["label"] = utf8(label);
    if (role)
        json["role"] = utf8(*role);
    if (state)
        json["state"] = utf8(*state);
    if (targetRect)
        json["target_rect"] = targetRect->toJson();
    return json;
}

PreparedScreenControl PreparedScreenControl::fromJson(const nlohmann::ordered_json &json)
{
    PreparedScreenControl control;
    control.label = fromUtf8(json.at("label"));
    control.role = optionalString(json, "role");
    control.state = optionalString(json, "state");
    if (const auto rect = json.find("target_rect"); rect != json.end() && !rect->is_null())
        control.targetRect = NormalizedRect::fromJson(*rect);
    return control;
}

nlohmann::ordered_json PreparedScreenContext::toJson() const
{
    nlohmann::ordered_json json;
    json["version"] = version;
    json["capture_id"] = utf8(captureID);
    if (product)
        json["product"] = utf8(*product);
    if (page)
        json["page"] = utf8(*page);
    json["screen_summary"] = utf8(screenSummary);
    json["visible_text"] = stringArray(visibleText);
    auto controlArray = nlohmann::ordered_json::array();
    for (const PreparedScreenControl &control : controls)
        controlArray.push_back(control.toJson());
    json["controls"] = std::move(controlArray);
    json["statuses"] = stringArray(statuses);
    return json;
}

PreparedScreenContext PreparedScreenContext::fromJson(const nlohmann::ordered_json &json)
{
    PreparedScreenContext context;
    context.version = json.at("version").get<int>();
    context.captureID = fromUtf8(json.at("capture_id"));
    context.product = optionalString(json, "product");
    context.page = optionalString(json, "page");
    context.screenSummary = fromUtf8(json.at("screen_summary"));
    context.visibleText = stringList(json.at("visible_text"));
    for (const auto &item : json.at("controls"))
        context.controls.push_back(PreparedScreenControl::fromJson(item));
    context.statuses = stringList(json.at("statuses"));
    return context;
}

} // namespace nimbel
