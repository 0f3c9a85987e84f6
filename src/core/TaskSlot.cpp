#include "core/TaskSlot.h"

namespace nimbel {

TaskSlot::~TaskSlot()
{
    cancel();
}

TaskSlot::Ticket TaskSlot::start()
{
    std::stop_source previous = std::exchange(m_stop, std::stop_source());
    m_id = QUuid::createUuid();
    if (previous.stop_possible())
        previous.request_stop();
    return {*m_id, m_stop.get_token()};
}

void TaskSlot::cancel()
{
    m_id.reset();
    std::stop_source previous = std::exchange(m_stop, std::stop_source(std::nostopstate));
    if (previous.stop_possible())
        previous.request_stop();
}

void TaskSlot::finish(const QUuid &id)
{
    if (isCurrent(id)) {
        m_id.reset();
        m_stop = std::stop_source(std::nostopstate);
    }
}

} // namespace nimbel
