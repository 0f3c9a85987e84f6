#include "ScriptSource.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace nimbel::localplatform {

namespace {

std::optional<std::string> readFile(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream content;
    content << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return content.str();
}

} // namespace

ScriptSource::ScriptSource()
    : m_script(std::make_shared<const Script>(parseScript(nlohmann::json::object()).value()))
{
}

ScriptSource::ScriptSource(std::filesystem::path file)
    : ScriptSource()
{
    m_file = std::move(file);
}

Result<Done, Failure> ScriptSource::load()
{
    std::lock_guard lock(m_mutex);
    return readLocked();
}

Result<Done, Failure> ScriptSource::readLocked()
{
    if (!m_file)
        return Done{};
    auto content = readFile(*m_file);
    if (!content)
        return Failure{m_file->string() + ": cannot be read"};
    // Remember what we looked at even when it fails to parse, so that a broken file is
    // reported once rather than on every request.
    m_content = *content;
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(*content);
    } catch (const nlohmann::json::exception &e) {
        return Failure{m_file->string() + ": not valid JSON: " + e.what()};
    }
    auto script = parseScript(document);
    if (!script)
        return Failure{m_file->string() + ": " + script.error().message};
    m_script = std::make_shared<const Script>(std::move(script).value());
    m_faultUses.clear();
    m_transcriptIndex = 0;
    return Done{};
}

void ScriptSource::refreshLocked()
{
    if (!m_file)
        return;
    const auto content = readFile(*m_file);
    if (!content || content == m_content)
        return;
    if (auto result = readLocked(); !result) {
        std::fprintf(stderr, "script not reloaded: %s\n", result.error().message.c_str());
        std::fflush(stderr);
    }
}

std::shared_ptr<const Script> ScriptSource::current()
{
    std::lock_guard lock(m_mutex);
    refreshLocked();
    return m_script;
}

std::optional<Fault> ScriptSource::takeFault(const std::string &path)
{
    std::lock_guard lock(m_mutex);
    refreshLocked();
    const auto it = m_script->faults.find(path);
    if (it == m_script->faults.end())
        return std::nullopt;
    int &uses = m_faultUses[path];
    if (it->second.times && uses >= *it->second.times)
        return std::nullopt;
    ++uses;
    return it->second;
}

std::optional<std::string> ScriptSource::nextTranscript()
{
    std::lock_guard lock(m_mutex);
    refreshLocked();
    const auto &transcripts = m_script->transcripts;
    if (transcripts.empty())
        return std::nullopt;
    const std::size_t index = std::min(m_transcriptIndex, transcripts.size() - 1);
    ++m_transcriptIndex;
    return transcripts[index];
}

} // namespace nimbel::localplatform
