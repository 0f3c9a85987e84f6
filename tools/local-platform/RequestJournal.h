#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace nimbel::localplatform {

struct JournalEntry
{
    std::uint64_t sequence = 0;
    std::string method;
    std::string path;
    int status = 0;
    long long durationMs = 0;
    nlohmann::ordered_json details; // what the endpoint chose to keep, an object or null
};

// Recent requests for end-to-end tests to inspect (GET /debug/requests), and the request log
// on standard output: one line per request, "request method=POST path=/v1/desktop/chat
// status=200 duration_ms=153".
class RequestJournal
{
public:
    static constexpr std::size_t capacity = 200;

    explicit RequestJournal(std::FILE *log = stdout);

    // Prints the log line; `keep` also adds the entry to the journal.
    void record(JournalEntry entry, bool keep = true);

    // Entries with a sequence number above `after`, oldest first.
    nlohmann::ordered_json entries(std::uint64_t after = 0) const;
    void clear();

    void keepAnalyzeImage(std::string jpeg);
    std::optional<std::string> lastAnalyzeImage() const;

private:
    mutable std::mutex m_mutex;
    std::FILE *m_log;
    std::uint64_t m_nextSequence = 1;
    std::deque<JournalEntry> m_entries;
    std::optional<std::string> m_lastImage;
};

} // namespace nimbel::localplatform
