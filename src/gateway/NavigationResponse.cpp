#include "gateway/NavigationResponse.h"

namespace nimbel {

namespace {

// The rectangle type belongs to the screen subsystem; the gateway reads and
// writes its wire form itself, with the gateway's strict decoding rules.
wire::OrderedJson rectJson(const NormalizedRect &rect)
{
    wire::OrderedJson json = wire::OrderedJson::object();
    json["x"] = rect.x;
    json["y"] = rect.y;
    json["width"] = rect.width;
    json["height"] = rect.height;
    return json;
}

NormalizedRect decodeRect(const wire::Json &json)
{
    const auto &object = wire::requireObject(json);
    return {wire::requiredDouble(object, "x"), wire::requiredDouble(object, "y"), wire::requiredDouble(object, "width"),
            wire::requiredDouble(object, "height")};
}

} // namespace

wire::OrderedJson NavigationStep::toJson() const
{
    wire::OrderedJson json = wire::OrderedJson::object();
    json["instruction"] = wire::toStd(instruction);
    if (targetLabel)
        json["target_label"] = wire::toStd(*targetLabel);
    if (targetRect)
        json["target_rect"] = rectJson(*targetRect);
    return json;
}

std::optional<NavigationResponse> NavigationResponse::decode(QByteArrayView body)
{
    const auto json = wire::parse(body);
    if (!json)
        return std::nullopt;
    try {
        const auto &object = wire::requireObject(*json);
        NavigationResponse response;
        response.summary = wire::requiredString(object, "summary");
        if (const auto *steps = wire::optionalArray(object, "steps")) {
            for (const auto &entry : *steps) {
                const auto &stepObject = wire::requireObject(entry);
                NavigationStep step;
                step.instruction = wire::requiredString(stepObject, "instruction");
                step.targetLabel = wire::optionalString(stepObject, "target_label");
                const auto rect = stepObject.find("target_rect");
                if (rect != stepObject.end() && !rect->is_null())
                    step.targetRect = decodeRect(*rect);
                response.steps.append(std::move(step));
            }
        }
        response.confidence = wire::optionalDouble(object, "confidence").value_or(defaultConfidence);
        response.needsFreshCapture = wire::optionalBool(object, "needs_fresh_capture").value_or(false);
        response.safetyNote = wire::optionalString(object, "safety_note");
        if (const auto *facts = wire::optionalArray(object, "screen_facts")) {
            for (const auto &entry : *facts) {
                if (!entry.is_string())
                    throw wire::DecodeError();
                const QString fact = wire::toQString(entry.get_ref<const std::string &>()).trimmed();
                if (!fact.isEmpty())
                    response.screenFacts.append(fact);
            }
        }
        return response;
    } catch (const wire::DecodeError &) {
        return std::nullopt;
    }
}

wire::OrderedJson NavigationResponse::toJson() const
{
    wire::OrderedJson stepList = wire::OrderedJson::array();
    for (const NavigationStep &step : steps)
        stepList.push_back(step.toJson());
    wire::OrderedJson json = wire::OrderedJson::object();
    json["summary"] = wire::toStd(summary);
    json["steps"] = std::move(stepList);
    json["confidence"] = confidence;
    json["needs_fresh_capture"] = needsFreshCapture;
    if (safetyNote)
        json["safety_note"] = wire::toStd(*safetyNote);
    json["screen_facts"] = wire::stringArray(screenFacts);
    return json;
}

} // namespace nimbel
