#pragma once

#include <core/Result.h>

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nimbel::localplatform {

struct Failure
{
    std::string message;
};

// The one agent this server plays.
struct AgentProfile
{
    std::string agentID = "dsa-local-agent";
    std::string agentName = "Nimbel";
    std::optional<std::string> ownerEmail;
    std::optional<std::string> addressAs;
    std::optional<std::string> greetRU;
    std::optional<std::string> greetEN;
    std::vector<std::pair<std::string, bool>> skills;
};

// A canned chat answer, chosen when the question contains one of `matches`
// (case-insensitive substring).
struct ScriptedReply
{
    std::vector<std::string> matches;
    std::vector<std::string> sentences;
    // Sent as the "reply" of the "done" event instead of the joined sentences.
    std::optional<std::string> doneReply;
};

struct MalformedEvent
{
    int after = 0; // number of sentence events sent before the line
    std::string line;
};

struct ErrorEvent
{
    int after = 0;
    std::string error;
};

// What can go wrong on purpose at one endpoint. Counts are events for the chat stream and
// bytes for whole-body answers.
struct Fault
{
    std::optional<int> status;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    int delayMs = 0;
    int pauseAfter = -1;
    int pauseMs = 0;
    int cutAfter = -1;
    // Chat only: the cut falls inside the next event, after the first half of its line.
    bool cutMidEvent = false;
    std::optional<MalformedEvent> malformed;
    std::optional<ErrorEvent> errorEvent;
    // Applies to this many requests, then the fault is spent; absent = every request.
    std::optional<int> times;
};

struct Script
{
    AgentProfile agent;
    std::vector<std::string> tokens;
    std::optional<int> chatPauseMs;
    std::vector<ScriptedReply> replies;
    // Transcripts handed out in turn; the last one repeats. Empty = recognise the audio.
    std::vector<std::string> transcripts;
    bool serverTiming = true;
    // A navigation answer given to every analysis as it stands; absent = answered from the payload.
    std::optional<nlohmann::ordered_json> analyzeAnswer;
    std::map<std::string, Fault> faults; // by endpoint path
};

// The skills every agent has switched on unless the script says otherwise, in this order.
const std::vector<std::string> &knownSkills();

// Reads a script document; unknown keys are errors so that a typo never silently does nothing.
Result<Script, Failure> parseScript(const nlohmann::json &document);

} // namespace nimbel::localplatform
