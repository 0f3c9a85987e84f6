#pragma once

#include "core/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

namespace nimbel {

// Turns the microphone's float input of any rate and channel count into the
// recording format: 16-bit signed mono at 16 kHz. Keeps the converter's state
// between buffers, so a recording is converted as one continuous signal.
class SpeechAudioDownsampler
{
public:
    static constexpr double outputRate = 16000.0;
    enum class ConversionError { unsupportedFormat = 0, conversionFailed = 1 };

    static Result<std::unique_ptr<SpeechAudioDownsampler>, ConversionError> create(double inputRate,
                                                                                   std::size_t channels);
    ~SpeechAudioDownsampler();
    SpeechAudioDownsampler(const SpeechAudioDownsampler &) = delete;
    SpeechAudioDownsampler &operator=(const SpeechAudioDownsampler &) = delete;

    // Appends the converted samples of `frames` interleaved frames to `out`
    // (possibly none yet: the converter holds a few milliseconds back).
    Result<Done, ConversionError> convert(const float *samples, std::size_t frames, std::vector<std::int16_t> &out);
    // Appends what the converter still holds; the end of the signal.
    Result<Done, ConversionError> flush(std::vector<std::int16_t> &out);

    double sourceToOutputRatio() const { return m_ratio; }

private:
    SpeechAudioDownsampler(soxr *converter, double ratio, std::size_t channels);
    Result<Done, ConversionError> run(const float *mono, std::size_t frames, std::vector<std::int16_t> &out);

    soxr *m_converter;
    double m_ratio;
    std::size_t m_channels;
    std::vector<float> m_mono;
};

} // namespace nimbel
