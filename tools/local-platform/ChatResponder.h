#pragma once

#include "Script.h"

#include <string>
#include <vector>

namespace nimbel::localplatform {

// One message of a chat request ("role", "content").
struct ChatTurn
{
    std::string role;
    std::string content;
};

struct ChatReply
{
    std::vector<std::string> sentences; // one server-sent event each
    std::string doneReply;              // the "reply" of the closing "done" event
    bool russian = false;
};

// Answers the conversation: a scripted reply when the owner's question contains one of its
// phrases; otherwise, when the assistant attached a screen analysis to the question (a user
// message that starts with a bracketed tag line such as "[ANALYST]"), the summary and steps
// of that analysis; otherwise a short acknowledgement. The reply is Russian when the owner's
// question has a Cyrillic letter; without any question `requestLanguage` ("ru"/"en") decides.
ChatReply composeReply(const std::vector<ChatTurn> &messages, const Script &script, const std::string &requestLanguage);

} // namespace nimbel::localplatform
