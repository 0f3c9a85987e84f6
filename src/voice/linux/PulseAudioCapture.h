#pragma once

#include "voice/AudioInput.h"
#include "voice/SampleRing.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

struct pa_stream;

namespace nimbel {

class PulseAudioServer;

// The microphone through PulseAudio: a record stream of 32-bit float samples
// in the source's own rate and channels. The server's event thread only copies
// samples into a bounded ring; a thread of ours cuts them into 1024-frame
// buffers and hands those to the recording.
class PulseAudioCapture final : public AudioInput
{
public:
    static constexpr std::size_t framesPerBuffer = 1024;

    explicit PulseAudioCapture(PulseAudioServer &server);
    ~PulseAudioCapture() override;

    PermissionState authorization() override;
    std::vector<Source> sources() override;
    QString defaultSource() override;
    std::optional<Format> open(const QString &source) override;
    bool start(BufferHandler handler, std::function<void()> onFailure) override;
    void stop() override;
    bool isRunning() const override { return m_running.load(); }
    void setSourcesChangedHandler(std::function<void()> handler) override;

    // Samples dropped because the recording fell behind (since the last start).
    std::size_t droppedSamples() const { return m_dropped.load(); }

private:
    static void onRead(pa_stream *stream, std::size_t bytes, void *self);
    static void onStreamState(pa_stream *stream, void *self);
    void fail();
    void process();
    void tearDownStream();

    PulseAudioServer &m_server;
    int m_listener = 0;
    std::mutex m_handlerLock;
    std::function<void()> m_sourcesChanged;

    QString m_device;
    Format m_format;
    pa_stream *m_stream = nullptr;
    unsigned m_deviceIndex = 0;
    std::unique_ptr<SampleRing> m_ring;
    std::atomic<std::size_t> m_dropped{0};
    std::atomic<unsigned> m_wakeups{0};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_failed{false};
    BufferHandler m_handler;
    std::function<void()> m_onFailure;
    std::thread m_worker;
};

} // namespace nimbel
