#include "Script.h"

#include "Text.h"

#include <algorithm>
#include <initializer_list>

namespace nimbel::localplatform {

namespace {

using json = nlohmann::json;

// Errors carry the JSON path of the offending value, e.g. faults./v1/desktop/chat.delay_ms.
struct ParseError
{
    std::string message;
};

[[noreturn]] void fail(const std::string &where, const std::string &what)
{
    throw ParseError{where + ": " + what};
}

void requireKnownKeys(const json &object, const std::string &where, std::initializer_list<const char *> known)
{
    for (const auto &[key, value] : object.items()) {
        const bool ok = std::any_of(known.begin(), known.end(), [&](const char *k) { return key == k; });
        if (!ok)
            fail(where, "unknown key \"" + key + "\"");
    }
}

const json &object(const json &value, const std::string &where)
{
    if (!value.is_object())
        fail(where, "must be an object");
    return value;
}

std::string string(const json &value, const std::string &where)
{
    if (!value.is_string())
        fail(where, "must be a string");
    return value.get<std::string>();
}

int integer(const json &value, const std::string &where, int minimum, int maximum)
{
    if (!value.is_number_integer())
        fail(where, "must be an integer");
    const auto n = value.get<long long>();
    if (n < minimum || n > maximum)
        fail(where, "must lie between " + std::to_string(minimum) + " and " + std::to_string(maximum));
    return static_cast<int>(n);
}

std::vector<std::string> strings(const json &value, const std::string &where)
{
    if (value.is_string())
        return {value.get<std::string>()};
    if (!value.is_array())
        fail(where, "must be a string or an array of strings");
    std::vector<std::string> out;
    for (std::size_t i = 0; i < value.size(); ++i)
        out.push_back(string(value[i], where + "[" + std::to_string(i) + "]"));
    return out;
}

std::optional<std::string> optionalString(const json &parent, const char *key, const std::string &where)
{
    if (!parent.contains(key))
        return std::nullopt;
    return string(parent.at(key), where + "." + key);
}

AgentProfile parseAgent(const json &value)
{
    const std::string where = "agent";
    object(value, where);
    requireKnownKeys(value,
                     where,
                     {"agent_id", "agent_name", "owner_email", "address_as", "greet_ru", "greet_en", "skills"});
    AgentProfile agent;
    if (auto id = optionalString(value, "agent_id", where)) {
        if (!text::startsWith(*id, "dsa-") || id->size() == 4)
            fail(where + ".agent_id", "must begin with \"dsa-\" (the assistant refuses other identifiers)");
        agent.agentID = *id;
    }
    if (auto name = optionalString(value, "agent_name", where))
        agent.agentName = *name;
    agent.ownerEmail = optionalString(value, "owner_email", where);
    agent.addressAs = optionalString(value, "address_as", where);
    agent.greetRU = optionalString(value, "greet_ru", where);
    agent.greetEN = optionalString(value, "greet_en", where);
    if (value.contains("skills")) {
        const json &skills = object(value.at("skills"), where + ".skills");
        for (const auto &[key, flag] : skills.items()) {
            if (!flag.is_boolean())
                fail(where + ".skills." + key, "must be true or false");
            agent.skills.emplace_back(key, flag.get<bool>());
        }
    }
    return agent;
}

ScriptedReply parseReply(const json &value, const std::string &where)
{
    object(value, where);
    requireKnownKeys(value, where, {"match", "sentences", "text", "done_reply"});
    ScriptedReply reply;
    if (!value.contains("match"))
        fail(where, "needs \"match\"");
    for (const std::string &m : strings(value.at("match"), where + ".match")) {
        const std::string folded = text::lower(text::trim(m));
        if (folded.empty())
            fail(where + ".match", "must not be blank");
        reply.matches.push_back(folded);
    }
    if (value.contains("sentences") == value.contains("text"))
        fail(where, "needs exactly one of \"sentences\" and \"text\"");
    if (value.contains("sentences")) {
        for (const std::string &s : strings(value.at("sentences"), where + ".sentences")) {
            std::string trimmed = text::trim(s);
            if (!trimmed.empty())
                reply.sentences.push_back(std::move(trimmed));
        }
    } else {
        reply.sentences = text::sentences(string(value.at("text"), where + ".text"));
    }
    reply.doneReply = optionalString(value, "done_reply", where);
    if (reply.sentences.empty() && !reply.doneReply)
        fail(where, "says nothing: give sentences, text or done_reply");
    return reply;
}

Fault parseFault(const json &value, const std::string &where)
{
    object(value, where);
    requireKnownKeys(value,
                     where,
                     {"status", "body", "content_type", "headers", "delay_ms", "pause_after", "pause_ms", "cut_after",
                      "cut_mid_event", "malformed_event", "error_event", "times"});
    Fault fault;
    if (value.contains("status"))
        fault.status = integer(value.at("status"), where + ".status", 100, 599);
    if (value.contains("body")) {
        const json &body = value.at("body");
        fault.body = body.is_string() ? body.get<std::string>() : body.dump();
        fault.contentType = body.is_string() ? "text/plain; charset=utf-8" : "application/json";
    } else {
        fault.body = R"({"error":"Scripted failure"})";
        fault.contentType = "application/json";
    }
    if (auto type = optionalString(value, "content_type", where))
        fault.contentType = *type;
    if (value.contains("headers")) {
        const json &headers = object(value.at("headers"), where + ".headers");
        for (const auto &[name, v] : headers.items())
            fault.headers.emplace_back(name, string(v, where + ".headers." + name));
    }
    if (value.contains("delay_ms"))
        fault.delayMs = integer(value.at("delay_ms"), where + ".delay_ms", 0, 600000);
    if (value.contains("pause_after") != value.contains("pause_ms"))
        fail(where, "\"pause_after\" and \"pause_ms\" go together");
    if (value.contains("pause_after")) {
        fault.pauseAfter = integer(value.at("pause_after"), where + ".pause_after", 0, 1 << 30);
        fault.pauseMs = integer(value.at("pause_ms"), where + ".pause_ms", 0, 600000);
    }
    if (value.contains("cut_after"))
        fault.cutAfter = integer(value.at("cut_after"), where + ".cut_after", 0, 1 << 30);
    if (value.contains("cut_mid_event")) {
        if (!value.contains("cut_after"))
            fail(where, "\"cut_mid_event\" needs \"cut_after\"");
        const json &flag = value.at("cut_mid_event");
        if (!flag.is_boolean())
            fail(where + ".cut_mid_event", "must be true or false");
        fault.cutMidEvent = flag.get<bool>();
    }
    if (value.contains("malformed_event")) {
        const std::string w = where + ".malformed_event";
        const json &m = object(value.at("malformed_event"), w);
        requireKnownKeys(m, w, {"after", "line"});
        MalformedEvent event;
        if (m.contains("after"))
            event.after = integer(m.at("after"), w + ".after", 0, 1 << 30);
        event.line = m.contains("line") ? string(m.at("line"), w + ".line") : "data: {\"type\": \"sentence\", \"text\"";
        if (event.line.find_first_of("\r\n") != std::string::npos)
            fail(w + ".line", "must be a single line");
        fault.malformed = event;
    }
    if (value.contains("error_event")) {
        const std::string w = where + ".error_event";
        const json &e = object(value.at("error_event"), w);
        requireKnownKeys(e, w, {"after", "error"});
        ErrorEvent event;
        if (e.contains("after"))
            event.after = integer(e.at("after"), w + ".after", 0, 1 << 30);
        if (e.contains("error"))
            event.error = string(e.at("error"), w + ".error");
        fault.errorEvent = event;
    }
    if (value.contains("times"))
        fault.times = integer(value.at("times"), where + ".times", 1, 1 << 30);
    return fault;
}

Script parse(const json &document)
{
    object(document, "script");
    requireKnownKeys(document, "script", {"agent", "token", "tokens", "chat", "transcription", "analyze", "faults"});
    Script script;
    if (document.contains("agent"))
        script.agent = parseAgent(document.at("agent"));
    // Switched-on skills first in their usual order, then whatever else the script names.
    std::vector<std::pair<std::string, bool>> skills;
    for (const std::string &name : knownSkills()) {
        const auto it = std::find_if(script.agent.skills.begin(),
                                     script.agent.skills.end(),
                                     [&](const auto &s) { return s.first == name; });
        skills.emplace_back(name, it == script.agent.skills.end() ? true : it->second);
    }
    for (const auto &skill : script.agent.skills) {
        if (std::find(knownSkills().begin(), knownSkills().end(), skill.first) == knownSkills().end())
            skills.push_back(skill);
    }
    script.agent.skills = std::move(skills);

    for (const char *key : {"token", "tokens"}) {
        if (!document.contains(key))
            continue;
        for (const std::string &token : strings(document.at(key), key)) {
            const std::string trimmed = text::trim(token);
            if (trimmed.empty())
                fail(key, "must not be blank");
            script.tokens.push_back(trimmed);
        }
    }
    if (document.contains("chat")) {
        const json &chat = object(document.at("chat"), "chat");
        requireKnownKeys(chat, "chat", {"pause_ms", "replies"});
        if (chat.contains("pause_ms"))
            script.chatPauseMs = integer(chat.at("pause_ms"), "chat.pause_ms", 0, 60000);
        if (chat.contains("replies")) {
            const json &replies = chat.at("replies");
            if (!replies.is_array())
                fail("chat.replies", "must be an array");
            for (std::size_t i = 0; i < replies.size(); ++i)
                script.replies.push_back(parseReply(replies[i], "chat.replies[" + std::to_string(i) + "]"));
        }
    }
    if (document.contains("transcription")) {
        const json &t = object(document.at("transcription"), "transcription");
        requireKnownKeys(t, "transcription", {"text", "sequence"});
        if (t.contains("text") && t.contains("sequence"))
            fail("transcription", "give either \"text\" or \"sequence\"");
        if (t.contains("text"))
            script.transcripts = {string(t.at("text"), "transcription.text")};
        if (t.contains("sequence"))
            script.transcripts = strings(t.at("sequence"), "transcription.sequence");
    }
    if (document.contains("analyze")) {
        const json &a = object(document.at("analyze"), "analyze");
        requireKnownKeys(a, "analyze", {"server_timing", "answer"});
        if (a.contains("answer")) {
            const json &answer = object(a.at("answer"), "analyze.answer");
            string(answer.contains("summary") ? answer.at("summary") : json(), "analyze.answer.summary");
            script.analyzeAnswer = nlohmann::ordered_json(answer);
        }
        if (a.contains("server_timing")) {
            if (!a.at("server_timing").is_boolean())
                fail("analyze.server_timing", "must be true or false");
            script.serverTiming = a.at("server_timing").get<bool>();
        }
    }
    if (document.contains("faults")) {
        const json &faults = object(document.at("faults"), "faults");
        for (const auto &[path, fault] : faults.items()) {
            if (!text::startsWith(path, "/"))
                fail("faults." + path, "the key must be an endpoint path beginning with \"/\"");
            script.faults.emplace(path, parseFault(fault, "faults." + path));
        }
    }
    return script;
}

} // namespace

const std::vector<std::string> &knownSkills()
{
    static const std::vector<std::string> names{"screen_capture",      "screen_understanding", "people_on_screen",
                                                "navigation_guidance", "web_research",         "voice_conversation"};
    return names;
}

Result<Script, Failure> parseScript(const nlohmann::json &document)
{
    try {
        return parse(document);
    } catch (const ParseError &e) {
        return Failure{e.message};
    }
}

} // namespace nimbel::localplatform
