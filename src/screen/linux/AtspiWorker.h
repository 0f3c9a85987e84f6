#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace nimbel {

// The one thread of the process that talks to libatspi. The library keeps
// process-wide state and is not thread-safe, so every walk, from every service
// instance, runs here, one after the other, at a lowered priority.
class AtspiWorker
{
public:
    static AtspiWorker &shared();

    AtspiWorker(const AtspiWorker &) = delete;
    AtspiWorker &operator=(const AtspiWorker &) = delete;
    ~AtspiWorker();

    // Runs `job` on the worker thread after the jobs posted before it.
    void post(std::function<void()> job);

private:
    AtspiWorker();
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace nimbel
