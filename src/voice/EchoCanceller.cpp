#include "voice/EchoCanceller.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace nimbel {

namespace {

soxr *newResampler(double inputRate)
{
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    // A short filter: both sides pass through the same one, and its delay adds to the echo path.
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_LQ, 0);
    soxr *resampler = soxr_create(inputRate, EchoCanceller::processingRate, 1, &error, &io, &quality, nullptr);
    if (error && resampler) {
        soxr_delete(resampler);
        return nullptr;
    }
    return resampler;
}

bool usableFormat(double rate, std::size_t channels)
{
    return rate >= 8000.0 && rate <= 384000.0 && std::isfinite(rate) && channels > 0 && channels <= 32;
}

// Appends `frames` interleaved frames of `channels` to `mono` as their average.
void downmix(const float *samples, std::size_t frames, std::size_t channels, std::vector<float> &mono)
{
    mono.resize(frames);
    const float scale = 1.0f / float(channels);
    for (std::size_t f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c)
            sum += samples[f * channels + c];
        mono[f] = sum * scale;
    }
}

// Appends what `resampler` makes of `mono` to `out`.
void resample(soxr *resampler, double ratio, const std::vector<float> &mono, std::vector<float> &out)
{
    std::size_t consumed = 0;
    while (consumed < mono.size()) {
        const std::size_t start = out.size();
        const std::size_t capacity = std::size_t(std::ceil(double(mono.size() - consumed) * ratio)) + 64;
        out.resize(start + capacity);
        std::size_t used = 0;
        std::size_t produced = 0;
        const soxr_error_t error = soxr_process(resampler, mono.data() + consumed, mono.size() - consumed, &used,
                                                out.data() + start, capacity, &produced);
        out.resize(start + produced);
        if (error || used == 0)
            return;
        consumed += used;
    }
}

float frameLevel(const float *frame)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < EchoCanceller::frameLength; ++i)
        sum += double(frame[i]) * frame[i];
    return float(std::sqrt(sum / double(EchoCanceller::frameLength)));
}

// Samples at the processing rate from `origin` to now.
std::int64_t samplesSince(std::chrono::steady_clock::time_point origin)
{
    const auto elapsed = std::chrono::steady_clock::now() - origin;
    return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * EchoCanceller::processingRate
           / 1000000;
}

} // namespace

EchoCanceller::Reference::Reference(EchoCanceller &owner, soxr *resampler, double ratio, std::size_t channels)
    : m_owner(owner)
    , m_resampler(resampler)
    , m_ratio(ratio)
    , m_channels(channels)
{
}

EchoCanceller::Reference::~Reference()
{
    soxr_delete(m_resampler);
}

void EchoCanceller::Reference::write(const float *samples, std::size_t frames)
{
    // Not recording: nothing would match it with a capture frame.
    if (!samples || frames == 0 || !m_owner.m_capturing.load(std::memory_order_relaxed))
        return;
    downmix(samples, frames, m_channels, m_mono);
    m_converted.clear();
    resample(m_resampler, m_ratio, m_mono, m_converted);
    m_owner.queueReference(m_converted.data(), m_converted.size());
}

std::unique_ptr<EchoCanceller> EchoCanceller::create()
{
    webrtc::Config config;
    // The playback is written ahead of the microphone by an amount the
    // server decides; let the canceller find the delay, over a long filter.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    webrtc::AudioProcessing *processing = webrtc::AudioProcessing::Create(config);
    if (!processing)
        return nullptr;
    webrtc::EchoCancellation *aec = processing->echo_cancellation();
    if (aec->Enable(true) != webrtc::AudioProcessing::kNoError
        || aec->set_suppression_level(webrtc::EchoCancellation::kHighSuppression) != webrtc::AudioProcessing::kNoError
        || processing->high_pass_filter()->Enable(true) != webrtc::AudioProcessing::kNoError) {
        delete processing;
        return nullptr;
    }
    return std::unique_ptr<EchoCanceller>(new EchoCanceller(processing));
}

EchoCanceller::EchoCanceller(webrtc::AudioProcessing *processing)
    : m_processing(processing)
{
    m_far.resize(frameLength);
}

EchoCanceller::~EchoCanceller()
{
    soxr_delete(m_captureResampler);
}

std::unique_ptr<EchoCanceller::Reference> EchoCanceller::openReference(double sampleRate, std::size_t channels)
{
    if (!usableFormat(sampleRate, channels))
        return nullptr;
    soxr *resampler = newResampler(sampleRate);
    if (!resampler)
        return nullptr;
    return std::unique_ptr<Reference>(new Reference(*this, resampler, processingRate / sampleRate, channels));
}

