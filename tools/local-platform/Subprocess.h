#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbel::localplatform {

struct ProcessOutcome
{
    int exitCode = -1; // -1 when the process did not exit normally
    bool timedOut = false;
    std::string output;
    std::string errors;
};

// Runs a program found on PATH with `input` on its standard input and collects both output
// streams. A process that outlives `limit` is killed. Nothing goes through a shell. Fails
// (nullopt) only when the program cannot be started. The caller ignores SIGPIPE (a child that
// stops reading early must not end the server).
std::optional<ProcessOutcome> runProcess(const std::vector<std::string> &arguments, std::string_view input,
                                         std::chrono::milliseconds limit);

} // namespace nimbel::localplatform
