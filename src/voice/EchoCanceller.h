#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

struct soxr;

namespace webrtc {
class AudioProcessing;
}

namespace nimbel {

// Removes the assistant's own playback from the microphone signal: what the
// players write to the output is the far-end reference of an acoustic echo
// canceller, and the capture comes out cleaned, as 16 kHz mono. Both sides are
// cut into 10 ms frames at that rate.
//
// Both sides keep time from the start of the recording: a reference sample is
// placed at the moment it was written, a capture sample at its position in the
// capture stream, counted from the arrival of the first buffer (never earlier
// than it was recorded, so a reference never comes after its echo). The echo
// therefore follows its reference by a nearly constant delay, however late the
// capture side gets to its buffers.
//
// Threads: references write on the audio server's thread; begin/process/end
// belong to the capture side (process on the input's thread while recording,
// begin and end while it is not). The two sides share only the reference
// timeline, behind one short lock; the processing module is touched by the
// capture side alone.
class EchoCanceller
{
public:
    static constexpr int processingRate = 16000;
    static constexpr std::size_t frameLength = processingRate / 100;

    // What one playback stream hands over as it writes. Used from one thread at
    // a time; the canceller must outlive it.
    class Reference
    {
    public:
        ~Reference();
        Reference(const Reference &) = delete;
        Reference &operator=(const Reference &) = delete;
        // Interleaved frames in the stream's own rate and channels.
        void write(const float *samples, std::size_t frames);

    private:
        friend class EchoCanceller;
        Reference(EchoCanceller &owner, soxr *resampler, double ratio, std::size_t channels);

        EchoCanceller &m_owner;
        soxr *m_resampler;
        double m_ratio;
        std::size_t m_channels;
        std::vector<float> m_mono;
        std::vector<float> m_converted;
    };

    // Nothing when the processing module cannot be set up.
    static std::unique_ptr<EchoCanceller> create();
    ~EchoCanceller();

    // Nothing for a format that cannot be resampled.
    std::unique_ptr<Reference> openReference(double sampleRate, std::size_t channels);

    // Prepares for capture in `sampleRate` / `channels`; false when that cannot be converted.
    bool begin(double sampleRate, std::size_t channels);
    // Appends the cleaned 16 kHz mono samples of `frames` captured frames to `cleaned`
    // (whole 10 ms frames only; the rest waits for the next buffer).
    void process(const float *samples, std::size_t frames, std::vector<float> &cleaned);
    // Stops taking references until the next begin.
    void end();

    // The canceller adapts to the room over the first second and a half of
    // playback it hears; meanwhile the capture is damped by 26 dB while
    // something plays and for 0.4 s after (the echo's way back), so that the
    // first echo does not pass for speech. The owner's voice over those very
    // first moments is damped too; the canceller's state is kept across recordings.
    static constexpr int learningFrames = 150;
    static constexpr float learningGain = 0.05f;
    static constexpr float farActivityLevel = 0.001f;
    static constexpr int echoTailFrames = 40;

    // How much reference is kept ahead of the capture side (two seconds) before the oldest is dropped.
    static constexpr std::size_t referenceLimit = 2 * processingRate;

private:
    explicit EchoCanceller(webrtc::AudioProcessing *processing);
    void queueReference(const float *samples, std::size_t count);

    std::unique_ptr<webrtc::AudioProcessing> m_processing;
    std::atomic<bool> m_capturing{false};
    std::mutex m_lock;
    // Guarded by m_lock: the reference from sample m_referenceStart on (counted
    // at the processing rate from m_origin, the start of the recording).
    std::chrono::steady_clock::time_point m_origin;
    std::deque<float> m_reference;
    std::int64_t m_referenceStart = 0;
    // Where the capture side is on the same timeline; set by its first buffer.
    std::int64_t m_captured = 0;
    bool m_anchored = false;

    // Capture side only.
    soxr *m_captureResampler = nullptr;
    double m_captureRatio = 1.0;
    std::size_t m_captureChannels = 1;
    std::vector<float> m_mono;
    std::vector<float> m_pending;
    std::vector<float> m_far;
    int m_learntFrames = 0;
    int m_echoTail = 0;
};

} // namespace nimbel
