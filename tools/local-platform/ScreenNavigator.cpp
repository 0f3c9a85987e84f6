#include "ScreenNavigator.h"

#include "Text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <regex>
#include <set>
#include <tuple>

namespace nimbel::localplatform {

namespace {

using json = nlohmann::ordered_json;

// ---------------------------------------------------------------------------------------------
// Payload checks

struct Problem
{
    std::string message;
};

[[noreturn]] void reject(const std::string &where, const std::string &what)
{
    throw Problem{"payload: \"" + where + "\" " + what};
}

const json &member(const json &object, const char *key, const std::string &where)
{
    const std::string path = where.empty() ? std::string(key) : where + "." + key;
    if (!object.contains(key))
        reject(path, "is missing");
    const json &value = object.at(key);
    if (value.is_null())
        reject(path, "is null");
    return value;
}

void requireString(const json &object, const char *key, const std::string &where)
{
    const std::string path = where.empty() ? std::string(key) : where + "." + key;
    if (!member(object, key, where).is_string())
        reject(path, "must be a string");
}

// Optional keys are left out when absent; a null means the encoder got it wrong.
void optionalString(const json &object, const char *key, const std::string &where)
{
    if (object.contains(key))
        requireString(object, key, where);
}

void requireNumber(const json &object, const char *key, const std::string &where)
{
    if (!member(object, key, where).is_number())
        reject(where + "." + key, "must be a number");
}

void requireInteger(const json &object, const char *key, const std::string &where)
{
    if (!member(object, key, where).is_number_integer())
        reject(where + "." + key, "must be an integer");
}

void requireBool(const json &object, const char *key, const std::string &where)
{
    if (!member(object, key, where).is_boolean())
        reject(where + "." + key, "must be true or false");
}

const json &requireObject(const json &value, const std::string &where)
{
    if (!value.is_object())
        reject(where, "must be an object");
    return value;
}

const json &requireArray(const json &object, const char *key, const std::string &where)
{
    const json &value = member(object, key, where);
    if (!value.is_array())
        reject(where.empty() ? std::string(key) : where + "." + key, "must be an array");
    return value;
}

void requireStrings(const json &object, const char *key, const std::string &where)
{
    const json &list = requireArray(object, key, where);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!list[i].is_string())
            reject((where.empty() ? std::string(key) : where + "." + key) + "[" + std::to_string(i) + "]",
                   "must be a string");
    }
}

void checkRect(const json &rect, const std::string &where)
{
    requireObject(rect, where);
    for (const char *key : {"x", "y", "width", "height"})
        requireNumber(rect, key, where);
}

void checkCapture(const json &capture)
{
    const std::string where = "capture";
    requireObject(capture, where);
    requireString(capture, "kind", where);
    const std::string kind = capture.at("kind").get<std::string>();
    if (kind != "window" && kind != "display")
        reject("capture.kind", "must be \"window\" or \"display\"");
    for (const char *key : {"application_name", "bundle_identifier", "window_title"})
        optionalString(capture, key, where);
    requireNumber(capture, "logical_width", where);
    requireNumber(capture, "logical_height", where);
    requireInteger(capture, "pixel_width", where);
    requireInteger(capture, "pixel_height", where);
    requireString(capture, "captured_at", where);
    static const std::regex date(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z$)");
    if (!std::regex_match(capture.at("captured_at").get<std::string>(), date))
        reject("capture.captured_at", "must be an ISO 8601 UTC time with milliseconds");
}

void checkAccessibility(const json &accessibility)
{
    const std::string where = "accessibility";
    requireObject(accessibility, where);
    for (const char *key : {"application_name", "bundle_identifier", "focused_window_title", "page_url"})
        optionalString(accessibility, key, where);
    const json &elements = requireArray(accessibility, "elements", where);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const std::string at = where + ".elements[" + std::to_string(i) + "]";
        requireObject(elements[i], at);
        requireString(elements[i], "role", at);
        optionalString(elements[i], "label", at);
        if (elements[i].contains("enabled"))
            requireBool(elements[i], "enabled", at);
    }
    requireBool(accessibility, "truncated", where);
}

