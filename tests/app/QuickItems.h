#pragma once

#include <QCoreApplication>
#include <QQuickItem>
#include <QQuickWindow>

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

// Runs pending events and renders one frame of `window`, so views lay
// themselves out (list delegates are made during the frame's polish).
inline void settle(QQuickWindow *window)
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    window->grabWindow();
    QCoreApplication::processEvents();
}

} // namespace nimbel::test
