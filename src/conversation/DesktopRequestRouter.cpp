#include "conversation/DesktopRequestRouter.h"

#include <QChar>
#include <QList>
#include <QSet>

#include <array>

namespace nimbel {

QString rawValue(DesktopRequestRoute route)
{
    switch (route) {
    case DesktopRequestRoute::stop:
        return QStringLiteral("stop");
    case DesktopRequestRoute::screen:
        return QStringLiteral("screen");
    case DesktopRequestRoute::general:
        break;
    }
    return QStringLiteral("general");
}

namespace DesktopRequestRouter {
namespace {

// Whole-text stop commands.
constexpr std::array<QStringView, 14> stopCommands = {
    u"стоп", u"стой", u"остановись", u"останови", u"хватит", u"подожди", u"пауза", u"замолчи", u"stop",
    u"wait", u"pause", u"cancel", u"hold on", u"quiet",
};

// Single words that stop when the text is short and asks nothing.
constexpr std::array<QStringView, 13> stopWords = {
    u"стоп", u"стой", u"остановись", u"останови", u"хватит", u"подожди", u"пауза", u"замолчи", u"stop",
    u"wait", u"pause", u"cancel", u"quiet",
};

// A stop word next to one of these is a question ("как остановить").
constexpr std::array<QStringView, 10> questionWords = {
    u"как", u"где", u"что", u"почему", u"когда", u"how", u"where", u"what", u"why", u"when",
};

// Words that point at something, which turn an action stem into a screen question.
constexpr std::array<QStringView, 19> referentialWords = {
    u"это", u"этот", u"эта", u"эту", u"этого", u"этому", u"этим", u"его", u"ее", u"её", u"их", u"здесь",
    u"тут", u"сюда", u"it", u"this", u"that", u"here", u"there",
};

// Substrings that mark a question about the screen; the first hit decides.
constexpr std::array<QStringView, 95> screenPhrases = {
    u"на экране", u"с экрана", u"мой экран", u"этот экран", u"скриншот", u"на скрине", u"что здесь",
    u"что тут", u"куда наж", u"где наж", u"где здесь", u"где тут", u"где мне здесь", u"найти здесь",
    u"найти тут", u"где найти api", u"где получить api", u"где взять api", u"где найти ключ",
    u"где получить ключ", u"где взять ключ", u"что наж", u"какую кнопку", u"эта кнопка", u"эту кнопку",
    u"в этом окне", u"это окно", u"на этой странице", u"на этом сайте", u"в этой вкладке",
    u"в этом приложении", u"в этой программе", u"почему не работает", u"почему это не работает",
    u"в чем здесь проблема", u"в чём здесь проблема", u"что открыто", u"что я вижу", u"что ты видишь",
    u"видишь на", u"посмотри на экран", u"покажи на экране", u"как мне вот это сделать", u"как мне здесь",
    u"как мне тут", u"как здесь", u"как тут", u"как настроить здесь", u"как настроить тут",
    u"поставить настройки здесь", u"поставить настройки тут", u"что мне здесь делать",
    u"что мне сейчас делать", u"что мне щас делать", u"что мне сейчас сделать", u"что мне щас сделать",
    u"что делать сейчас", u"что делать щас", u"помоги с этим", u"как мне установить",
    u"чтобы установить приложение", u"чтобы установить программу", u"чтобы приложение установить",
    u"чтобы программу установить", u"скачать и установить", u"установить и запустить", u"on the screen",
    u"on screen", u"my screen", u"this screen", u"screenshot", u"what do you see", u"what is open",
    u"where do i click", u"where should i click", u"where is it here", u"where can i find the api",
    u"where can i find the key", u"in this tab", u"in this app", u"why is this not working",
    u"what is wrong here", u"which button", u"this window", u"this page", u"look at the screen",
    u"help me with this", u"what should i do here", u"what should i do now", u"what do i do now",
    u"how do i install this", u"how do i configure this", u"how do i set this up", u"download and install",
    u"install and launch",
};

// Word stems of actions; a hit inside a longer word counts too.
constexpr std::array<QStringView, 45> actionStems = {
    u"установ", u"скача", u"запуст", u"откры", u"настро", u"подключ", u"наж", u"найт", u"сдела", u"помог",
    u"созда", u"добав", u"удал", u"перенес", u"перемест", u"измен", u"выбра", u"включ", u"выключ", u"сохран",
    u"заполн", u"работа", u"install", u"download", u"launch", u"open", u"configure", u"connect", u"click",
    u"find", u"do", u"help", u"create", u"add", u"delete", u"remove", u"move", u"change", u"edit", u"select",
    u"enable", u"disable", u"save", u"fill", u"use",
};

// Phrases that point at what is in front of the owner.
constexpr std::array<QStringView, 44> deicticPhrases = {
    u"вот это", u"вот эту", u"вот этот", u"вот эти", u"это приложение", u"эту программу", u"эта программа",
    u"которое у меня", u"которая у меня", u"который у меня", u"которые у меня", u"у меня сейчас тут",
    u"у меня сейчас здесь", u"у меня тут", u"у меня здесь", u"сейчас тут", u"сейчас здесь", u"передо мной",
    u"что это за", u"что за окно", u"что за приложение", u"what is this", u"what's this", u"эта компания",
    u"этой компании", u"эту компанию", u"этот сайт", u"этого сайта", u"на этом сайте", u"эта страница",
    u"этой странице", u"это окно", u"этом окне", u"this app", u"this application", u"this program",
    u"this thing", u"this company", u"this site", u"this website", u"this page", u"right here",
    u"currently open", u"in front of me",
};

// Follow-ups that continue a screen turn; consulted only after one.
constexpr std::array<QStringView, 33> followUpPhrases = {
    u"а дальше", u"что дальше", u"дальше что", u"а теперь", u"теперь что", u"что с этим делать",
    u"как мне вот это сделать", u"как мне это сделать", u"как это сделать", u"как сделать это",
    u"как мне здесь", u"что мне здесь делать", u"что делать здесь", u"помоги с этим", u"разобраться с этим",
    u"почему здесь", u"сюда", u"вот сюда", u"это правильно", u"я правильно нажал", u"не получается",
    u"не сработало", u"what next", u"and now", u"what should i do with this", u"how do i do this",
    u"how can i do this", u"what should i do here", u"help me with this", u"why is this here",
    u"did i click the right thing", u"it did not work", u"it doesn't work",
};

template<std::size_t N>
QList<QString> normalizedAll(const std::array<QStringView, N> &phrases)
{
    QList<QString> result;
    result.reserve(qsizetype(N));
    for (QStringView phrase : phrases)
        result.append(normalize(phrase));
    return result;
}

// A hash set of normalised words. The views point into `storage`, which
// never changes after construction.
struct WordSet
{
    template<std::size_t N>
    explicit WordSet(const std::array<QStringView, N> &words)
        : storage(normalizedAll(words))
    {
        set.reserve(storage.size());
        for (const QString &word : std::as_const(storage))
            set.insert(QStringView(word));
    }
    WordSet(const WordSet &) = delete;
    WordSet &operator=(const WordSet &) = delete;