void checkPreparedContext(const json &context)
{
    const std::string where = "prepared_screen_context";
    requireObject(context, where);
    requireInteger(context, "version", where);
    requireString(context, "capture_id", where);
    optionalString(context, "product", where);
    optionalString(context, "page", where);
    requireString(context, "screen_summary", where);
    requireStrings(context, "visible_text", where);
    const json &controls = requireArray(context, "controls", where);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const std::string at = where + ".controls[" + std::to_string(i) + "]";
        requireObject(controls[i], at);
        requireString(controls[i], "label", at);
        optionalString(controls[i], "role", at);
        optionalString(controls[i], "state", at);
        if (controls[i].contains("target_rect"))
            checkRect(member(controls[i], "target_rect", at), at + ".target_rect");
    }
    requireStrings(context, "statuses", where);
}

void checkPayload(const json &payload)
{
    if (!payload.is_object())
        throw Problem{"payload: must be a JSON object"};
    requireString(payload, "question", "");
    checkCapture(member(payload, "capture", ""));
    if (payload.contains("accessibility"))
        checkAccessibility(member(payload, "accessibility", ""));
    if (payload.contains("prepared_screen_context"))
        checkPreparedContext(member(payload, "prepared_screen_context", ""));
    requireString(payload, "agent_id", "");
    requireStrings(payload, "established", "");
    const json &conversation = requireArray(payload, "conversation", "");
    for (std::size_t i = 0; i < conversation.size(); ++i) {
        const std::string at = "conversation[" + std::to_string(i) + "]";
        requireObject(conversation[i], at);
        requireString(conversation[i], "role", at);
        requireString(conversation[i], "text", at);
    }
}

// ---------------------------------------------------------------------------------------------
// Finding the element

enum class Source { control = 2, accessibility = 1, text = 0 };

struct Candidate
{
    std::string label;
    std::optional<std::string> role;
    std::optional<bool> enabled;
    std::optional<NormalizedRect> rect;
    Source source = Source::text;
};

struct Match
{
    const Candidate *candidate = nullptr;
    double score = 0;
    double confidence = 0;
};

struct RoleWords
{
    const char *role;
    const char *english;
    const char *russianNominative;
    const char *russianAccusative;
};

constexpr std::array<RoleWords, 15> roleWords{{
    {"AXButton", "button", "кнопка", "кнопку"},
    {"AXCheckBox", "checkbox", "флажок", "флажок"},
    {"AXComboBox", "combo box", "список", "список"},
    {"AXDisclosureTriangle", "disclosure triangle", "раскрывающийся список", "раскрывающийся список"},
    {"AXHeading", "heading", "заголовок", "заголовок"},
    {"AXLink", "link", "ссылка", "ссылку"},
    {"AXMenuButton", "menu button", "кнопка меню", "кнопку меню"},
    {"AXMenuItem", "menu item", "пункт меню", "пункт меню"},
    {"AXPopUpButton", "pop-up menu", "выпадающий список", "выпадающий список"},
    {"AXRadioButton", "radio button", "переключатель", "переключатель"},
    {"AXSearchField", "search field", "поле поиска", "поле поиска"},
    {"AXSlider", "slider", "ползунок", "ползунок"},
    {"AXStaticText", "text", "текст", "текст"},
    {"AXTabGroup", "tab", "вкладка", "вкладку"},
    {"AXTextField", "text field", "поле ввода", "поле ввода"},
}};

const RoleWords *wordsFor(const std::optional<std::string> &role)
{
    if (!role)
        return nullptr;
    for (const RoleWords &w : roleWords) {
        if (*role == w.role)
            return &w;
    }
    return nullptr;
}

