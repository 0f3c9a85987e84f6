#include "RequestJournal.h"

namespace nimbel::localplatform {

namespace {

// A decoded path may hold spaces or line breaks; the log keeps one request per line.
std::string printable(const std::string &path)
{
    std::string out;
    for (unsigned char c : path) {
        if (c == ' ')
            out += "%20";
        else if (c < 0x20 || c == 0x7F)
            out += '?';
        else
            out.push_back(static_cast<char>(c));
    }
    return out;
}

} // namespace

RequestJournal::RequestJournal(std::FILE *log)
    : m_log(log)
{
}

void RequestJournal::record(JournalEntry entry, bool keep)
{
    std::lock_guard lock(m_mutex);
    if (m_log) {
        std::fprintf(m_log, "request method=%s path=%s status=%d duration_ms=%lld\n", printable(entry.method).c_str(),
                     printable(entry.path).c_str(), entry.status, entry.durationMs);
        // Tests read the log through a pipe, where stdio would otherwise buffer whole pages.
        std::fflush(m_log);
    }
    if (!keep)
        return;
    entry.sequence = m_nextSequence++;
    m_entries.push_back(std::move(entry));
    while (m_entries.size() > capacity)
        m_entries.pop_front();
}

nlohmann::ordered_json RequestJournal::entries(std::uint64_t after) const
{
    std::lock_guard lock(m_mutex);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const JournalEntry &e : m_entries) {
        if (e.sequence <= after)
            continue;
        nlohmann::ordered_json item;
        item["sequence"] = e.sequence;
        item["method"] = e.method;
        item["path"] = e.path;
        item["status"] = e.status;
        item["duration_ms"] = e.durationMs;
        if (e.details.is_object()) {
            for (const auto &[key, value] : e.details.items())
                item[key] = value;
        }
        list.push_back(std::move(item));
    }
    return list;
}

void RequestJournal::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_lastImage.reset();
}

void RequestJournal::keepAnalyzeImage(std::string jpeg)
{
    std::lock_guard lock(m_mutex);
    m_lastImage = std::move(jpeg);
}

std::optional<std::string> RequestJournal::lastAnalyzeImage() const
{
    std::lock_guard lock(m_mutex);
    return m_lastImage;
}

} // namespace nimbel::localplatform
