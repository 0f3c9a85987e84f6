#include "conversation/DesktopOpeningLine.h"

#include "conversation/ConversationWindow.h"

#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace nimbel::DesktopOpeningLine {

namespace {

// Questions that need outside knowledge.
constexpr std::array<QStringView, 32> lookingUpPhrases = {
    u"погод", u"температур", u"курс", u"сколько стоит", u"цена", u"стоимость", u"новости", u"что такое",
    u"кто такой", u"кто такая", u"когда вышел", u"когда выйдет", u"последн", u"актуальн", u"сегодня в мире",
    u"биткоин", u"weather", u"how much is", u"price of", u"what is a", u"who is", u"latest", u"news",
    u"сколько можно", u"сколько максимум", u"можно максимум", u"какой лимит", u"лимит", u"квота",
    u"how many can", u"what is the limit", u"max number",
};

// How-to and definition questions.
constexpr std::array<QStringView, 18> lookUpFamilyPhrases = {
    u"как получить", u"как сделать", u"как найти", u"как включить", u"как настроить", u"где взять",
    u"где найти", u"где посмотреть", u"что означает", u"что значит", u"api", u"ключ", u"документац",
    u"инструкц", u"how do i", u"how to", u"where do i", u"what does",
};

// Troubleshooting questions.
constexpr std::array<QStringView, 14> figureOutPhrases = {
    u"что тут сделать", u"что здесь сделать", u"что мне делать", u"что делать", u"разберись", u"разобраться",
    u"помоги", u"почему", u"не работает", u"не получается", u"ошибк", u"why", u"what should i", u"help me",
};

struct FamilyLines
{
    std::array<QStringView, 2> russian;
    std::array<QStringView, 2> english;
};

constexpr FamilyLines lookLines = {{u"Сэр, сейчас посмотрю.", u"Сэр, гляну."},
                                   {u"Let me take a look.", u"Having a look now."}};
constexpr FamilyLines figureOutLines = {{u"Сэр, разбираюсь.", u"Сэр, сейчас разберусь."},
                                        {u"Working that out.", u"Let me work that out."}};
constexpr FamilyLines lookUpLines = {{u"Сэр, уточняю.", u"Сэр, сейчас изучу."},
                                     {u"Let me check that.", u"Looking that up."}};
constexpr FamilyLines neutralLines = {{u"Сэр, минутку.", u"Сэр, секунду."}, {u"One moment.", u"Just a second."}};

constexpr std::array<QStringView, 3> russianWaitingLines = {u"Ещё смотрю, секунду.", u"Почти, ещё момент.",
                                                            u"Секунду, дочитываю."};
constexpr std::array<QStringView, 3> englishWaitingLines = {u"Still looking, one moment.", u"Almost there.",
                                                            u"One second, still reading."};

// Drafts this short ("да", "ok") say too little to pick a family from.
constexpr qsizetype shortDraftCharacters = 5;
constexpr double fixedLinePace = 0.85;

template<std::size_t N>
bool containsAny(const QString &text, const std::array<QStringView, N> &phrases)
{
    return std::any_of(phrases.begin(), phrases.end(), [&](QStringView phrase) { return text.contains(phrase); });
}

template<std::size_t N>
QStringList toList(const std::array<QStringView, N> &items)
{
    QStringList list;
    list.reserve(qsizetype(N));
    for (QStringView item : items)
        list.append(item.toString());
    return list;
}

const FamilyLines &tableOf(Family family)
{
    switch (family) {
    case Family::look:
        return lookLines;
    case Family::figureOut:
        return figureOutLines;
    case Family::lookUp:
        return lookUpLines;
    case Family::neutral:
        break;
    }
    return neutralLines;
}

} // namespace

qsizetype randomPick(qsizetype count)
{
    return count <= 1 ? 0 : qsizetype(QRandomGenerator::global()->bounded(quint64(count)));
}

bool needsLookingUp(QStringView question)
{
    return containsAny(question.toString().toLower(), lookingUpPhrases);
}

Family family(QStringView question, DesktopRequestRoute route)
{
    const QString lowered = question.toString().toLower();
    if (containsAny(lowered, lookUpFamilyPhrases))
        return Family::lookUp;
    if (containsAny(lowered, lookingUpPhrases))
        return Family::lookUp;
    if (containsAny(lowered, figureOutPhrases))
        return Family::figureOut;
    if (route == DesktopRequestRoute::screen)
        return Family::look;
    return Family::figureOut;
}

QStringList lines(Family family, AppLanguage language)
{
    const FamilyLines &table = tableOf(family);
    return toList(language == AppLanguage::ru ? table.russian : table.english);
}

QStringList waitingLines(AppLanguage language)
{
    return toList(language == AppLanguage::ru ? russianWaitingLines : englishWaitingLines);
}

QString choose(const QStringList &candidates, const std::optional<QString> &previous, const Pick &pick)
{
    QStringList remaining = candidates;
    if (previous)
        remaining.removeAll(*previous);
    if (remaining.isEmpty())
        remaining = candidates;
    if (remaining.isEmpty())
        return {};
    const qsizetype index = std::clamp<qsizetype>(pick(remaining.size()), 0, remaining.size() - 1);
    return remaining.at(index);
}

QString waiting(const std::optional<QString> &previous, AppLanguage language, const Pick &pick)
{
    return choose(waitingLines(language), previous, pick);
}

std::optional<QString> first(QStringView draft, DesktopRequestRoute route, const std::optional<QString> &previous,
                             const std::function<bool(const QString &line)> &isReady, AppLanguage language,
                             const Pick &pick)
{
    const QString trimmed = draft.toString().trimmed();
    QStringList candidates;
    if (ConversationWindow::characterCount(trimmed) <= shortDraftCharacters) {
        candidates = lines(Family::neutral, language);
    } else {
        const Family own = family(trimmed, route);
        candidates = lines(own, language);
        if (own != Family::neutral)
            candidates += lines(Family::neutral, language);
    }
    QStringList ready;
    for (const QString &line : candidates) {
        if (isReady(line))
            ready.append(line);
    }
    if (ready.isEmpty())
        return std::nullopt;
    return choose(ready, previous, pick);
}

QStringList prewarmed(AppLanguage language)
{
    QStringList all;
    for (Family f : {Family::neutral, Family::look, Family::figureOut, Family::lookUp})
        all += lines(f, language);
    all += waitingLines(language);
    return all;
}

std::optional<double> paceScale(QStringView text)
{
    for (AppLanguage language : {AppLanguage::ru, AppLanguage::en}) {
        if (prewarmed(language).contains(text))
            return fixedLinePace;
    }
    return std::nullopt;
}

const Vocabulary &vocabulary()
{
    static const Vocabulary lists{lookingUpPhrases, lookUpFamilyPhrases, figureOutPhrases};
    return lists;
}

} // namespace nimbel::DesktopOpeningLine
