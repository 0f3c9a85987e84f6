#include "screen/LineReadingCache.h"

#include <QHashFunctions>

namespace nimbel {

namespace {

// An entry's share of memory: its text, the key and the list and index nodes.
std::size_t entryBytes(const LineReader::Reading &reading)
{
    constexpr std::size_t bookkeeping = 160;
    return bookkeeping + static_cast<std::size_t>(reading.text.size() + reading.lastSymbol.size()) * sizeof(QChar);
}

} // namespace

LineReadingCache::Key LineReadingCache::keyOf(const GrayImage &image, const QRect &area, int scale, Engine engine)
{
    Key key;
    key.width = area.width();
    key.height = area.height();
    key.scale = scale;
    key.engine = engine;
    // Two seeded hashes chained over the rows: 128 bits, so that two
    // different lines sharing a key is out of the question in practice.
    std::size_t first = 0x9e3779b97f4a7c15ULL;
    std::size_t second = 0xc2b2ae3d27d4eb4fULL;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const std::uint8_t *row = image.row(y) + area.left();
        first = qHashBits(row, static_cast<std::size_t>(area.width()), first);
        second = qHashBits(row, static_cast<std::size_t>(area.width()), second + 1);
    }
    key.first = first;
    key.second = second;
    return key;
}

LineReadingCache::LineReadingCache(std::size_t maximumEntries, std::size_t maximumBytes)
    : m_maximumEntries(maximumEntries)
    , m_maximumBytes(maximumBytes)
{
}

std::optional<LineReader::Reading> LineReadingCache::find(const Key &key)
{
    const auto found = m_index.find(key);
    if (found == m_index.end())
        return std::nullopt;
    m_entries.splice(m_entries.begin(), m_entries, found->second);
    return found->second->reading;
}

void LineReadingCache::insert(const Key &key, const LineReader::Reading &reading)
{
    if (const auto found = m_index.find(key); found != m_index.end()) {
        m_bytes -= found->second->bytes;
        m_entries.erase(found->second);
        m_index.erase(found);
    }
    const std::size_t bytes = entryBytes(reading);
    if (m_maximumEntries == 0 || bytes > m_maximumBytes)
        return;
    m_entries.push_front({key, reading, bytes});
    m_index.emplace(key, m_entries.begin());
    m_bytes += bytes;
    evictBeyondBounds();
}

void LineReadingCache::evictBeyondBounds()
{
    while (!m_entries.empty() && (m_entries.size() > m_maximumEntries || m_bytes > m_maximumBytes)) {
        m_bytes -= m_entries.back().bytes;
        m_index.erase(m_entries.back().key);
        m_entries.pop_back();
    }
}

} // namespace nimbel
