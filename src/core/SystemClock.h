#pragma once

#include "core/Clock.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>

class QTimer;

namespace nimbel {

// Clock on Qt timers of the thread it lives on (the main thread).
class SystemClock final : public QObject, public Clock
{
    Q_OBJECT
public:
    explicit SystemClock(QObject *parent = nullptr);
    ~SystemClock() override;

    QDateTime now() const override;
    Milliseconds uptime() const override;
    TimerId schedule(Milliseconds delay, std::function<void()> fire) override;
    void cancel(TimerId id) override;
    void post(std::function<void()> fire) override;

    // The process-wide clock of the application.
    static SystemClock &instance();

private:
    QElapsedTimer m_elapsed;
    QHash<TimerId, QTimer *> m_timers;
    TimerId m_next = 0;
};

} // namespace nimbel
