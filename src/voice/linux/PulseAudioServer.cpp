#include "voice/linux/PulseAudioServer.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <utility>
#include <thread>

namespace nimbel {

namespace {
constexpr auto connectTimeout = std::chrono::seconds(3);
}

PulseAudioServer::PulseAudioServer(QString applicationName)
    : m_name(std::move(applicationName))
    , m_loop(pa_threaded_mainloop_new())
{
    pa_threaded_mainloop_start(m_loop);
}

PulseAudioServer::~PulseAudioServer()
{
    {
        Lock lock(*this);
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

PulseAudioServer::Lock::Lock(PulseAudioServer &server)
    : m_loop(server.m_loop)
{
    pa_threaded_mainloop_lock(m_loop);
}

PulseAudioServer::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(m_loop);
}

pa_context *PulseAudioServer::context() const
{
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY ? m_context : nullptr;
}

PulseAudioServer::Status PulseAudioServer::connect()
{
    Lock lock(*this);
    if (context())
        return Status::ready;
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), m_name.toUtf8().constData());
    if (!m_context)
        return Status::unreachable;
    pa_context_set_state_callback(m_context, &PulseAudioServer::onContextState, this);
    // Never start a server of our own: the desktop's server is the one to use.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return Status::unreachable;

    const auto deadline = std::chrono::steady_clock::now() + connectTimeout;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            const int error = pa_context_errno(m_context);
            return error == PA_ERR_ACCESS || error == PA_ERR_AUTHKEY ? Status::refused : Status::unreachable;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return Status::unreachable;
        pa_threaded_mainloop_unlock(m_loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pa_threaded_mainloop_lock(m_loop);
    }
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context *c, pa_subscription_event_type_t type, uint32_t index, void *self) {
            onSubscription(c, int(type), index, self);
        },
        this);
    pa_operation *operation = pa_context_subscribe(
        m_context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK
                                          | PA_SUBSCRIPTION_MASK_SERVER),
        nullptr, nullptr);
    if (operation)
        pa_operation_unref(operation);
    return Status::ready;
}

void PulseAudioServer::wait(pa_operation *operation)
{
    if (!operation)
        return;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        if (!m_context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context))) {
            pa_operation_cancel(operation);
            break;
        }
        pa_threaded_mainloop_wait(m_loop);
    }
    pa_operation_unref(operation);
}

void PulseAudioServer::signal()
{
    pa_threaded_mainloop_signal(m_loop, 0);
}

int PulseAudioServer::addListener(Listener listener)
{
    const std::lock_guard guard(m_listenersLock);
    m_listeners.emplace_back(++m_nextListener, std::move(listener));
    return m_nextListener;
}

void PulseAudioServer::removeListener(int id)
{
    const std::lock_guard guard(m_listenersLock);
    std::erase_if(m_listeners, [id](const auto &entry) { return entry.first == id; });
}

void PulseAudioServer::onContextState(pa_context *context, void *self)
{
    auto *server = static_cast<PulseAudioServer *>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY)
        server->m_connected = true;
    // Only a connection that was up can be lost; a failed attempt is reported by connect().
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && std::exchange(server->m_connected, false))
        server->notify(true, 0, 0, 0);
    server->signal();
}

void PulseAudioServer::onSubscription(pa_context *, int type, unsigned index, void *self)
{
    static_cast<PulseAudioServer *>(self)->notify(false, type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK,
                                                   type & PA_SUBSCRIPTION_EVENT_TYPE_MASK, index);
}

void PulseAudioServer::notify(bool connectionLost, int facility, int type, unsigned index)
{
    const std::lock_guard guard(m_listenersLock);
    for (const auto &entry : m_listeners)
        entry.second(connectionLost, facility, type, index);
}

} // namespace nimbel
