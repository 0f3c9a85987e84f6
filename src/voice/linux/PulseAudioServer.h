#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace nimbel {

// One connection to the PulseAudio server (PipeWire serves the same protocol),
// with its own event thread. Connects on demand and again after the server went
// away. Everything that touches the context holds the loop's lock.
class PulseAudioServer
{
public:
    enum class Status { ready, refused, unreachable };

    explicit PulseAudioServer(QString applicationName);
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer &) = delete;
    PulseAudioServer &operator=(const PulseAudioServer &) = delete;

    // Connects when not connected (waiting at most a few seconds) and says how that went.
    Status connect();

    // Holds the event thread's lock for its scope.
    class Lock
    {
    public:
        explicit Lock(PulseAudioServer &server);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *m_loop;
    };

    pa_threaded_mainloop *loop() const { return m_loop; }
    // The connected context, or null; call with the lock held.
    pa_context *context() const;
    // Waits (lock held) until `operation` is done or the connection broke; drops it.
    void wait(pa_operation *operation);
    // Wakes a wait() (from a callback on the event thread).
    void signal();

    // Called on the event thread, lock held, for every change of sources,
    // sinks or the server's defaults, and once when the connection breaks
    // (`connectionLost` true).
    using Listener = std::function<void(bool connectionLost, int facility, int type, unsigned index)>;
    int addListener(Listener listener);
    void removeListener(int id);

private:
    static void onContextState(pa_context *context, void *self);
    static void onSubscription(pa_context *context, int type, unsigned index, void *self);
    void notify(bool connectionLost, int facility, int type, unsigned index);

    QString m_name;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    // The current context has been ready (event thread, lock held).
    bool m_connected = false;
    std::mutex m_listenersLock;
    std::vector<std::pair<int, Listener>> m_listeners;
    int m_nextListener = 0;
};

} // namespace nimbel
