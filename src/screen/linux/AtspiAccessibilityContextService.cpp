#include "screen/linux/AtspiAccessibilityContextService.h"

#include "core/Log.h"
#include "screen/linux/AtspiTreeWalker.h"
#include "screen/linux/AtspiWorker.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <coroutine>
#include <memory>

namespace nimbel {

namespace {

// The meeting point of one collection: settled once, by the walk's answer or by
// a stop, whichever comes first; the waiting coroutine is resumed on the main
// thread, always through the event queue.
class PendingCollection : public std::enable_shared_from_this<PendingCollection>
{
public:
    void settle(std::optional<AccessibilityContext> value)
    {
        if (m_settled.exchange(true))
            return;
        m_value = std::move(value);
        // Without an application object (the process is ending) nobody waits any more.
        if (QCoreApplication *application = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                application, [self = shared_from_this()] { self->m_waiter.resume(); }, Qt::QueuedConnection);
        }
    }
    bool isSettled() const { return m_settled.load(); }

    void setWaiter(std::coroutine_handle<> waiter) { m_waiter = waiter; }
    std::optional<AccessibilityContext> takeValue() { return std::move(m_value); }

private:
    std::atomic<bool> m_settled{false};
    std::optional<AccessibilityContext> m_value;
    std::coroutine_handle<> m_waiter;
};

class CollectionAwaiter
{
public:
    CollectionAwaiter(AtspiWalkRequest request, AccessibilityBusStatus status)
        : m_request(std::move(request))
        , m_status(status)
        , m_pending(std::make_shared<PendingCollection>())
    {
    }

    CollectionAwaiter(const CollectionAwaiter &) = delete;
    CollectionAwaiter &operator=(const CollectionAwaiter &) = delete;
    // Movable until it is awaited (the coroutine machinery may move it into place).
    CollectionAwaiter(CollectionAwaiter &&other) noexcept
        : m_request(std::move(other.m_request))
        , m_status(std::move(other.m_status))
        , m_pending(std::move(other.m_pending))
    {
    }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> waiter)
    {
        m_pending->setWaiter(waiter);
        m_onStop.emplace(m_request.stop, OnStop{m_pending});
        AtspiWorker::shared().post([pending = m_pending, request = m_request, status = m_status]() mutable {
            if (pending->isSettled())
                return; // stopped while it waited for its turn
            // The trust check comes first: without it the target is never touched.
            if (!status.isTrusted()) {
                pending->settle(std::nullopt);
                return;
            }
            const auto started = std::chrono::steady_clock::now();
            AtspiWalkResult result = AtspiTreeWalker(std::move(request)).run();
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
            // Counts and timing only: labels never reach a log.
            const log::Record record = log::Record()
                                           .add(u"found_application", result.foundApplication)
                                           .add(u"method", result.usedCollection ? u"collection" : u"tree")
                                           .add(u"elements", result.context ? result.context->elements.size() : 0)
                                           .add(u"truncated", result.context && result.context->truncated)
                                           .add(u"calls", result.calls)
                                           .add(u"walk_ms", qint64(elapsed.count()));
            log::info(log::general(), QStringLiteral("accessibility_walk ") + record.text());
            pending->settle(std::move(result.context));
        });
    }

    std::optional<AccessibilityContext> await_resume()
    {
        m_onStop.reset();
        return m_pending->takeValue();
    }

private:
    struct OnStop
    {
        std::shared_ptr<PendingCollection> pending;
        void operator()() const noexcept { pending->settle(std::nullopt); }
    };

    AtspiWalkRequest m_request;
    AccessibilityBusStatus m_status;
    std::shared_ptr<PendingCollection> m_pending;
    std::optional<std::stop_callback<OnStop>> m_onStop;
};

} // namespace

AtspiAccessibilityContextService::AtspiAccessibilityContextService(std::optional<std::string> sessionBusAddress)
    : m_sessionBusAddress(sessionBusAddress)
    , m_status(std::chrono::milliseconds(250), std::move(sessionBusAddress))
{
}

QCoro::Task<std::optional<AccessibilityContext>> AtspiAccessibilityContextService::collect(
    qint32 processIdentifier, std::optional<QString> applicationName, std::optional<QString> bundleIdentifier,
    std::stop_token stop)
{
    if (processIdentifier < 1 || stop.stop_requested())
        co_return std::nullopt;
    AtspiWalkRequest request;
    request.processIdentifier = processIdentifier;
    request.applicationName = std::move(applicationName);
    request.bundleIdentifier = std::move(bundleIdentifier);
    // The budget runs from the call: time spent waiting behind another walk counts.
    request.deadline = std::chrono::steady_clock::now() + AccessibilityLimits::walkBudget;
    request.stop = std::move(stop);
    // Inside the walk the trust check is held to the per-call timeout, so that
    // it cannot eat the budget either.
    co_return co_await CollectionAwaiter(std::move(request), AccessibilityBusStatus(AccessibilityLimits::callTimeout, m_sessionBusAddress));
}

bool AtspiAccessibilityContextService::isProcessTrusted()
{
    return m_status.isTrusted();
}

bool AtspiAccessibilityContextService::promptForTrust()
{
    m_status.enableToolkitAccessibility();
    return m_status.isTrusted();
}

} // namespace nimbel
