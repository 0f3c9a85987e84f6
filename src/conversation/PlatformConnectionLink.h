#pragma once

#include <QString>
#include <QUrl>

#include <optional>
#include <variant>

namespace nimbel {

// A "zelmdesktop://connect?…" link from the platform's console: either a
// one-time pairing code to exchange, or a key and agent to use directly.
// Links come from outside (any web page can open one), so parsing refuses
// anything it does not fully understand.
struct PlatformConnectionLink
{
    struct Pairing
    {
        QString code;
        bool operator==(const Pairing &) const = default;
    };
    struct Direct
    {
        QString token;
        QString agentID;
        QString agentName;
        bool operator==(const Direct &) const = default;
    };

    // The platform's base address without leading or trailing "/".
    QString platformURL;
    std::variant<Pairing, Direct> connection;

    // Longer links are refused unread; real ones are a few hundred characters.
    static constexpr qsizetype maxLinkLength = 8192;

    // Nullopt for anything that is not an acceptable connection link.
    static std::optional<PlatformConnectionLink> parse(const QUrl &url);

    bool isPairing() const { return std::holds_alternative<Pairing>(connection); }

    bool operator==(const PlatformConnectionLink &) const = default;
};

namespace platformAddress {

// `text` without any leading or trailing "/".
QString withoutEdgeSlashes(QString text);

// A platform base address the assistant may talk to: http or https with a
// host, plain http only on this machine (127.0.0.1, localhost).
bool isAcceptable(const QUrl &url);

// Scheme, host and port (default ports filled in) agree. An address that
// does not parse has no origin and matches nothing.
bool sameOrigin(const QString &a, const QString &b);

// The host an owner recognises, with the port when it is not the default.
QString displayHost(const QString &address);

} // namespace platformAddress
} // namespace nimbel