// Words a question is made of that never name an element.
const std::set<std::string> &stopWords()
{
    static const std::set<std::string> words{
        "a", "an", "the", "is", "are", "am", "be", "to", "do", "does", "did", "i", "you", "me", "my", "we", "it",
        "its", "it's", "this", "that", "these", "those", "there", "here", "where", "what", "which", "who", "how",
        "can", "could", "should", "would", "will", "need", "want", "have", "has", "on", "in", "at", "of", "for",
        "from", "with", "by", "and", "or", "so", "if", "please", "find", "click", "press", "tap", "hit", "push",
        "select", "choose", "see", "show", "button", "link", "field", "menu", "item", "screen", "window", "page",
        "option", "thing", "one", "now", "then", "just", "get", "go", "up", "some", "any", "i'm", "im", "where's",
        "what's", "whats", "wheres", "don't", "dont", "cannot", "can't",
        "где", "как", "что", "это", "этот", "эта", "эту", "эти", "тут", "здесь", "там", "мне", "меня", "мой", "моя",
        "мою", "я", "ты", "вы", "на", "в", "во", "и", "или", "а", "но", "с", "со", "к", "ко", "по", "у", "о", "об",
        "для", "чтобы", "из", "за", "не", "ли", "же", "бы", "пожалуйста", "нажать", "нажми", "нажмите", "найти",
        "найди", "найдите", "кликнуть", "щёлкнуть", "щелкнуть", "выбрать", "кнопка", "кнопку", "кнопки", "ссылка",
        "ссылку", "поле", "меню", "пункт", "экран", "экране", "окно", "окне", "странице", "страница", "можно",
        "нужно", "надо", "находится", "есть", "куда", "какую", "какой", "какая", "сейчас",
    };
    return words;
}

std::vector<std::string> significant(const std::vector<std::string> &words)
{
    std::vector<std::string> out;
    for (const std::string &w : words) {
        if (!stopWords().contains(w))
            out.push_back(w);
    }
    return out;
}

// Equal words, or long words sharing a long prefix, so that "settings" finds "setting" and
// "настройках" finds "Настройки" without a stemmer.
bool sameWord(const std::string &a, const std::string &b)
{
    if (a == b)
        return true;
    const std::u32string x = text::decode(a);
    const std::u32string y = text::decode(b);
    const std::size_t shorter = std::min(x.size(), y.size());
    if (shorter < 4)
        return false;
    std::size_t common = 0;
    while (common < shorter && x[common] == y[common])
        ++common;
    return common >= std::max<std::size_t>(4, shorter - 2);
}

std::string normalized(const std::string &label)
{
    std::string out;
    for (const std::string &w : text::words(label)) {
        if (!out.empty())
            out += ' ';
        out += w;
    }
    return out;
}

std::vector<Candidate> candidates(const json &payload)
{
    std::vector<Candidate> out;
    if (payload.contains("prepared_screen_context")) {
        const json &context = payload.at("prepared_screen_context");
        for (const json &control : context.at("controls")) {
            Candidate c;
            c.label = control.at("label").get<std::string>();
            c.source = Source::control;
            if (control.contains("role"))
                c.role = control.at("role").get<std::string>();
            if (control.contains("state"))
                c.enabled = control.at("state").get<std::string>() != "disabled";
            if (control.contains("target_rect")) {
                const json &r = control.at("target_rect");
                c.rect = NormalizedRect{r.at("x").get<double>(), r.at("y").get<double>(), r.at("width").get<double>(),
                                        r.at("height").get<double>()};
            }
            out.push_back(std::move(c));
        }
    }
    if (payload.contains("accessibility")) {
        for (const json &element : payload.at("accessibility").at("elements")) {
            if (!element.contains("label"))
                continue;
            Candidate c;
            c.label = element.at("label").get<std::string>();
            c.role = element.at("role").get<std::string>();
            if (element.contains("enabled"))
                c.enabled = element.at("enabled").get<bool>();
            c.source = Source::accessibility;
            out.push_back(std::move(c));
        }
    }
    if (payload.contains("prepared_screen_context")) {
        for (const json &line : payload.at("prepared_screen_context").at("visible_text")) {
            Candidate c;
            c.label = line.get<std::string>();
            c.source = Source::text;
            out.push_back(std::move(c));
        }
    }
    std::erase_if(out, [](const Candidate &c) { return normalized(c.label).empty(); });
    return out;
}

