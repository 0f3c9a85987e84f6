#pragma once

#include <QRect>
#include <QString>

#include <functional>
#include <optional>

namespace nimbel::test {

// One named node of an application's accessibility tree.
struct AccessibleNode
{
    QString role;
    QString name;
    QRect extents; // on the screen; empty when the node has no component
};

// The first named node, in tree order, of the accessibility tree of the application
// with this pid that `matches`, read over the accessibility bus the way a screen
// reader reads it (with Qt D-Bus: unlike libatspi, it reports a missing bus
// instead of aborting the process). None while the bus or the application is
// not there yet; `diagnosis` says what was found.
std::optional<AccessibleNode> findAccessible(qint64 pid, const std::function<bool(const AccessibleNode &)> &matches,
                                             QString *diagnosis);

// Performs the first action (press or toggle) of the first control (button,
// check box, radio button) named `name` in that application's tree, as an
// assistive tool does; false when there is none or it did not answer.
bool pressAccessible(qint64 pid, const QString &name, QString *diagnosis);

} // namespace nimbel::test
