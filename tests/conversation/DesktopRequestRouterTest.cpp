#include "conversation/DesktopRequestRouter.h"

#include <gtest/gtest.h>

using namespace nimbel;
namespace router = nimbel::DesktopRequestRouter;

namespace {

DesktopRequestRoute routeOf(QStringView question, bool manualCapturePending = false,
                            bool lastRequestUsedScreen = false)
{
    return router::route(question, DesktopRequestContext{manualCapturePending, lastRequestUsedScreen});
}

constexpr auto stop = DesktopRequestRoute::stop;
constexpr auto screen = DesktopRequestRoute::screen;
constexpr auto general = DesktopRequestRoute::general;

} // namespace

TEST(DesktopRequestRouter, EveryPhraseIsNormalisedExceptTheTwoWithApostrophes)
{
    const auto &lists = router::vocabulary();
    for (auto list : {lists.stopCommands, lists.stopWords, lists.questionWords, lists.referentialWords,
                      lists.screenPhrases, lists.actionStems, lists.deicticPhrases, lists.followUpPhrases}) {
        for (QStringView phrase : list) {
            if (phrase == u"what's this" || phrase == u"it doesn't work")
                continue;
            EXPECT_EQ(router::normalize(phrase), phrase.toString());
        }
    }
    EXPECT_EQ(router::normalize(u"what's this"), u"what s this");
    EXPECT_EQ(router::normalize(u"it doesn't work"), u"it doesn t work");
}

TEST(DesktopRequestRouter, NormalizeLowerCasesAndCollapsesEverythingButLettersAndDigits)
{
    EXPECT_EQ(router::normalize(u"Стоп!"), u"стоп");
    EXPECT_EQ(router::normalize(u"  Где на этом экране кнопка «Продолжить»?  "),
              u"где на этом экране кнопка продолжить");
    EXPECT_EQ(router::normalize(u"ЁЛКА и ЕЁ"), u"ёлка и её");
    EXPECT_EQ(router::normalize(u"Windows 11 -- v2.5"), u"windows 11 v2 5");
    EXPECT_EQ(router::normalize(u"snake_case\ttab\nline\u00a0nbsp"), u"snake case tab line nbsp");
    EXPECT_EQ(router::normalize(u"?!… — ..."), u"");
    // Other scripts are letters too.
    EXPECT_EQ(router::normalize(u"Ελλάδα, 東京!"), u"ελλάδα 東京");
}

TEST(DesktopRequestRouter, NormalizeReadsCodePointsNotUtf16Units)
{
    // Outside the basic plane: a letter (lower-cased too), a digit, and an emoji
    // (a symbol, so a separator). Each takes a surrogate pair.
    EXPECT_EQ(router::normalize(u"\U00010400x"), u"\U00010428x");
    EXPECT_EQ(router::normalize(u"стоп\U0001F44Dстоп"), u"стоп стоп");
    EXPECT_EQ(router::normalize(u"\U0001F44D"), u"");
    // A lone surrogate is not a letter.
    const QChar lone[] = {QChar(u'a'), QChar(char16_t(0xD83D)), QChar(u'b')};
    EXPECT_EQ(router::normalize(QStringView(lone, 3)), u"a b");
    // A letter written as base + combining mark stays one letter.
    EXPECT_EQ(router::normalize(u"сто\u0438\u0306"), u"стой");
    EXPECT_EQ(routeOf(u"Сто\u0418\u0306!"), stop);
}

TEST(DesktopRequestRouter, StopCommandsAndShortStopPhrases)
{
    EXPECT_EQ(routeOf(u"Стоп!"), stop);
    EXPECT_EQ(routeOf(u"hold on"), stop);
    EXPECT_EQ(routeOf(u"hold"), general);
    // "hold on" counts only as the whole text; neither word is a stop word.
    EXPECT_EQ(routeOf(u"please hold on"), general);

    EXPECT_EQ(routeOf(u"please stop talking now right away"), stop) << "six words still stop";
    EXPECT_EQ(routeOf(u"please stop talking now for a second"), general) << "seven words do not";
    EXPECT_EQ(routeOf(u"Ну всё, хватит уже"), stop);

    // A question word turns a stop word into a question.
    EXPECT_EQ(routeOf(u"Как остановить запись?"), general);
    EXPECT_EQ(routeOf(u"Как остановить запись?", true), screen);
    EXPECT_EQ(routeOf(u"подожди, а как мне найти кнопку стоп на сайте"), general);
    // A whole-text command wins even over a question word elsewhere in the lists.
    EXPECT_EQ(routeOf(u"Стоп", true, true), stop);
    // Stop comes before the screen phrases.
    EXPECT_EQ(routeOf(u"стоп на экране"), stop);
    EXPECT_EQ(routeOf(u"как остановить на экране"), screen);
    // Only whole words stop: "стоп" inside "стопка" is not a stop word.
    EXPECT_EQ(routeOf(u"стопка бумаги"), general);
}

