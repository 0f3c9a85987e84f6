#pragma once

#include "Script.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nimbel::localplatform {

struct Options
{
    int port = 4100; // 0 = any free port
    std::optional<std::filesystem::path> script;
    std::optional<std::filesystem::path> stateDirectory;
    std::vector<std::string> tokens;
    std::optional<int> chatPauseMs;
    // Transcriptions and syntheses are answered no sooner than this many
    // milliseconds after their request arrived (fixed delays for benchmarks).
    int transcriptionDelayMs = 0;
    int speechDelayMs = 0;
    std::filesystem::path modelDirectory = "/usr/share/pocketsphinx/model/en-us";
    // A release offered on the update feed, signed with a key made at start
    // (served at /debug/update-key); none: the feed lists no release.
    std::optional<std::string> updateVersion;
    // "good", "wrong" (signed by another key) or "none".
    std::string updateSigning = "good";
    bool help = false;
};

// Parses the command line (without the program name). Both "--port 5" and "--port=5" work.
Result<Options, Failure> parseOptions(const std::vector<std::string> &arguments);

std::string usage();

} // namespace nimbel::localplatform
