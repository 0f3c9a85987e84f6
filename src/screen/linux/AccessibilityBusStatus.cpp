#include "screen/linux/AccessibilityBusStatus.h"

#include <dbus/dbus.h>

#include <memory>

namespace nimbel {

void AccessibilityBusStatus::ConnectionCloser::operator()(DBusConnection *connection) const
{
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
}

namespace {

using PrivateConnection = AccessibilityBusStatus::PrivateConnection;

constexpr const char *launcherService = "org.a11y.Bus";
constexpr const char *launcherPath = "/org/a11y/bus";
constexpr const char *statusInterface = "org.a11y.Status";
constexpr const char *propertiesInterface = "org.freedesktop.DBus.Properties";

struct MessageUnref
{
    void operator()(DBusMessage *message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

class Error
{
public:
    Error() { dbus_error_init(&m_error); }
    ~Error() { dbus_error_free(&m_error); }
    Error(const Error &) = delete;
    Error &operator=(const Error &) = delete;
    DBusError *get() { return &m_error; }

private:
    DBusError m_error;
};

Message call(DBusConnection *connection, DBusMessage *request, int timeoutMs)
{
    Error error;
    return Message(dbus_connection_send_with_reply_and_block(connection, request, timeoutMs, error.get()));
}

// A connection of our own, so that closing it never disturbs anyone else's
// and a vanished bus never ends the process.
PrivateConnection openBus(const std::string &address, int timeoutMs)
{
    Error error;
    DBusConnection *raw = dbus_connection_open_private(address.c_str(), error.get());
    if (!raw)
        return {};
    dbus_connection_set_exit_on_disconnect(raw, FALSE);
    PrivateConnection bus(raw);
    const Message hello(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
    if (!hello)
        return {};
    const Message reply = call(bus.get(), hello.get(), timeoutMs);
    if (!reply || dbus_message_get_type(reply.get()) != DBUS_MESSAGE_TYPE_METHOD_RETURN)
        return {};
    return bus;
}

} // namespace

AccessibilityBusStatus::AccessibilityBusStatus(std::chrono::milliseconds callTimeout,
                                               std::optional<std::string> sessionBusAddress)
    : m_timeoutMs(int(callTimeout.count()))
    , m_sessionBusAddress(std::move(sessionBusAddress))
{
}

PrivateConnection AccessibilityBusStatus::sessionBus() const
{
    if (m_sessionBusAddress)
        return openBus(*m_sessionBusAddress, m_timeoutMs);
    Error error;
    DBusConnection *connection = dbus_bus_get_private(DBUS_BUS_SESSION, error.get());
    if (!connection)
        return {};
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    return PrivateConnection(connection);
}

bool AccessibilityBusStatus::isTrusted() const
{
    if (isToolkitAccessibilityEnabled() != true)
        return false;
    const auto address = busAddress();
    return address && busAnswers(*address);
}

std::optional<std::string> AccessibilityBusStatus::busAddress() const
{
    const PrivateConnection session = sessionBus();
    if (!session)
        return std::nullopt;
    const Message request(dbus_message_new_method_call(launcherService, launcherPath, "org.a11y.Bus", "GetAddress"));
    if (!request)
        return std::nullopt;
    const Message reply = call(session.get(), request.get(), m_timeoutMs);
    const char *address = nullptr;
    if (!reply || !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &address, DBUS_TYPE_INVALID)
        || !address || !*address)
        return std::nullopt;
    return std::string(address);
}

bool AccessibilityBusStatus::busAnswers(const std::string &address) const
{
    return bool(openBus(address, m_timeoutMs));
}

std::optional<bool> AccessibilityBusStatus::isToolkitAccessibilityEnabled() const
{
    const PrivateConnection session = sessionBus();
    if (!session)
        return std::nullopt;
    const Message request(dbus_message_new_method_call(launcherService, launcherPath, propertiesInterface, "Get"));
    if (!request)
        return std::nullopt;
    const char *interface = statusInterface;
    const char *property = "IsEnabled";
    dbus_message_append_args(request.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                             DBUS_TYPE_INVALID);
    const Message reply = call(session.get(), request.get(), m_timeoutMs);
    if (!reply)
        return std::nullopt;
    DBusMessageIter iter;
    DBusMessageIter variant;
    if (!dbus_message_iter_init(reply.get(), &iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT)
        return std::nullopt;
    dbus_message_iter_recurse(&iter, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_BOOLEAN)
        return std::nullopt;
    dbus_bool_t value = FALSE;
    dbus_message_iter_get_basic(&variant, &value);
    return value != FALSE;
}

bool AccessibilityBusStatus::enableToolkitAccessibility() const
{
    const PrivateConnection session = sessionBus();
    if (!session)
        return false;
    const Message request(dbus_message_new_method_call(launcherService, launcherPath, propertiesInterface, "Set"));
    if (!request)
        return false;
    DBusMessageIter iter;
    DBusMessageIter variant;
    const char *interface = statusInterface;
    const char *property = "IsEnabled";
    const dbus_bool_t on = TRUE;
    dbus_message_iter_init_append(request.get(), &iter);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &interface);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &property);
    dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, DBUS_TYPE_BOOLEAN_AS_STRING, &variant);
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &on);
    dbus_message_iter_close_container(&iter, &variant);
    const Message reply = call(session.get(), request.get(), m_timeoutMs);
    return reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

} // namespace nimbel
