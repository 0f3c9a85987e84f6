#include "voice/linux/PulseAudioCapture.h"

#include "voice/linux/PulseAudioServer.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <chrono>

namespace nimbel {

namespace {

struct SourceList
{
    PulseAudioServer *server;
    std::vector<AudioInput::Source> sources;
};

struct SourceFormat
{
    PulseAudioServer *server;
    std::optional<AudioInput::Format> format;
};

struct DefaultName
{
    PulseAudioServer *server;
    QString name;
};

} // namespace

PulseAudioCapture::PulseAudioCapture(PulseAudioServer &server)
    : m_server(server)
{
    m_listener = m_server.addListener([this](bool lost, int facility, int type, unsigned index) {
        if (lost) {
            if (m_running.load())
                fail();
        } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && type == PA_SUBSCRIPTION_EVENT_REMOVE
                   && m_running.load() && m_stream && index == m_deviceIndex) {
            // The source this turn records from is gone (a headset unplugged).
            fail();
        }
        if (lost || facility == PA_SUBSCRIPTION_EVENT_SOURCE || facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            const std::lock_guard guard(m_handlerLock);
            if (m_sourcesChanged)
                m_sourcesChanged();
        }
    });
}

PulseAudioCapture::~PulseAudioCapture()
{
    stop();
    m_server.removeListener(m_listener);
}

void PulseAudioCapture::setSourcesChangedHandler(std::function<void()> handler)
{
    const std::lock_guard guard(m_handlerLock);
    m_sourcesChanged = std::move(handler);
}

PermissionState PulseAudioCapture::authorization()
{
    switch (m_server.connect()) {
    case PulseAudioServer::Status::refused:
        return PermissionState::denied;
    case PulseAudioServer::Status::unreachable:
        return PermissionState::unknown;
    case PulseAudioServer::Status::ready:
        break;
    }
    return sources().empty() ? PermissionState::unknown : PermissionState::authorized;
}

std::vector<AudioInput::Source> PulseAudioCapture::sources()
{
    if (m_server.connect() != PulseAudioServer::Status::ready)
        return {};
    SourceList list{&m_server, {}};
    PulseAudioServer::Lock lock(m_server);
    pa_context *context = m_server.context();
    if (!context)
        return {};
    m_server.wait(pa_context_get_source_info_list(
        context,
        [](pa_context *, const pa_source_info *info, int eol, void *data) {
            auto *list = static_cast<SourceList *>(data);
            // Monitors of outputs are not microphones.
            if (eol == 0 && info && info->monitor_of_sink == PA_INVALID_INDEX)
                list->sources.push_back({QString::fromUtf8(info->name), QString::fromUtf8(info->description)});
            if (eol != 0)
                list->server->signal();
        },
        &list));
    return list.sources;
}

QString PulseAudioCapture::defaultSource()
{
    if (m_server.connect() != PulseAudioServer::Status::ready)
        return {};
    DefaultName result{&m_server, {}};
    PulseAudioServer::Lock lock(m_server);
    pa_context *context = m_server.context();
    if (!context)
        return {};
    m_server.wait(pa_context_get_server_info(
        context,
        [](pa_context *, const pa_server_info *info, void *data) {
            auto *result = static_cast<DefaultName *>(data);
            if (info && info->default_source_name)
                result->name = QString::fromUtf8(info->default_source_name);
            result->server->signal();
        },
        &result));
    return result.name;
}

std::optional<AudioInput::Format> PulseAudioCapture::open(const QString &source)
{
    if (m_server.connect() != PulseAudioServer::Status::ready)
        return std::nullopt;
    SourceFormat result{&m_server, std::nullopt};
    {
        PulseAudioServer::Lock lock(m_server);
        pa_context *context = m_server.context();
        if (!context)
            return std::nullopt;
        const QByteArray name = source.isEmpty() ? QByteArrayLiteral("@DEFAULT_SOURCE@") : source.toUtf8();
        m_server.wait(pa_context_get_source_info_by_name(
            context, name.constData(),
            [](pa_context *, const pa_source_info *info, int eol, void *data) {
                auto *result = static_cast<SourceFormat *>(data);
                if (eol == 0 && info)
                    result->format = AudioInput::Format{double(info->sample_spec.rate),
                                                        std::min<std::size_t>(info->sample_spec.channels, 8)};
                if (eol != 0)
                    result->server->signal();
            },
            &result));
    }
    if (result.format) {
        m_device = source;
        m_format = *result.format;
    }
    return result.format;
}

