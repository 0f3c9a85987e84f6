#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

typedef struct DBusConnection DBusConnection;

namespace nimbel {

// What decides whether the assistant may read other applications' trees: the
// accessibility bus answers, and toolkit accessibility is switched on (the
// "IsEnabled" status the bus launcher keeps on the session bus, which toolkits
// follow to expose their trees). Every question is a short bounded D-Bus call
// on a private connection, so it may be asked from any thread.
class AccessibilityBusStatus
{
public:
    // `sessionBusAddress` names the session bus to ask; absent means this
    // process's own session.
    explicit AccessibilityBusStatus(std::chrono::milliseconds callTimeout = std::chrono::milliseconds(250),
                                    std::optional<std::string> sessionBusAddress = std::nullopt);

    bool isTrusted() const;

    // The address the bus launcher hands out, absent when no launcher answers.
    std::optional<std::string> busAddress() const;
    // Whether a bus daemon answers at `address`.
    bool busAnswers(const std::string &address) const;
    // The launcher's "IsEnabled", absent when it cannot be read.
    std::optional<bool> isToolkitAccessibilityEnabled() const;
    // Switches toolkit accessibility on; true when the launcher accepted it.
    bool enableToolkitAccessibility() const;

    struct ConnectionCloser
    {
        void operator()(DBusConnection *connection) const;
    };
    using PrivateConnection = std::unique_ptr<DBusConnection, ConnectionCloser>;

private:
    PrivateConnection sessionBus() const;

    int m_timeoutMs;
    std::optional<std::string> m_sessionBusAddress;
};

} // namespace nimbel
