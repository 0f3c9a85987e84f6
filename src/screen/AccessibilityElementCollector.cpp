#include "screen/AccessibilityElementCollector.h"

#include "screen/ScreenTextRules.h"

namespace nimbel {

bool AccessibilityElementCollector::add(const QString &role, std::optional<QString> label, std::optional<bool> enabled)
{
    if (isFull() || !isIncludedAccessibilityRole(role))
        return false;
    // The summary leaves the device: a label the recogniser would withhold as a
    // secret must not travel this way either.
    if (label && isSensitive(*label))
        label.reset();
    if (!label && role == u"AXStaticText")
        return false;

    const QString state = enabled ? (*enabled ? QStringLiteral("true") : QStringLiteral("false")) : QString();
    const QString key = role + u'|' + label.value_or(QString()) + u'|' + state;
    if (m_seenKeys.contains(key))
        return false;
    m_seenKeys.insert(key);
    m_elements.append({role, std::move(label), enabled});
    return true;
}

} // namespace nimbel
