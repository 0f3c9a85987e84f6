#include "gateway/DesktopConfiguration.h"

namespace nimbel {

std::optional<DesktopConfiguration> DesktopConfiguration::decode(QByteArrayView body)
{
    const auto json = wire::parse(body);
    if (!json)
        return std::nullopt;
    try {
        const auto &object = wire::requireObject(*json);
        DesktopConfiguration configuration;
        configuration.agentID = wire::requiredString(object, "agent_id");
        configuration.agentName = wire::requiredString(object, "agent_name");
        configuration.ownerEmail = wire::optionalString(object, "owner_email");
        configuration.addressAs = wire::optionalString(object, "address_as");
        configuration.greetRU = wire::optionalString(object, "greet_ru");
        configuration.greetEN = wire::optionalString(object, "greet_en");
        const auto skills = object.find("skills");
        if (skills == object.end() || !skills->is_object())
            return std::nullopt;
        for (auto it = skills->begin(); it != skills->end(); ++it) {
            if (!it.value().is_boolean())
                return std::nullopt;
            configuration.skills.insert(wire::toQString(it.key()), it.value().get<bool>());
        }
        configuration.updatedAt = wire::optionalString(object, "updated_at");
        return configuration;
    } catch (const wire::DecodeError &) {
        return std::nullopt;
    }
}

std::optional<DesktopPairingConfiguration> DesktopPairingConfiguration::decode(QByteArrayView body)
{
    const auto json = wire::parse(body);
    if (!json)
        return std::nullopt;
    try {
        const auto &object = wire::requireObject(*json);
        return DesktopPairingConfiguration{wire::requiredString(object, "platform_url"),
                                           wire::requiredString(object, "token"),
                                           wire::requiredString(object, "agent_id"),
                                           wire::requiredString(object, "agent_name")};
    } catch (const wire::DecodeError &) {
        return std::nullopt;
    }
}

wire::OrderedJson pairingExchangeJson(const QString &code)
{
    wire::OrderedJson json = wire::OrderedJson::object();
    json["code"] = wire::toStd(code);
    return json;
}

} // namespace nimbel