bool PulseAudioCapture::start(BufferHandler handler, std::function<void()> onFailure)
{
    stop();
    if (!(m_format.sampleRate > 0.0) || m_format.channels == 0)
        return false;
    // Two seconds of room: far more than the recording ever falls behind.
    m_ring = std::make_unique<SampleRing>(std::size_t(m_format.sampleRate * 2.0) * m_format.channels);
    m_dropped = 0;
    m_failed = false;
    m_handler = std::move(handler);
    m_onFailure = std::move(onFailure);

    PulseAudioServer::Lock lock(m_server);
    pa_context *context = m_server.context();
    if (!context)
        return false;
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(m_format.sampleRate), uint8_t(m_format.channels)};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    m_stream = pa_stream_new(context, "Voice input", &spec, &map);
    if (!m_stream)
        return false;
    pa_stream_set_read_callback(m_stream, &PulseAudioCapture::onRead, this);
    pa_stream_set_state_callback(m_stream, &PulseAudioCapture::onStreamState, this);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(framesPerBuffer * pa_frame_size(&spec));
    const QByteArray device = m_device.toUtf8();
    // With no device the stream follows the system's default source as it changes.
    if (pa_stream_connect_record(m_stream, m_device.isEmpty() ? nullptr : device.constData(), &attributes,
                                 PA_STREAM_ADJUST_LATENCY)
        < 0) {
        tearDownStream();
        return false;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            tearDownStream();
            return false;
        }
        pa_threaded_mainloop_wait(m_server.loop());
    }
    m_deviceIndex = pa_stream_get_device_index(m_stream);
    m_running = true;
    m_worker = std::thread([this] { process(); });
    return true;
}

void PulseAudioCapture::stop()
{
    {
        // Under the lock: no failure is reported from the event thread after this.
        PulseAudioServer::Lock lock(m_server);
        m_running = false;
        tearDownStream();
    }
    if (m_worker.joinable()) {
        m_wakeups.fetch_add(1);
        m_wakeups.notify_one();
        m_worker.join();
    }
    m_handler = {};
    m_onFailure = {};
}

void PulseAudioCapture::tearDownStream()
{
    if (!m_stream)
        return;
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
        pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
}

void PulseAudioCapture::onRead(pa_stream *stream, std::size_t, void *self)
{
    auto *capture = static_cast<PulseAudioCapture *>(self);
    const void *data = nullptr;
    std::size_t bytes = 0;
    bool pushed = false;
    while (pa_stream_readable_size(stream) > 0) {
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            break;
        if (data) {
            const std::size_t count = bytes / sizeof(float);
            const std::size_t taken = capture->m_ring->push(static_cast<const float *>(data), count);
            if (taken < count)
                capture->m_dropped.fetch_add(count - taken, std::memory_order_relaxed);
            pushed = true;
        }
        pa_stream_drop(stream);
    }
    if (pushed) {
        capture->m_wakeups.fetch_add(1, std::memory_order_release);
        capture->m_wakeups.notify_one();
    }
}

void PulseAudioCapture::onStreamState(pa_stream *stream, void *self)
{
    auto *capture = static_cast<PulseAudioCapture *>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (!PA_STREAM_IS_GOOD(state) && capture->m_running.load())
        capture->fail();
    capture->m_server.signal();
}

void PulseAudioCapture::fail()
{
    if (m_failed.exchange(true))
        return;
    if (m_onFailure)
        m_onFailure();
}

void PulseAudioCapture::process()
{
    const std::size_t channels = m_format.channels;
    std::vector<float> buffer(framesPerBuffer * channels);
    std::uint64_t frames = 0;
    while (m_running.load()) {
        const unsigned seen = m_wakeups.load(std::memory_order_acquire);
        while (m_running.load() && m_ring->pop(buffer.data(), buffer.size())) {
            frames += framesPerBuffer;
            m_handler(buffer.data(), framesPerBuffer, double(frames) / m_format.sampleRate);
        }
        if (m_running.load())
            m_wakeups.wait(seen, std::memory_order_acquire);
    }
}

} // namespace nimbel
