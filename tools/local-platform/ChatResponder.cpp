#include "ChatResponder.h"

#include "Text.h"

#include <algorithm>
#include <optional>
#include <regex>

namespace nimbel::localplatform {

namespace {

struct ContextNote
{
    std::string tag;                // text inside the brackets
    std::vector<std::string> lines; // trimmed, non-empty, without the tag line
};

std::vector<std::string> lines(const std::string &content)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= content.size()) {
        const std::size_t end = content.find_first_of("\r\n", start);
        std::string line = text::trim(content.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!line.empty())
            out.push_back(std::move(line));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

// The assistant sends its hidden context as user messages whose first line is a tag in
// brackets; the tag is translated with the interface, so any short bracketed first line counts.
std::optional<ContextNote> contextNote(const ChatTurn &turn)
{
    if (turn.role != "user")
        return std::nullopt;
    const std::string content = text::trim(turn.content);
    const std::size_t lineEnd = content.find_first_of("\r\n");
    if (lineEnd == std::string::npos)
        return std::nullopt;
    const std::string first = text::trim(content.substr(0, lineEnd));
    if (first.size() < 3 || first.front() != '[' || first.back() != ']' || text::characterCount(first) > 34)
        return std::nullopt;
    ContextNote note;
    note.tag = first.substr(1, first.size() - 2);
    note.lines = lines(content.substr(lineEnd + 1));
    return note;
}

std::string withFullStop(std::string sentence)
{
    if (sentence.empty())
        return sentence;
    const std::u32string cps = text::decode(sentence);
    const char32_t last = cps.back();
    if (last != U'.' && last != U'!' && last != U'?' && last != U'…')
        sentence += ".";
    return sentence;
}

const std::regex &stepPattern()
{
    static const std::regex pattern(R"(^(\d+)\.\s+(.+)$)");
    return pattern;
}

bool hasSteps(const ContextNote &note)
{
    return std::any_of(note.lines.begin(), note.lines.end(), [](const std::string &line) {
        return std::regex_match(line, stepPattern());
    });
}

// "2. Click «Continue» (Continue)" reads badly aloud: the label in parentheses repeats what
// the instruction already says, so it is dropped in that case.
std::string spokenInstruction(const std::string &instruction)
{
    static const std::regex labelled(R"(^(.*\S)\s+\(([^()]+)\)$)");
    std::smatch m;
    if (std::regex_match(instruction, m, labelled)) {
        const std::string body = m[1].str();
        if (text::lower(body).find(text::lower(m[2].str())) != std::string::npos)
            return body;
    }
    return instruction;
}

std::vector<std::string> screenAnswer(const ContextNote &analyst, bool russian)
{
    std::vector<std::string> out;
    std::vector<std::string> afterSteps;
    bool seenStep = false;
    for (const std::string &line : analyst.lines) {
        std::smatch m;
        if (std::regex_match(line, m, stepPattern())) {
            seenStep = true;
            out.push_back(withFullStop((russian ? "Шаг " : "Step ") + m[1].str() + ": "
                                       + spokenInstruction(text::trim(m[2].str()))));
        } else if (!seenStep) {
            for (std::string &s : text::sentences(line))
                out.push_back(withFullStop(std::move(s)));
        } else {
            afterSteps.push_back(withFullStop(line));
        }
    }
    out.insert(out.end(), afterSteps.begin(), afterSteps.end());
    return out;
}

bool containsAny(const std::string &folded, std::initializer_list<const char *> needles)
{
    return std::any_of(needles.begin(), needles.end(), [&](const char *n) { return folded.find(n) != std::string::npos; });
}

bool hasWord(const std::vector<std::string> &words, std::initializer_list<const char *> candidates)
{
    return std::any_of(words.begin(), words.end(), [&](const std::string &w) {
        return std::any_of(candidates.begin(), candidates.end(), [&](const char *c) { return w == c; });
    });
}

std::vector<std::string> defaultAnswer(const std::string &question, const Script &script, bool russian)
{
    const std::string &name = script.agent.agentName;
    const std::string folded = text::lower(question);
    const std::vector<std::string> words = text::words(question);
    const std::string address = script.agent.addressAs ? text::trim(*script.agent.addressAs) : std::string();
    const std::string greetingName = address.empty() ? std::string() : ", " + address;

    if (question.empty()) {
        if (russian)
            return {"Здравствуйте" + greetingName + "!", "Чем могу помочь?"};
        return {"Hello" + greetingName + "!", "How can I help?"};
    }
    if (hasWord(words, {"hello", "hi", "hey", "привет", "здравствуй", "здравствуйте", "добрый"})) {
        if (russian)
            return {"Здравствуйте" + greetingName + "!", "Я " + name + ", работаю на локальной платформе.",
                    "Чем могу помочь?"};
        return {"Hello" + greetingName + "!", "I'm " + name + ", running on the local platform.", "How can I help?"};
    }
    if (containsAny(folded, {"your name", "who are you", "как тебя зовут", "как вас зовут", "кто ты", "кто вы"})) {
        if (russian)
            return {"Меня зовут " + name + ".", "Я отвечаю с локальной платформы для разработки."};
        return {"My name is " + name + ".", "I'm answering from the local development platform."};
    }
    if (hasWord(words, {"thanks", "thank", "спасибо", "благодарю"})) {
        if (russian)
            return {"Пожалуйста!", "Обращайтесь, если понадобится что-то ещё."};
        return {"You're welcome!", "Just ask if you need anything else."};
    }
    const std::string quoted = text::shortened(question, 120);
    if (russian)
        return {"Вы спросили: «" + quoted + "».", "Это локальная платформа для разработки, поэтому мои ответы заготовлены.",
                "Спросите, где что-то находится на экране, и я покажу."};
    return {"You asked: “" + quoted + "”.", "This is the local development platform, so my answers are canned.",
            "Ask me where something is on your screen and I will point it out."};
}

std::string joined(const std::vector<std::string> &sentences)
{
    std::string out;
    for (const std::string &s : sentences) {
        if (!out.empty())
            out += ' ';
        out += s;
    }
    return out;
}

} // namespace

ChatReply composeReply(const std::vector<ChatTurn> &messages, const Script &script, const std::string &requestLanguage)
{
    // The owner's question is the last user message that is not hidden context.
    std::optional<std::size_t> questionIndex;
    for (std::size_t i = messages.size(); i-- > 0;) {
        if (messages[i].role == "user" && !contextNote(messages[i])) {
            questionIndex = i;
            break;
        }
    }
    const std::string question = questionIndex ? text::trim(messages[*questionIndex].content) : std::string();

    ChatReply reply;
    reply.russian = questionIndex ? text::hasCyrillic(question) : requestLanguage == "ru";

    const std::string folded = text::lower(question);
    for (const ScriptedReply &scripted : script.replies) {
        const bool matches = std::any_of(scripted.matches.begin(), scripted.matches.end(), [&](const std::string &m) {
            return folded.find(m) != std::string::npos;
        });
        if (matches) {
            reply.sentences = scripted.sentences;
            reply.doneReply = scripted.doneReply.value_or(joined(reply.sentences));
            return reply;
        }
    }

    // Context attached to this question (after it), the most recent analysis first.
    std::optional<ContextNote> analyst;
    std::vector<std::string> facts;
    for (std::size_t i = questionIndex ? *questionIndex + 1 : 0; i < messages.size(); ++i) {
        auto note = contextNote(messages[i]);
        if (!note)
            continue;
        if (text::lower(note->tag) == "analyst" || hasSteps(*note))
            analyst = std::move(note);
        else
            facts.insert(facts.end(), note->lines.begin(), note->lines.end());
    }
    if (analyst)
        reply.sentences = screenAnswer(*analyst, reply.russian);
    if (reply.sentences.empty() && !facts.empty()) {
        reply.sentences.push_back(reply.russian ? "Вот что я вижу на экране." : "Here is what I see on the screen.");
        for (const std::string &fact : facts)
            reply.sentences.push_back(withFullStop(fact));
    }
    if (reply.sentences.empty())
        reply.sentences = defaultAnswer(question, script, reply.russian);
    reply.doneReply = joined(reply.sentences);
    return reply;
}

} // namespace nimbel::localplatform
