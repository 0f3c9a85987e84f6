#pragma once

#include "voice/AudioBuffer.h"

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace nimbel {

// The last stretch of input before speech is detected, so that a recording
// begins a little before the first loud buffer. Always keeps the newest buffer.
class SpeechAudioPreRollBuffer
{
public:
    static constexpr double duration = 0.75;

    explicit SpeechAudioPreRollBuffer(double sampleRate);

    // Copies `frames` interleaved frames; an empty or malformed buffer is ignored.
    void append(const float *samples, std::size_t frames, std::size_t channels);
    // Every buffer held, oldest first; the buffer is empty afterwards.
    std::vector<AudioBuffer> drain();
    void reset();

    std::size_t frameCount() const;
    std::size_t frameLimit() const { return m_limit; }

private:
    mutable std::mutex m_lock;
    std::deque<AudioBuffer> m_buffers;
    std::size_t m_frameCount = 0;
    std::size_t m_limit;
};

} // namespace nimbel
