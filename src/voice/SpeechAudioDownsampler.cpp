#include "voice/SpeechAudioDownsampler.h"

#include <soxr.h>

#include <cmath>

namespace nimbel {

Result<std::unique_ptr<SpeechAudioDownsampler>, SpeechAudioDownsampler::ConversionError>
SpeechAudioDownsampler::create(double inputRate, std::size_t channels)
{
    if (!(inputRate > 0.0) || !std::isfinite(inputRate) || channels == 0 || channels > 32)
        return ConversionError::unsupportedFormat;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    // No dither: the same input always gives the same recording.
    soxr_io_spec_t spec = io;
    spec.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_t converter = soxr_create(inputRate, outputRate, 1, &error, &spec, &quality, nullptr);
    if (error || !converter)
        return ConversionError::unsupportedFormat;
    return std::unique_ptr<SpeechAudioDownsampler>(
        new SpeechAudioDownsampler(converter, outputRate / inputRate, channels));
}

SpeechAudioDownsampler::SpeechAudioDownsampler(soxr *converter, double ratio, std::size_t channels)
    : m_converter(converter)
    , m_ratio(ratio)
    , m_channels(channels)
{
    m_mono.reserve(4096);
}

SpeechAudioDownsampler::~SpeechAudioDownsampler()
{
    soxr_delete(m_converter);
}

Result<Done, SpeechAudioDownsampler::ConversionError>
SpeechAudioDownsampler::convert(const float *samples, std::size_t frames, std::vector<std::int16_t> &out)
{
    if (!samples || frames == 0)
        return Done{};
    const float *mono = samples;
    if (m_channels > 1) {
        m_mono.resize(frames);
        const float scale = 1.0f / float(m_channels);
        for (std::size_t f = 0; f < frames; ++f) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < m_channels; ++c)
                sum += samples[f * m_channels + c];
            m_mono[f] = sum * scale;
        }
        mono = m_mono.data();
    }
    return run(mono, frames, out);
}

Result<Done, SpeechAudioDownsampler::ConversionError> SpeechAudioDownsampler::flush(std::vector<std::int16_t> &out)
{
    return run(nullptr, 0, out);
}

Result<Done, SpeechAudioDownsampler::ConversionError>
SpeechAudioDownsampler::run(const float *mono, std::size_t frames, std::vector<std::int16_t> &out)
{
    // Converted a piece at a time into the end of `out`; a flush may take several rounds.
    const std::size_t capacity = std::max<std::size_t>(32, std::size_t(std::ceil(double(frames) * m_ratio)) + 32);
    std::size_t consumed = 0;
    for (int round = 0; round < 64; ++round) {
        const std::size_t start = out.size();
        out.resize(start + capacity);
        std::size_t used = 0;
        std::size_t produced = 0;
        const soxr_error_t error = soxr_process(m_converter, mono ? mono + consumed : nullptr, frames - consumed,
                                                &used, out.data() + start, capacity, &produced);
        out.resize(start + produced);
        if (error)
            return ConversionError::conversionFailed;
        consumed += used;
        const bool inputDone = mono ? consumed >= frames : produced == 0;
        if (inputDone && produced < capacity)
            return Done{};
    }
    return Done{};
}

} // namespace nimbel
