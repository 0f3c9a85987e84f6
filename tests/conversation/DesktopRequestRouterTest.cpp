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

TEST(DesktopRequestRouter, NormalizeKeepsLettersAndDigitsByCodePointLowerCasedAndCollapsesTheRest)
{
    const std::pair<QStringView, QStringView> cases[] = {
        {u"what's this", u"what s this"},
        {u"  Где на этом экране кнопка «Продолжить»?  ", u"где на этом экране кнопка продолжить"},
        // Outside the basic plane: a letter (lower-cased too), and an emoji (a symbol, so a separator).
        {u"\U00010400x", u"\U00010428x"},
        {u"стоп\U0001F44Dстоп", u"стоп стоп"},
        // A letter written as base + combining mark stays one letter.
        {u"сто\u0438\u0306", u"стой"},
    };
    for (const auto &[text, normal] : cases)
        EXPECT_EQ(router::normalize(text), normal.toString()) << text.toString().toStdString();
    EXPECT_EQ(routeOf(u"Сто\u0418\u0306!"), stop);
}

TEST(DesktopRequestRouter, RoutesQuestionsByTheFirstRuleThatApplies)
{
    struct Case
    {
        const char16_t *question;
        DesktopRequestRoute route;
        bool manualCapturePending = false;
        bool lastRequestUsedScreen = false;
    };
    const Case cases[] = {
        // Stop: whole-text commands, or a stop word in at most six words without a question word.
        {u"hold on", stop},
        {u"please hold on", general},
        {u"please stop talking now for a second", general},
        {u"Как остановить запись?", general},
        {u"стоп на экране", stop},
        {u"стопка бумаги", general},
        // Screen phrases (found inside longer words too) and deictic phrases.
        {u"Что здесь?", screen},
        {u"Какая погода в Москве?", general},
        // An action stem needs a whole referential word.
        {u"How do I open this?", screen},
        {u"How can I open thistle seeds?", general},
        // A pending manual capture, then follow-ups after a screen turn.
        {u"Расскажи анекдот", screen, true},
        {u"   \n", general, true, true},
        {u"А дальше?", screen, false, true},
        {u"А дальше?", general},
        // Mixed languages.
        {u"как wait работает тут", screen},
    };
    for (const Case &c : cases) {
        const QStringView question(c.question);
        EXPECT_EQ(routeOf(question, c.manualCapturePending, c.lastRequestUsedScreen), c.route)
            << question.toString().toStdString();
    }
}
