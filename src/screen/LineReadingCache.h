#pragma once

#include "screen/GrayImage.h"
#include "screen/LineReader.h"

#include <QRect>

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <unordered_map>

namespace nimbel {

// What a line was read as, remembered by the line's own pixels, so that a
// window read again (the same dialog asked about twice, a clock that ticked)
// only has its changed lines read. A reading depends on nothing but the pixels
// and the engine that read them, so an entry can never carry anything of the
// window it was first seen in: a line of another window hits only when its
// pixels are the very same.
//
// Bounded by a number of entries and by the bytes their text holds; the least
// recently used entries go first. Not thread-safe.
class LineReadingCache
{
public:
    // Which engine read the line: one alphabet alone (Latin narrowed, or at
    // full width for accents), or both at once.
    enum class Engine : std::uint8_t { latin, cyrillic, combined, accentedLatin };

    struct Key
    {
        std::uint64_t first = 0; // two independent hashes of the pixels
        std::uint64_t second = 0;
        int width = 0;
        int height = 0;
        int scale = 0;
        Engine engine = Engine::combined;

        bool operator==(const Key &) const = default;
    };

    // The key of the pixels of `area` in `image`, read at `scale` by `engine`.
    static Key keyOf(const GrayImage &image, const QRect &area, int scale, Engine engine);

    LineReadingCache(std::size_t maximumEntries, std::size_t maximumBytes);

    // The remembered reading (and it becomes the most recently used one).
    std::optional<LineReader::Reading> find(const Key &key);
    void insert(const Key &key, const LineReader::Reading &reading);

    std::size_t size() const { return m_entries.size(); }
    std::size_t bytes() const { return m_bytes; }

private:
    struct KeyHash
    {
        std::size_t operator()(const Key &key) const { return static_cast<std::size_t>(key.first); }
    };
    struct Entry
    {
        Key key;
        LineReader::Reading reading;
        std::size_t bytes = 0;
    };
    void evictBeyondBounds();

    std::size_t m_maximumEntries;
    std::size_t m_maximumBytes;
    std::size_t m_bytes = 0;
    std::list<Entry> m_entries; // most recently used first
    std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> m_index;
};

} // namespace nimbel
