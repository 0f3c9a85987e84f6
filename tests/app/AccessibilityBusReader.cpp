#include "AccessibilityBusReader.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace nimbel::test {

namespace {

// A node of the accessibility tree as the bus names it: the owning connection and its path.
struct AtspiReference
{
    QString service;
    QDBusObjectPath path;
};

QDBusMessage accessibleCall(const QDBusConnection &bus, const AtspiReference &node, const QString &interface,
                            const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(node.service, node.path.path(), interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, 3000);
}

QList<AtspiReference> childrenOf(const QDBusConnection &bus, const AtspiReference &node)
{
    QList<AtspiReference> children;
    const QDBusMessage reply = accessibleCall(bus, node, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return children;
    const QDBusArgument list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        AtspiReference child;
        list.beginStructure();
        list >> child.service >> child.path;
        list.endStructure();
        children.append(child);
    }
    list.endArray();
    return children;
}

// Visits the named nodes of the application with this pid, in tree order,
// until `visit` answers true; whether it did.
bool visitNodes(qint64 pid, QString *diagnosis,
                const std::function<bool(const QDBusConnection &, const AtspiReference &, const AccessibleNode &)> &visit)
{
    const QDBusMessage address = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
        QDBus::Block, 3000);
    if (address.type() != QDBusMessage::ReplyMessage || address.arguments().isEmpty()) {
        *diagnosis = QStringLiteral("no accessibility bus: ") + address.errorMessage();
        return false;
    }
    static int attempt = 0;
    const QString connectionName = QStringLiteral("test-accessibility-reader-%1").arg(++attempt);
    bool stopped = false;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address.arguments().constFirst().toString(), connectionName);
        *diagnosis = QStringLiteral("accessibility bus %1: %2")
                         .arg(address.arguments().constFirst().toString(),
                              bus.isConnected() ? QStringLiteral("connected") : bus.lastError().message());
        if (bus.isConnected()) {
            const AtspiReference desktop{QStringLiteral("org.a11y.atspi.Registry"),
                                         QDBusObjectPath(QStringLiteral("/org/a11y/atspi/accessible/root"))};
            std::function<void(const AtspiReference &, int)> walk = [&](const AtspiReference &node, int depth) {
                const QDBusMessage name = accessibleCall(
                    bus, node, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                    {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
                const QDBusMessage role = accessibleCall(bus, node, QStringLiteral("org.a11y.atspi.Accessible"),
                                                         QStringLiteral("GetRoleName"));
                const QString text = name.arguments().value(0).value<QDBusVariant>().variant().toString();
                if (!text.isEmpty()) {
                    const QDBusMessage box = accessibleCall(bus, node, QStringLiteral("org.a11y.atspi.Component"),
                                                            QStringLiteral("GetExtents"), {QVariant::fromValue(0u)});
                    int x = 0, y = 0, width = 0, height = 0;
                    if (box.type() == QDBusMessage::ReplyMessage && !box.arguments().isEmpty()) {
                        const QDBusArgument argument = box.arguments().constFirst().value<QDBusArgument>();
                        argument.beginStructure();
                        argument >> x >> y >> width >> height;
                        argument.endStructure();
                    }
                    const QRect extents(x, y, width, height);
                    if (visit(bus, node, {role.arguments().value(0).toString(), text, extents}))
                        stopped = true;
                }
                for (const AtspiReference &child : depth < 60 ? childrenOf(bus, node) : QList<AtspiReference>())
                    if (!stopped)
                        walk(child, depth + 1);
            };
            for (const AtspiReference &application : childrenOf(bus, desktop)) {
                const quint64 owner = bus.interface()->servicePid(application.service).value();
                *diagnosis += QStringLiteral("; application %1 pid %2").arg(application.service).arg(owner);
                if (owner == quint64(pid) && !stopped)
                    walk(application, 0);
            }
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return stopped;
}

} // namespace

std::optional<AccessibleNode> findAccessible(qint64 pid, const std::function<bool(const AccessibleNode &)> &matches,
                                             QString *diagnosis)
{
    std::optional<AccessibleNode> found;
    visitNodes(pid, diagnosis, [&](const QDBusConnection &, const AtspiReference &, const AccessibleNode &node) {
        *diagnosis += QStringLiteral("\n%1: %2").arg(node.role, node.name);
        if (matches(node))
            found = node;
        return found.has_value();
    });
    return found;
}

bool pressAccessible(qint64 pid, const QString &name, QString *diagnosis)
{
    bool pressed = false;
    visitNodes(pid, diagnosis, [&](const QDBusConnection &bus, const AtspiReference &reference, const AccessibleNode &node) {
        static const QStringList controls{QStringLiteral("push button"), QStringLiteral("check box"),
                                          QStringLiteral("radio button"), QStringLiteral("toggle button")};
        // A label of the same name is passed over: the control follows it.
        if (node.name != name || !controls.contains(node.role))
            return false;
        const QDBusMessage reply =
            accessibleCall(bus, reference, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"), {0});
        *diagnosis += QStringLiteral("; %1 \"%2\": %3").arg(node.role, node.name, reply.errorMessage());
        pressed = reply.type() == QDBusMessage::ReplyMessage;
        return true;
    });
    return pressed;
}

} // namespace nimbel::test
