#include "voice/linux/PulseAudioPlayback.h"

#include "voice/EchoCanceller.h"
#include "voice/linux/PulseAudioServer.h"

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include <algorithm>

namespace nimbel {

namespace {

class PulseAudioPlayer final : public AudioPlayer
{
public:
    PulseAudioPlayer(PulseAudioServer &server, std::shared_ptr<const DecodedAudio> audio, std::size_t startFrame,
                     EchoCanceller *canceller)
        : m_server(server)
        , m_audio(std::move(audio))
        , m_position(startFrame * m_audio->audio.channels)
    {
        if (canceller)
            m_reference = canceller->openReference(m_audio->sampleRate, m_audio->audio.channels);
    }

    ~PulseAudioPlayer() override { stop(); }

    // Lock held.
    bool start(float volume, bool held)
    {
        pa_context *context = m_server.context();
        if (!context)
            return false;
        const std::size_t channels = m_audio->audio.channels;
        if (channels == 0 || channels > PA_CHANNELS_MAX || !(m_audio->sampleRate > 0.0)
            || m_audio->sampleRate > PA_RATE_MAX)
            return false;
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(m_audio->sampleRate), uint8_t(channels)};
        pa_channel_map map;
        pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        m_stream = pa_stream_new(context, "Voice", &spec, &map);
        if (!m_stream)
            return false;
        pa_stream_set_write_callback(m_stream, &PulseAudioPlayer::onWrite, this);
        pa_stream_set_state_callback(m_stream, [](pa_stream *, void *server) {
            static_cast<PulseAudioServer *>(server)->signal();
        }, &m_server);
        // A short buffer, so that a stop is heard at once.
        pa_buffer_attr attributes;
        attributes.maxlength = uint32_t(-1);
        attributes.tlength = uint32_t(pa_usec_to_bytes(60 * 1000, &spec));
        // Start at once, however short the clip, and never pause on running dry.
        attributes.prebuf = 0;
        attributes.minreq = uint32_t(-1);
        attributes.fragsize = uint32_t(-1);
        pa_cvolume level;
        pa_cvolume_set(&level, spec.channels, pa_sw_volume_from_linear(std::clamp(double(volume), 0.0, 1.0)));
        const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | (held ? PA_STREAM_START_CORKED : 0));
        if (pa_stream_connect_playback(m_stream, nullptr, &attributes, flags, &level, nullptr) < 0)
            return false;
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(m_stream);
            if (state == PA_STREAM_READY)
                return true;
            if (!PA_STREAM_IS_GOOD(state))
                return false;
            pa_threaded_mainloop_wait(m_server.loop());
        }
    }

    void stop() override
    {
        PulseAudioServer::Lock lock(m_server);
        if (!m_stream)
            return;
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        if (pa_stream_get_state(m_stream) == PA_STREAM_READY) {
            // Drop what the server still holds instead of letting it play out.
            pa_operation *flush = pa_stream_flush(m_stream, nullptr, nullptr);
            if (flush)
                pa_operation_unref(flush);
        }
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
            pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }

    void setHeld(bool held) override
    {
        PulseAudioServer::Lock lock(m_server);
        if (!m_stream || pa_stream_get_state(m_stream) != PA_STREAM_READY)
            return;
        // Corked, the server stops taking samples at once and keeps what it
        // holds for the resume; the canceller's reference pauses with it.
        if (pa_operation *cork = pa_stream_cork(m_stream, held ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(cork);
    }

private:
    static void onWrite(pa_stream *stream, std::size_t bytes, void *self)
    {
        auto *player = static_cast<PulseAudioPlayer *>(self);
        const std::vector<float> &samples = player->m_audio->audio.samples;
        const std::size_t frameSize = player->m_audio->audio.channels * sizeof(float);
        std::size_t remaining = (samples.size() - std::min(player->m_position, samples.size())) * sizeof(float);
        std::size_t count = std::min(bytes, remaining) / frameSize * frameSize;
        if (count == 0)
            return;
        const float *written = samples.data() + player->m_position;
        if (pa_stream_write(stream, written, count, nullptr, 0, PA_SEEK_RELATIVE) != 0)
            return;
        player->m_position += count / sizeof(float);
        // What goes to the speakers may come back through the microphone.
        if (player->m_reference)
            player->m_reference->write(written, count / frameSize);
    }

    PulseAudioServer &m_server;
    std::shared_ptr<const DecodedAudio> m_audio;
    std::size_t m_position;
    pa_stream *m_stream = nullptr;
    // Written on the server's thread only, and dropped after the stream's callbacks are gone.
    std::unique_ptr<EchoCanceller::Reference> m_reference;
};

} // namespace

PulseAudioPlayback::PulseAudioPlayback(PulseAudioServer &server)
    : m_server(server)
{
}

std::unique_ptr<AudioPlayer> PulseAudioPlayback::play(std::shared_ptr<const DecodedAudio> audio,
                                                      std::size_t startFrame, float volume, bool held)
{
    if (!audio || m_server.connect() != PulseAudioServer::Status::ready)
        return nullptr;
    auto player = std::make_unique<PulseAudioPlayer>(m_server, std::move(audio), startFrame, m_echoCanceller);
    bool started = false;
    {
        PulseAudioServer::Lock lock(m_server);
        started = player->start(volume, held);
    }
    if (!started)
        return nullptr;
    return player;
}

} // namespace nimbel