    bool contains(QStringView word) const { return set.contains(word); }

    QList<QString> storage;
    QSet<QStringView> set;
};

// Built on first use, then shared for the life of the process (static
// initialisation is thread-safe).
struct CompiledVocabulary
{
    WordSet stopCommands{DesktopRequestRouter::stopCommands};
    WordSet stopWords{DesktopRequestRouter::stopWords};
    WordSet questionWords{DesktopRequestRouter::questionWords};
    WordSet referentialWords{DesktopRequestRouter::referentialWords};
    QList<QString> screenPhrases = normalizedAll(DesktopRequestRouter::screenPhrases);
    QList<QString> actionStems = normalizedAll(DesktopRequestRouter::actionStems);
    QList<QString> deicticPhrases = normalizedAll(DesktopRequestRouter::deicticPhrases);
    QList<QString> followUpPhrases = normalizedAll(DesktopRequestRouter::followUpPhrases);
};

const CompiledVocabulary &compiled()
{
    static const CompiledVocabulary lists;
    return lists;
}

bool containsAny(const QString &text, const QList<QString> &phrases)
{
    for (const QString &phrase : phrases) {
        if (text.contains(phrase))
            return true;
    }
    return false;
}

bool anyWordIn(const QList<QStringView> &words, const WordSet &set)
{
    for (QStringView word : words) {
        if (set.contains(word))
            return true;
    }
    return false;
}

// `normalized` is already normalised; `words` are its space-separated pieces.
bool isStop(const QString &normalized, const QList<QStringView> &words)
{
    const CompiledVocabulary &lists = compiled();
    if (lists.stopCommands.contains(normalized))
        return true;
    if (words.size() > 6)
        return false;
    if (anyWordIn(words, lists.questionWords))
        return false;
    return anyWordIn(words, lists.stopWords);
}

} // namespace

QString normalize(QStringView text)
{
    // Composed form first, so that a letter typed as base + combining mark
    // (a decomposed "й") stays one letter instead of being split at the mark.
    const QString lowered = text.toString().normalized(QString::NormalizationForm_C).toLower();
    QString result;
    result.reserve(lowered.size());
    bool separatorPending = false;
    const qsizetype length = lowered.size();
    for (qsizetype i = 0; i < length;) {
        const QChar unit = lowered.at(i);
        char32_t codePoint = unit.unicode();
        qsizetype units = 1;
        if (unit.isHighSurrogate() && i + 1 < length && lowered.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(unit, lowered.at(i + 1));
            units = 2;
        }
        if (QChar::isLetterOrNumber(codePoint)) {
            if (separatorPending && !result.isEmpty())
                result.append(QLatin1Char(' '));
            separatorPending = false;
            result.append(lowered.constData() + i, units);
        } else {
            separatorPending = true;
        }
        i += units;
    }
    return result;
}

DesktopRequestRoute route(QStringView question, const DesktopRequestContext &context)
{
    const QString text = normalize(question);
    if (text.isEmpty())
        return DesktopRequestRoute::general;

    const QList<QStringView> words = QStringView(text).split(QLatin1Char(' '));
    if (isStop(text, words))
        return DesktopRequestRoute::stop;

    const CompiledVocabulary &lists = compiled();
    if (containsAny(text, lists.screenPhrases))
        return DesktopRequestRoute::screen;
    if (containsAny(text, lists.deicticPhrases))
        return DesktopRequestRoute::screen;
    if (containsAny(text, lists.actionStems) && anyWordIn(words, lists.referentialWords))
        return DesktopRequestRoute::screen;
    if (context.manualCapturePending)
        return DesktopRequestRoute::screen;
    if (context.lastRequestUsedScreen && containsAny(text, lists.followUpPhrases))
        return DesktopRequestRoute::screen;
    return DesktopRequestRoute::general;
}

const Vocabulary &vocabulary()
{
    static const Vocabulary lists{stopCommands, stopWords, questionWords, referentialWords,
                                  screenPhrases, actionStems, deicticPhrases, followUpPhrases};
    return lists;
}

} // namespace DesktopRequestRouter
} // namespace nimbel
