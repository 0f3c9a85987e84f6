#include "voice/SpeechActivity.h"

#include <cmath>

namespace nimbel {

SpeechActivityEvent SpeechActivityDetector::observe(float level, double time)
{
    if (!std::isfinite(level) || level < 0.0f)
        level = 0.0f;

    if (!hasDetectedSpeech) {
        if (level < startThreshold) {
            consecutiveVoiceFrames = 0;
            return SpeechActivityEvent::none;
        }
        consecutiveVoiceFrames += 1;
        if (consecutiveVoiceFrames < minimumVoiceFrames)
            return SpeechActivityEvent::none;
        hasDetectedSpeech = true;
        lastVoiceAt = time;
        hasUncertainTrailingAudio = false;
        return SpeechActivityEvent::speechStarted;
    }

    if (level >= continuationThreshold) {
        lastVoiceAt = time;
        hasUncertainTrailingAudio = false;
        return SpeechActivityEvent::none;
    }
    if (!lastVoiceAt)
        return SpeechActivityEvent::none;
    if (level >= hesitationThreshold && time - *lastVoiceAt > fadeDuration)
        hasUncertainTrailingAudio = true;
    const double needed = hasUncertainTrailingAudio ? silenceDuration : cleanSilenceDuration;
    if (time - *lastVoiceAt >= needed) {
        reset();
        return SpeechActivityEvent::speechEnded;
    }
    return SpeechActivityEvent::none;
}

void SpeechActivityDetector::reset()
{
    hasDetectedSpeech = false;
    consecutiveVoiceFrames = 0;
    lastVoiceAt.reset();
    hasUncertainTrailingAudio = false;
}

std::optional<float> speechLevel(const float *samples, std::size_t frames, std::size_t channels)
{
    if (!samples || frames == 0 || channels == 0)
        return std::nullopt;
    const std::size_t count = frames * channels;
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return float(std::sqrt(sum / double(count)));
}

SpeechActivityEvent SpeechActivityMonitor::observe(const float *samples, std::size_t frames, std::size_t channels,
                                                   double time)
{
    const std::optional<float> level = speechLevel(samples, frames, channels);
    if (!level)
        return SpeechActivityEvent::none;
    return observeLevel(*level, time);
}

SpeechActivityEvent SpeechActivityMonitor::observeLevel(float level, double time)
{
    const std::lock_guard guard(m_lock);
    return m_detector.observe(level, time);
}

void SpeechActivityMonitor::reset()
{
    const std::lock_guard guard(m_lock);
    m_detector.reset();
}

SpeechActivityDetector SpeechActivityMonitor::snapshot() const
{
    const std::lock_guard guard(m_lock);
    return m_detector;
}

} // namespace nimbel
