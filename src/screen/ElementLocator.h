#pragma once

#include <QRect>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>
#include <stop_token>

namespace nimbel {

// Finds a control of another application by its label in the application's
// accessibility tree.
class ElementLocator
{
public:
    virtual ~ElementLocator() = default;
    using LabelMatch = std::function<bool(const QString &label)>;

    // The screen rectangle of the first shown control of the process whose
    // label `matches` (called on any thread); absent when there is none, the
    // tree does not answer in time or `stop` was requested.
    virtual QCoro::Task<std::optional<QRect>> locate(qint64 processIdentifier, LabelMatch matches,
                                                     std::stop_token stop = {}) = 0;
};

} // namespace nimbel
