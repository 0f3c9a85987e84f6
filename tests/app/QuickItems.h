#pragma once

#include <QQuickItem>

#include <algorithm>

namespace nimbel::test {

// The items of the views under `from` named `name`, list delegates included;
// shown ones first (every message bubble has its own buttons).
inline QList<QQuickItem *> itemsNamed(QQuickItem *from, const QString &name)
{
    QList<QQuickItem *> found;
    for (QQuickItem *child : from->childItems()) {
        if (child->objectName() == name)
            found.append(child);
        found += itemsNamed(child, name);
    }
    std::stable_partition(found.begin(), found.end(), [](QQuickItem *item) { return item->isVisible(); });
    return found;
}

} // namespace nimbel::test