// Better score first; on a tie an element with a rectangle, then a control, then the earlier one.
bool better(const Match &a, const Match &b)
{
    const auto key = [](const Match &m) {
        return std::make_tuple(m.score, m.candidate->rect.has_value(), static_cast<int>(m.candidate->source));
    };
    return key(a) > key(b);
}

std::optional<Match> quotedMatch(const std::vector<Candidate> &all, const std::vector<std::string> &phrases)
{
    std::optional<Match> best;
    for (const std::string &phrase : phrases) {
        const std::string wanted = normalized(phrase);
        if (wanted.empty())
            continue;
        for (const Candidate &c : all) {
            const std::string label = normalized(c.label);
            Match m{&c, 0, 0};
            if (label == wanted) {
                m.score = 1000;
                m.confidence = 0.92;
            } else if (label.find(wanted) != std::string::npos || wanted.find(label) != std::string::npos) {
                m.score = 500.0 - std::abs(static_cast<double>(label.size()) - static_cast<double>(wanted.size()));
                m.confidence = 0.8;
            } else {
                continue;
            }
            if (!best || better(m, *best))
                best = m;
        }
        if (best)
            return best; // the first quoted phrase that names something wins
    }
    return best;
}

std::optional<Match> wordMatch(const std::vector<Candidate> &all, const std::vector<std::string> &questionWords)
{
    std::optional<Match> best;
    for (const Candidate &c : all) {
        std::vector<std::string> labelWords = significant(text::words(c.label));
        if (labelWords.empty())
            labelWords = text::words(c.label);
        std::size_t matched = 0;
        for (const std::string &w : labelWords) {
            if (std::any_of(questionWords.begin(), questionWords.end(), [&](const std::string &q) { return sameWord(q, w); }))
                ++matched;
        }
        // Most of the label must be named: one shared word does not make a long line the target.
        if (matched == 0 || matched * 2 < labelWords.size())
            continue;
        const double coverage = static_cast<double>(matched) / static_cast<double>(labelWords.size());
        Match m{&c, 10.0 * static_cast<double>(matched) - 3.0 * static_cast<double>(labelWords.size() - matched),
                0.55 + 0.3 * coverage};
        if (!best || better(m, *best))
            best = m;
    }
    return best;
}

// ---------------------------------------------------------------------------------------------
// Wording

struct Place
{
    std::string english;
    std::string russian;
};

Place placeOf(const NormalizedRect &rect, bool window)
{
    const double cx = rect.x + rect.width / 2;
    const double cy = rect.y + rect.height / 2;
    const int column = cx < 1.0 / 3 ? 0 : (cx > 2.0 / 3 ? 2 : 1);
    const int row = cy < 1.0 / 3 ? 0 : (cy > 2.0 / 3 ? 2 : 1);
    static constexpr std::array<const char *, 3> enRow{"top", "middle", "bottom"};
    static constexpr std::array<const char *, 3> enColumn{"left", "centre", "right"};
    static constexpr std::array<const char *, 3> ruRow{"верхней", "средней", "нижней"};
    static constexpr std::array<const char *, 3> ruColumn{"левой", "центральной", "правой"};
    const std::string enArea = window ? "the window" : "the screen";
    const std::string ruArea = window ? "окна" : "экрана";
    Place place;
    if (row == 1 && column == 1) {
        place.english = "in the centre of " + enArea;
        place.russian = "в центре " + ruArea;
    } else if (row == 1) {
        place.english = std::string("on the ") + enColumn[column] + " side of " + enArea;
        place.russian = std::string("в ") + ruColumn[column] + " части " + ruArea;
    } else if (column == 1) {
        place.english = std::string("at the ") + enRow[row] + " of " + enArea + ", in the middle";
        place.russian = std::string("в ") + ruRow[row] + " части " + ruArea + " по центру";
    } else {
        place.english = std::string("in the ") + enRow[row] + " " + enColumn[column] + " of " + enArea;
        place.russian = std::string("в ") + ruColumn[column] + " " + ruRow[row] + " части " + ruArea;
    }
    return place;
}

