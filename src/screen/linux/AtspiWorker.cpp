#include "screen/linux/AtspiWorker.h"

#include <sys/resource.h>
#include <unistd.h>

namespace nimbel {

AtspiWorker &AtspiWorker::shared()
{
    static AtspiWorker worker;
    return worker;
}

AtspiWorker::AtspiWorker()
    : m_thread([this] { run(); })
{
}

AtspiWorker::~AtspiWorker()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void AtspiWorker::post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void AtspiWorker::run()
{
    // Reading another application's tree is background work: it must not take
    // the processor from the assistant's own interface.
    setpriority(PRIO_PROCESS, pid_t(gettid()), 10);
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

} // namespace nimbel
