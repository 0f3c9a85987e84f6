#pragma once

#include <QList>
#include <QtGlobal>

#include <optional>

namespace nimbel {

// Picks the window the owner sees first: the first identifier of the
// front-to-back list that is one of the candidates.
class FrontmostWindowSelector
{
public:
    static std::optional<quint32> select(const QList<quint32> &candidateIDs,
                                         const QList<quint32> &frontToBack);
};

} // namespace nimbel