std::string capitalized(const std::string &s)
{
    std::u32string cps = text::decode(s);
    if (!cps.empty()) {
        char32_t &c = cps.front();
        if (c >= U'a' && c <= U'z')
            c -= 32;
        else if (c >= U'а' && c <= U'я')
            c -= 32;
    }
    return text::encode(cps);
}

enum class Action { none, click, type, toggle, drag };

Action actionFor(const std::optional<std::string> &role)
{
    if (!role)
        return Action::none;
    if (*role == "AXTextField" || *role == "AXSearchField" || *role == "AXComboBox")
        return Action::type;
    if (*role == "AXCheckBox" || *role == "AXRadioButton")
        return Action::toggle;
    if (*role == "AXSlider")
        return Action::drag;
    if (*role == "AXButton" || *role == "AXLink" || *role == "AXMenuItem" || *role == "AXMenuButton"
        || *role == "AXPopUpButton" || *role == "AXTabGroup" || *role == "AXDisclosureTriangle")
        return Action::click;
    return Action::none;
}

std::string actionText(Action action, const std::string &label, bool russian)
{
    switch (action) {
    case Action::click:
        return russian ? "Нажмите «" + label + "»." : "Click “" + label + "”.";
    case Action::type:
        return russian ? "Щёлкните в поле «" + label + "» и введите текст." : "Click into “" + label + "” and type.";
    case Action::toggle:
        return russian ? "Нажмите «" + label + "», чтобы выбрать." : "Click “" + label + "” to select it.";
    case Action::drag:
        return russian ? "Перетащите «" + label + "» на нужное значение." : "Drag “" + label + "” to the value you need.";
    case Action::none:
        break;
    }
    return {};
}

NavigationAnswer foundAnswer(const Candidate &target, std::optional<NormalizedRect> rect, double confidence,
                             bool russian, bool window)
{
    const RoleWords *role = wordsFor(target.role);
    const std::string label = text::shortened(text::trim(target.label), 120);
    NavigationAnswer answer;
    answer.confidence = rect ? confidence : confidence - 0.15;

    if (rect) {
        const Place place = placeOf(*rect, window);
        if (russian) {
            const std::string noun = role ? std::string(role->russianAccusative) + " " : std::string();
            answer.summary = "Вижу " + noun + "«" + label + "» " + place.russian + ".";
            answer.steps.push_back({"Найдите " + noun + "«" + label + "» " + place.russian + ".", label, rect});
            answer.screenFacts.push_back(
                (role ? capitalized(role->russianNominative) + " «" + label + "»" : "«" + label + "»") + " находится "
                + place.russian + ".");
        } else {
            const std::string noun = role ? std::string("the ") + role->english + " " : std::string();
            answer.summary = "I can see " + noun + "“" + label + "” " + place.english + ".";
            answer.steps.push_back({"Find " + noun + "“" + label + "” " + place.english + ".", label, rect});
            answer.screenFacts.push_back(capitalized(noun) + "“" + label + "” is " + place.english + ".");
        }
    } else if (russian) {
        answer.summary = "Вижу «" + label + "» на экране, но не могу точно сказать, где.";
        answer.steps.push_back({"Найдите «" + label + "» на экране.", label, std::nullopt});
        answer.screenFacts.push_back("«" + label + "» видно на экране.");
    } else {
        answer.summary = "I can see “" + label + "” on the screen, but not exactly where it is.";
        answer.steps.push_back({"Find “" + label + "” on the screen.", label, std::nullopt});
        answer.screenFacts.push_back("“" + label + "” is visible on the screen.");
    }

    const Action action = actionFor(target.role);
    if (action != Action::none)
        answer.steps.push_back({actionText(action, label, russian), label, rect});
    if (target.enabled == false) {
        answer.safetyNote = russian ? "Элемент «" + label + "» сейчас недоступен: он станет активным, когда будет выполнено то, что требует окно."
                                    : "“" + label + "” is disabled right now: it becomes available once the window has what it asks for.";
    }
    return answer;
}

} // namespace