void EchoCanceller::queueReference(const float *samples, std::size_t count)
{
    std::lock_guard lock(m_lock);
    if (!m_capturing.load(std::memory_order_relaxed))
        return;
    const std::int64_t now = samplesSince(m_origin);
    const std::int64_t end = m_referenceStart + std::int64_t(m_reference.size());
    if (m_reference.empty()) {
        // Written ahead of time continues where it left off; anything else starts now.
        m_referenceStart = std::max(end, now);
    } else if (end < now) {
        // The output fell silent in between (a pause, a new player).
        const std::size_t gap = std::size_t(std::min<std::int64_t>(now - end, referenceLimit));
        m_reference.insert(m_reference.end(), gap, 0.0f);
        m_referenceStart = now - std::int64_t(m_reference.size());
    }
    m_reference.insert(m_reference.end(), samples, samples + count);
    if (m_reference.size() > referenceLimit) {
        const std::size_t excess = m_reference.size() - referenceLimit;
        m_reference.erase(m_reference.begin(), m_reference.begin() + std::ptrdiff_t(excess));
        m_referenceStart += std::int64_t(excess);
    }
}

bool EchoCanceller::begin(double sampleRate, std::size_t channels)
{
    end();
    if (!usableFormat(sampleRate, channels))
        return false;
    soxr_delete(std::exchange(m_captureResampler, newResampler(sampleRate)));
    if (!m_captureResampler)
        return false;
    m_captureRatio = processingRate / sampleRate;
    m_captureChannels = channels;
    m_pending.clear();
    m_anchored = false;
    {
        // What was played before this recording is no reference for it.
        std::lock_guard lock(m_lock);
        m_reference.clear();
        m_referenceStart = 0;
        m_origin = std::chrono::steady_clock::now();
        m_capturing.store(true);
    }
    return true;
}

void EchoCanceller::end()
{
    m_capturing.store(false);
}

void EchoCanceller::process(const float *samples, std::size_t frames, std::vector<float> &cleaned)
{
    if (!samples || frames == 0 || !m_captureResampler)
        return;
    downmix(samples, frames, m_captureChannels, m_mono);
    resample(m_captureResampler, m_captureRatio, m_mono, m_pending);
    const std::size_t count = m_pending.size() / frameLength;
    if (count == 0)
        return;

    m_far.assign(count * frameLength, 0.0f);
    {
        std::lock_guard lock(m_lock);
        if (!m_anchored) {
            // The capture's own clock starts when its first samples arrive, which is
            // taken to be now: never earlier than they were recorded, so that the
            // reference never comes after its echo.
            m_captured = samplesSince(m_origin) - std::int64_t(m_pending.size());
            m_anchored = true;
        }
        // The reference for the same stretch of time; silence where nothing was played.
        const std::int64_t from = m_captured;
        const std::int64_t to = from + std::int64_t(count * frameLength);
        const std::int64_t stale = std::clamp<std::int64_t>(from - m_referenceStart, 0, std::int64_t(m_reference.size()));
        m_reference.erase(m_reference.begin(), m_reference.begin() + std::ptrdiff_t(stale));
        m_referenceStart += stale;
        if (m_referenceStart < to && !m_reference.empty()) {
            const std::int64_t offset = std::max<std::int64_t>(m_referenceStart - from, 0);
            const std::int64_t available = std::min<std::int64_t>(std::int64_t(m_reference.size()), to - from - offset);
            std::copy_n(m_reference.begin(), available, m_far.begin() + std::ptrdiff_t(offset));
        }
        m_captured = to;
    }

    const std::size_t start = cleaned.size();
    cleaned.insert(cleaned.end(), m_pending.begin(), m_pending.begin() + std::ptrdiff_t(count * frameLength));
    for (std::size_t i = 0; i < count; ++i) {
        const float *far = m_far.data() + i * frameLength;
        float *near = cleaned.data() + start + i * frameLength;
        m_processing->AnalyzeReverseStream(&far, frameLength, processingRate, webrtc::AudioProcessing::kMono);
        // The delay is found by the canceller itself; this only satisfies the call order.
        m_processing->set_stream_delay_ms(0);
        m_processing->ProcessStream(&near, frameLength, processingRate, webrtc::AudioProcessing::kMono,
                                    processingRate, webrtc::AudioProcessing::kMono, &near);
        // Until the canceller has heard enough of the room, whatever comes in
        // while something plays is mostly echo: hold it down.
        if (m_learntFrames >= learningFrames)
            continue;
        if (frameLevel(far) > farActivityLevel) {
            ++m_learntFrames;
            m_echoTail = echoTailFrames; // its echo comes back a little later
        }
        if (m_echoTail > 0) {
            --m_echoTail;
            for (std::size_t j = 0; j < frameLength; ++j)
                near[j] *= learningGain;
        }
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(count * frameLength));
}

} // namespace nimbel
