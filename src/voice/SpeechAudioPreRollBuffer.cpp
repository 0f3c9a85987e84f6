#include "voice/SpeechAudioPreRollBuffer.h"

#include <algorithm>
#include <cmath>

namespace nimbel {

SpeechAudioPreRollBuffer::SpeechAudioPreRollBuffer(double sampleRate)
    : m_limit(std::max<std::size_t>(1, std::size_t(std::max(0.0, std::floor(sampleRate * duration)))))
{
}

void SpeechAudioPreRollBuffer::append(const float *samples, std::size_t frames, std::size_t channels)
{
    if (!samples || frames == 0 || channels == 0)
        return;
    AudioBuffer copy{std::vector<float>(samples, samples + frames * channels), channels};
    const std::lock_guard guard(m_lock);
    m_buffers.push_back(std::move(copy));
    m_frameCount += frames;
    while (m_buffers.size() >= 2 && m_frameCount > m_limit) {
        m_frameCount -= m_buffers.front().frames();
        m_buffers.pop_front();
    }
}

std::vector<AudioBuffer> SpeechAudioPreRollBuffer::drain()
{
    const std::lock_guard guard(m_lock);
    std::vector<AudioBuffer> drained(std::make_move_iterator(m_buffers.begin()),
                                     std::make_move_iterator(m_buffers.end()));
    m_buffers.clear();
    m_frameCount = 0;
    return drained;
}

void SpeechAudioPreRollBuffer::reset()
{
    const std::lock_guard guard(m_lock);
    m_buffers.clear();
    m_frameCount = 0;
}

std::size_t SpeechAudioPreRollBuffer::frameCount() const
{
    const std::lock_guard guard(m_lock);
    return m_frameCount;
}

} // namespace nimbel
