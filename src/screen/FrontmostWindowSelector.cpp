#include "screen/FrontmostWindowSelector.h"

namespace nimbel {

std::optional<quint32> FrontmostWindowSelector::select(const QList<quint32> &candidateIDs,
                                                      const QList<quint32> &frontToBack)
{
    for (const quint32 id : frontToBack) {
        if (candidateIDs.contains(id))
            return id;
    }
    return std::nullopt;
}

} // namespace nimbel
