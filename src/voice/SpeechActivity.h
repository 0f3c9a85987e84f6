#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

namespace nimbel {

enum class SpeechActivityEvent : std::uint8_t { none = 0, speechStarted = 1, speechEnded = 2 };

// Finds where the owner starts and stops talking from the loudness of
// successive input buffers. Plain value; the thresholds are fixed.
struct SpeechActivityDetector
{
    bool hasDetectedSpeech = false;
    std::int64_t consecutiveVoiceFrames = 0;
    std::optional<double> lastVoiceAt;
    // Since the last voice frame some frame was quieter than voice but louder than silence.
    bool hasUncertainTrailingAudio = false;
    float startThreshold = 0.012f;
    float continuationThreshold = 0.006f;
    float hesitationThreshold = 0.0025f;
    std::int64_t minimumVoiceFrames = 3;
    double cleanSilenceDuration = 0.55;
    double silenceDuration = 1.0;
    // The fading of the last sound, not a murmur: quieter buffers this soon
    // after the last voice buffer do not stretch the quiet.
    double fadeDuration = 0.1;

    // `time` in seconds on a monotonic scale.
    SpeechActivityEvent observe(float level, double time);
    void reset();
};

// Root mean square over every sample of `frames` interleaved frames of
// `channels` channels; nothing when there is nothing to measure.
std::optional<float> speechLevel(const float *samples, std::size_t frames, std::size_t channels);

// The detector behind a lock: the audio side observes, the owner resets.
class SpeechActivityMonitor
{
public:
    // An empty buffer gives `none` without touching the detector.
    SpeechActivityEvent observe(const float *samples, std::size_t frames, std::size_t channels, double time);
    SpeechActivityEvent observeLevel(float level, double time);
    void reset();
    SpeechActivityDetector snapshot() const;

private:
    mutable std::mutex m_lock;
    SpeechActivityDetector m_detector;
};

} // namespace nimbel
