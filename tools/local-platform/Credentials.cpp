#include "Credentials.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace nimbel::localplatform {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";

std::filesystem::path keyFile(const std::filesystem::path &directory)
{
    return directory / "keys.json";
}

} // namespace

std::string randomToken(std::size_t length)
{
    // std::random_device reads the kernel's generator on Linux; 64 symbols divide 2^32
    // evenly, so taking the draw modulo the alphabet keeps every symbol equally likely.
    static thread_local std::random_device device;
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i)
        out.push_back(alphabet[device() % alphabet.size()]);
    return out;
}

Credentials::Credentials(std::optional<std::filesystem::path> stateDirectory)
    : m_stateDirectory(std::move(stateDirectory))
{
}

Result<Done, Failure> Credentials::restore()
{
    std::lock_guard lock(m_mutex);
    if (!m_stateDirectory)
        return Done{};
    const auto file = keyFile(*m_stateDirectory);
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        return Done{};
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    try {
        const auto document = nlohmann::json::parse(content.str());
        for (const auto &key : document.at("keys"))
            m_keys.insert(key.get<std::string>());
    } catch (const nlohmann::json::exception &e) {
        return Failure{file.string() + ": " + e.what()};
    }
    return Done{};
}

Credentials::Pairing Credentials::issueCode(const std::string &platformURL, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    // Forget codes nobody redeemed so that an open console page cannot grow the table forever.
    std::erase_if(m_pending, [&](const auto &entry) { return entry.second.expires <= now; });
    std::string code = randomToken(32);
    m_pending.emplace(code, PendingCode{platformURL, now + codeLifetime});
    return {code, platformURL};
}

Result<Credentials::Redeemed, Credentials::Refusal> Credentials::redeem(std::string_view code, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_pending.find(code);
    if (it == m_pending.end())
        return m_redeemed.contains(code) ? Refusal::used : Refusal::unknown;
    // An expired code stays expired (until it is purged) rather than turning into "used".
    if (it->second.expires <= now)
        return Refusal::expired;
    const PendingCode pending = it->second;
    m_pending.erase(it);
    m_redeemed.insert(std::string(code));
    std::string token = "zelm-local-" + randomToken(40);
    m_keys.insert(token);
    saveLocked();
    return Redeemed{pending.platformURL, std::move(token)};
}

bool Credentials::accepts(std::string_view key) const
{
    std::lock_guard lock(m_mutex);
    return m_keys.contains(key);
}

std::size_t Credentials::issuedKeyCount() const
{
    std::lock_guard lock(m_mutex);
    return m_keys.size();
}

void Credentials::saveLocked() const
{
    if (!m_stateDirectory)
        return;
    std::error_code error;
    std::filesystem::create_directories(*m_stateDirectory, error);
    const auto file = keyFile(*m_stateDirectory);
    const auto temporary = std::filesystem::path(file.string() + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << nlohmann::json{{"keys", m_keys}}.dump(2) << '\n';
        if (!out) {
            std::fprintf(stderr, "could not write %s\n", temporary.c_str());
            return;
        }
    }
    // The keys are secrets of a sort: keep them to the owner, and replace the file atomically.
    std::filesystem::permissions(temporary, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 error);
    std::filesystem::rename(temporary, file, error);
    if (error)
        std::fprintf(stderr, "could not write %s: %s\n", file.c_str(), error.message().c_str());
}

} // namespace nimbel::localplatform