nlohmann::ordered_json toJson(const NavigationAnswer &answer)
{
    nlohmann::ordered_json out;
    out["summary"] = answer.summary;
    out["steps"] = nlohmann::ordered_json::array();
    for (const NavigationStep &step : answer.steps) {
        nlohmann::ordered_json s;
        s["instruction"] = step.instruction;
        if (step.targetLabel)
            s["target_label"] = *step.targetLabel;
        if (step.targetRect) {
            nlohmann::ordered_json r;
            r["x"] = step.targetRect->x;
            r["y"] = step.targetRect->y;
            r["width"] = step.targetRect->width;
            r["height"] = step.targetRect->height;
            s["target_rect"] = r;
        }
        out["steps"].push_back(s);
    }
    out["confidence"] = answer.confidence;
    out["needs_fresh_capture"] = answer.needsFreshCapture;
    if (answer.safetyNote)
        out["safety_note"] = *answer.safetyNote;
    out["screen_facts"] = answer.screenFacts;
    return out;
}

std::optional<std::string> payloadProblem(const nlohmann::ordered_json &payload)
{
    try {
        checkPayload(payload);
    } catch (const Problem &p) {
        return p.message;
    }
    return std::nullopt;
}

NavigationAnswer navigate(const nlohmann::ordered_json &payload)
{
    const std::string question = text::trim(payload.at("question").get<std::string>());
    const bool russian = text::hasCyrillic(question);
    const bool window = payload.at("capture").at("kind").get<std::string>() == "window";
    const std::vector<Candidate> all = candidates(payload);

    if (all.empty()) {
        NavigationAnswer answer;
        answer.summary = russian ? "Не могу ничего прочитать на этом скриншоте: к нему не пришло ни распознанного текста, ни элементов управления."
                                 : "I can't read anything on this screenshot: it came without recognised text or controls.";
        answer.confidence = 0.2;
        answer.needsFreshCapture = true;
        return answer;
    }

    const std::vector<std::string> phrases = text::quotedPhrases(question);
    const std::vector<std::string> questionWords = significant(text::words(question));
    std::optional<Match> match = quotedMatch(all, phrases);
    if (!match && phrases.empty())
        match = wordMatch(all, questionWords);

    if (match) {
        const Candidate &target = *match->candidate;
        std::optional<NormalizedRect> rect = target.rect;
        std::optional<std::string> role = target.role;
        if (!rect) {
            // A recognised line or an accessibility label without a box: borrow the box of
            // the prepared control that shows the same text.
            const std::string label = normalized(target.label);
            for (const Candidate &c : all) {
                const std::string other = normalized(c.label);
                if (c.rect && (other == label || label.find(other) != std::string::npos)) {
                    rect = c.rect;
                    role = role ? role : c.role;
                    break;
                }
            }
        }
        Candidate resolved = target;
        resolved.role = role;
        return foundAnswer(resolved, rect, match->confidence, russian, window);
    }

    NavigationAnswer answer;
    std::string wanted;
    if (!phrases.empty()) {
        wanted = phrases.front();
    } else {
        for (const std::string &w : questionWords)
            wanted += (wanted.empty() ? "" : " ") + w;
    }
    if (wanted.empty()) {
        // Nothing named: describe the screen instead.
        const json *context = payload.contains("prepared_screen_context") ? &payload.at("prepared_screen_context") : nullptr;
        const std::string summary = context ? text::trim(context->at("screen_summary").get<std::string>()) : std::string();
        answer.summary = !summary.empty() ? summary
                                          : (russian ? "На экране нет ничего, на что можно было бы указать."
                                                     : "There is nothing on the screen to point at.");
        answer.confidence = 0.6;
        return answer;
    }
    wanted = text::shortened(wanted, 120);
    answer.summary = russian ? "Не вижу «" + wanted + "» на этом экране." : "I can't see “" + wanted + "” on this screen.";
    answer.steps.push_back({russian ? "Откройте окно, где есть «" + wanted + "», или прокрутите к нему и спросите ещё раз."
                                    : "Bring the window that shows “" + wanted + "” to the front, or scroll to it, and ask again.",
                            std::nullopt, std::nullopt});
    answer.confidence = 0.3;
    return answer;
}

} // namespace nimbel::localplatform
