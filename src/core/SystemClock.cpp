#include "core/SystemClock.h"

#include <QCoreApplication>
#include <QTimer>

namespace nimbel {

SystemClock::SystemClock(QObject *parent)
    : QObject(parent)
{
    m_elapsed.start();
}

SystemClock::~SystemClock()
{
    qDeleteAll(m_timers);
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

Milliseconds SystemClock::uptime() const
{
    return Milliseconds(m_elapsed.elapsed());
}

Clock::TimerId SystemClock::schedule(Milliseconds delay, std::function<void()> fire)
{
    const TimerId id = ++m_next;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id, fire = std::move(fire)] {
        if (QTimer *t = m_timers.take(id))
            t->deleteLater();
        fire();
    });
    m_timers.insert(id, timer);
    timer->start(std::chrono::milliseconds(delay));
    return id;
}

void SystemClock::cancel(TimerId id)
{
    if (QTimer *timer = m_timers.take(id)) {
        timer->stop();
        timer->deleteLater();
    }
}

void SystemClock::post(std::function<void()> fire)
{
    QMetaObject::invokeMethod(this, std::move(fire), Qt::QueuedConnection);
}

SystemClock &SystemClock::instance()
{
    static auto *clock = new SystemClock(QCoreApplication::instance());
    return *clock;
}

} // namespace nimbel
