#pragma once

#include "core/TaskSlot.h"

#include <QPointer>

namespace nimbel {

// What a task of `Owner` asks after every await before it touches its owner,
// in this order: was the task stopped? is the owner gone? does the owner's slot
// still hold this task's identifier? Answers the owner only when all three say
// go; otherwise the task ends without a trace.
template<typename Owner>
Owner *resumeTarget(const QPointer<Owner> &owner, const TaskSlot::Ticket &ticket, TaskSlot Owner::*slot)
{
    if (ticket.token.stop_requested())
        return nullptr;
    Owner *target = owner.data();
    if (!target)
        return nullptr;
    if (!(target->*slot).isCurrent(ticket.id))
        return nullptr;
    return target;
}

} // namespace nimbel
