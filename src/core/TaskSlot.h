#pragma once

#include <QUuid>

#include <optional>
#include <stop_token>

namespace nimbel {

// The pair of a cancellable task and its identifier. Starting work stores a
// fresh identifier and stop source; work that resumes after an await goes on
// only while `isCurrent(itsId)` holds. Cancelling clears the identifier first,
// then requests the stop, so late results are dropped silently.
class TaskSlot
{
public:
    struct Ticket
    {
        QUuid id;
        std::stop_token token;
    };

    TaskSlot() = default;
    TaskSlot(const TaskSlot &) = delete;
    TaskSlot &operator=(const TaskSlot &) = delete;
    ~TaskSlot();

    // Replaces any running task: the new identifier is stored before the
    // previous task is stopped.
    Ticket start();
    void cancel();

    bool isCurrent(const QUuid &id) const { return m_id && *m_id == id; }
    bool isRunning() const { return m_id.has_value(); }
    std::optional<QUuid> id() const { return m_id; }
    // Marks the task as finished without stopping it (it ends by itself).
    void finish(const QUuid &id);

private:
    std::optional<QUuid> m_id;
    std::stop_source m_stop{std::nostopstate};
};

} // namespace nimbel
