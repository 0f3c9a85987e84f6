#pragma once

#include "gateway/WireJson.h"

#include <QByteArrayView>
#include <QMap>
#include <QString>

#include <optional>

namespace nimbel {

// The connected agent's configuration ("/v1/desktop/config").
struct DesktopConfiguration
{
    QString agentID;
    QString agentName;
    std::optional<QString> ownerEmail;
    std::optional<QString> addressAs;
    std::optional<QString> greetRU;
    std::optional<QString> greetEN;
    // Skill name -> switched on. Names the rest of the system reads:
    // "screen_capture", "screen_understanding", "people_on_screen",
    // "navigation_guidance", "web_research", "voice_conversation".
    QMap<QString, bool> skills;
    std::optional<QString> updatedAt;

    // Nullopt when "agent_id", "agent_name" or "skills" is missing, or any
    // known key holds a value of the wrong type (every skill must be a Boolean).
    static std::optional<DesktopConfiguration> decode(QByteArrayView body);

    bool operator==(const DesktopConfiguration &) const = default;
};

// The answer of the pairing exchange.
struct DesktopPairingConfiguration
{
    QString platformURL;
    QString token;
    QString agentID;
    QString agentName;

    // Nullopt unless all four strings are present.
    static std::optional<DesktopPairingConfiguration> decode(QByteArrayView body);

    bool operator==(const DesktopPairingConfiguration &) const = default;
};

// Body of "/desktop-connect/exchange": {"code": code}.
wire::OrderedJson pairingExchangeJson(const QString &code);

} // namespace nimbel
