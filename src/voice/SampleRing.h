#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace nimbel {

// A bounded single-producer, single-consumer queue of samples. Its storage is
// allocated once; pushing never blocks and never allocates, and drops what
// does not fit (the consumer fell behind).
template<typename Sample>
class Ring
{
public:
    explicit Ring(std::size_t minimumCapacity)
    {
        std::size_t capacity = 1;
        while (capacity < minimumCapacity)
            capacity <<= 1;
        m_samples.resize(capacity);
        m_mask = capacity - 1;
    }

    // Returns how many samples were taken.
    std::size_t push(const Sample *samples, std::size_t count)
    {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t tail = m_tail.load(std::memory_order_acquire);
        const std::size_t room = m_samples.size() - (head - tail);
        if (count > room)
            count = room;
        for (std::size_t i = 0; i < count; ++i)
            m_samples[(head + i) & m_mask] = samples[i];
        m_head.store(head + count, std::memory_order_release);
        return count;
    }

    std::size_t available() const
    {
        return m_head.load(std::memory_order_acquire) - m_tail.load(std::memory_order_relaxed);
    }

    // Takes exactly `count` samples when that many are there.
    bool pop(Sample *out, std::size_t count)
    {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (m_head.load(std::memory_order_acquire) - tail < count)
            return false;
        for (std::size_t i = 0; i < count; ++i)
            out[i] = m_samples[(tail + i) & m_mask];
        m_tail.store(tail + count, std::memory_order_release);
        return true;
    }

    std::size_t capacity() const { return m_samples.size(); }

private:
    std::vector<Sample> m_samples;
    std::size_t m_mask = 0;
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
};

using SampleRing = Ring<float>;

} // namespace nimbel
