#pragma once

#include "Script.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace nimbel::localplatform {

// One-time pairing codes and the API keys issued for them. Keys live in memory; with a
// state directory they are also kept in "<dir>/keys.json", so that a paired assistant stays
// paired across restarts of the server. Codes never outlive the process.
class Credentials
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes codeLifetime{10};

    struct Pairing
    {
        std::string code;
        std::string platformURL;
    };

    enum class Refusal { unknown, used, expired };

    explicit Credentials(std::optional<std::filesystem::path> stateDirectory = std::nullopt);

    // Reads keys saved by an earlier run; fails when the file exists but is unreadable.
    Result<Done, Failure> restore();

    // A fresh code for a link that names `platformURL` as its platform.
    Pairing issueCode(const std::string &platformURL, Clock::time_point now = Clock::now());

    struct Redeemed
    {
        std::string platformURL;
        std::string token;
    };
    // Redeems a code once and issues a new key for it.
    Result<Redeemed, Refusal> redeem(std::string_view code, Clock::time_point now = Clock::now());

    bool accepts(std::string_view key) const;
    std::size_t issuedKeyCount() const;

private:
    struct PendingCode
    {
        std::string platformURL;
        Clock::time_point expires;
    };

    void saveLocked() const;

    mutable std::mutex m_mutex;
    std::optional<std::filesystem::path> m_stateDirectory;
    std::map<std::string, PendingCode, std::less<>> m_pending;
    std::set<std::string, std::less<>> m_redeemed;
    std::set<std::string, std::less<>> m_keys;
};

// Random text from [A-Za-z0-9_-], suitable for codes and keys.
std::string randomToken(std::size_t length);

} // namespace nimbel::localplatform