TEST(DesktopRequestRouter, ScreenPhrasesAndDeicticPhrases)
{
    EXPECT_EQ(routeOf(u"Что здесь?"), screen);
    EXPECT_EQ(routeOf(u"Где на этом экране кнопка «Продолжить»?"), general);
    EXPECT_EQ(routeOf(u"Где на этом экране кнопка «Продолжить»?", true), screen);
    EXPECT_EQ(routeOf(u"Куда нажать, чтобы сохранить?"), screen);
    EXPECT_EQ(routeOf(u"В чём здесь проблема"), screen);
    EXPECT_EQ(routeOf(u"Take a SCREENSHOT please"), screen);
    // Substring search: "скриншот" inside a longer word still counts.
    EXPECT_EQ(routeOf(u"скриншотом поделиться"), screen);

    EXPECT_EQ(routeOf(u"What's this?"), screen);
    EXPECT_EQ(routeOf(u"Расскажи про эту программу"), screen);
    EXPECT_EQ(routeOf(u"Tell me about this company's history"), screen);

    EXPECT_EQ(routeOf(u"Какая погода в Москве?"), general);
}

TEST(DesktopRequestRouter, ActionStemNeedsAReferentialWord)
{
    EXPECT_EQ(routeOf(u"How do I open this?"), screen);
    EXPECT_EQ(routeOf(u"How can I open the settings?"), general);
    // The referential word must be a whole word.
    EXPECT_EQ(routeOf(u"How can I open thistle seeds?"), general);
    // Stems match inside longer words: "do" inside "window".
    EXPECT_EQ(routeOf(u"close that window"), screen);
    EXPECT_EQ(routeOf(u"close the window"), general);

    EXPECT_EQ(routeOf(u"Помоги удалить его"), screen);
    EXPECT_EQ(routeOf(u"Удали ЕЁ"), screen);
    EXPECT_EQ(routeOf(u"Помоги удалить файл"), general);
    EXPECT_EQ(routeOf(u"Можно включить тут звук?"), screen);
}

TEST(DesktopRequestRouter, ContextRulesComeLast)
{
    // A pending manual capture makes every non-empty, non-stop question a screen question.
    EXPECT_EQ(routeOf(u"Расскажи анекдот", true), screen);
    EXPECT_EQ(routeOf(u"", true), general);
    EXPECT_EQ(routeOf(u"   \n", true, true), general);
    EXPECT_EQ(routeOf(u"wait", true), stop);

    // Follow-ups count only after a screen turn.
    EXPECT_EQ(routeOf(u"А дальше?", false, true), screen);
    EXPECT_EQ(routeOf(u"А дальше?", false, false), general);
    EXPECT_EQ(routeOf(u"Did I click the right thing?", false, true), screen);
    EXPECT_EQ(routeOf(u"Did I click the right thing?", false, false), general);
}

TEST(DesktopRequestRouter, MixedLanguageQuestions)
{
    EXPECT_EQ(routeOf(u"Где здесь API key?"), screen);
    EXPECT_EQ(routeOf(u"Stop, пожалуйста"), stop);
    EXPECT_EQ(routeOf(u"Как мне open this?"), screen);
    EXPECT_EQ(routeOf(u"Что такое Kubernetes?"), general);
    EXPECT_EQ(routeOf(u"what значит это слово"), general) << "question word and a pointer but no action";
    // Not a stop (question word), and the stem "работа" has no pointing word beside it.
    EXPECT_EQ(routeOf(u"как wait работает в bash"), general);
    EXPECT_EQ(routeOf(u"как wait работает тут"), screen);
}
