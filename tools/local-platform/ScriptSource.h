#pragma once

#include "Script.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace nimbel::localplatform {

// The script in effect. With a file, the file is read on every request and parsed again
// when its content changed, so a test can rewrite it between requests (scripts are small;
// comparing content avoids missing a rewrite within one timestamp tick).
// A file that no longer parses keeps the previous script in effect and says why on stderr.
class ScriptSource
{
public:
    // Without a file the defaults apply.
    ScriptSource();
    explicit ScriptSource(std::filesystem::path file);

    // Reads the file now; the failure names the file and the offending key.
    Result<Done, Failure> load();

    std::shared_ptr<const Script> current();

    // The fault scripted for `path` if it is not spent; each call counts as one use.
    std::optional<Fault> takeFault(const std::string &path);

    // Hands out the scripted transcripts in turn, the last one repeating.
    std::optional<std::string> nextTranscript();

private:
    void refreshLocked();
    Result<Done, Failure> readLocked();

    std::mutex m_mutex;
    std::optional<std::filesystem::path> m_file;
    std::shared_ptr<const Script> m_script;
    std::optional<std::string> m_content;
    std::map<std::string, int> m_faultUses;
    std::size_t m_transcriptIndex = 0;
};

} // namespace nimbel::localplatform
