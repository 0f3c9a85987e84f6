#pragma once

#include "screen/AccessibilityContext.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace nimbel {

// The list of a walk: which of the elements met are summarised, and how.
// Only included roles are listed; a label that looks like a secret is left out
// (the control keeps its role and state); a static text without a label is not
// listed; an element equal in role, label and state to an earlier one is listed
// once; at most `AccessibilityLimits::elements` are kept.
class AccessibilityElementCollector
{
public:
    // `label` is the visible label as already cleaned. True when it was listed.
    bool add(const QString &role, std::optional<QString> label, std::optional<bool> enabled);

    bool isFull() const { return m_elements.size() >= AccessibilityLimits::elements; }
    qsizetype size() const { return m_elements.size(); }
    const QList<AccessibilityElementSummary> &elements() const { return m_elements; }
    QList<AccessibilityElementSummary> takeElements() { return std::move(m_elements); }

private:
    QList<AccessibilityElementSummary> m_elements;
    QSet<QString> m_seenKeys;
};

} // namespace nimbel
