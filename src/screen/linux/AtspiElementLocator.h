#pragma once

#include "screen/ElementLocator.h"

#include <chrono>

namespace nimbel {

// Finds a control by its label in an application's AT-SPI tree: a bounded walk
// over the shown elements of its windows, on the one libatspi worker thread.
class AtspiElementLocator final : public ElementLocator
{
public:
    // The longest a lookup takes, waiting behind other walks included.
    static constexpr std::chrono::milliseconds budget{400};

    QCoro::Task<std::optional<QRect>> locate(qint64 processIdentifier, LabelMatch matches,
                                             std::stop_token stop = {}) override;
};

} // namespace nimbel
