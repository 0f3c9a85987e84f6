#include "conversation/DesktopOpeningLine.h"

#include <gtest/gtest.h>

using namespace nimbel;
using namespace nimbel::DesktopOpeningLine;
using namespace Qt::StringLiterals;
using Route = DesktopRequestRoute;

namespace {

Pick always(qsizetype index)
{
    return [index](qsizetype) { return index; };
}

auto readyAmong(QStringList lines)
{
    return [lines](const QString &line) { return lines.contains(line); };
}

} // namespace

TEST(DesktopOpeningLine, FamilyFollowsTheQuestionBeforeItsRoute)
{
    const std::tuple<const char16_t *, Route, Family> cases[] = {
        {u"Что это за окно?", Route::screen, Family::look},          // no phrase: the route decides
        {u"Расскажи анекдот", Route::general, Family::figureOut},
        {u"почему не работает кнопка", Route::screen, Family::figureOut}, // troubleshooting beats the route
        {u"Какая погода завтра?", Route::general, Family::lookUp},   // outside knowledge
        {u"How do I fix why it fails", Route::general, Family::lookUp}, // how-to before troubleshooting
        {u"rapid growth", Route::general, Family::lookUp},           // "api" inside a longer word counts
    };
    for (const auto &[question, route, expected] : cases)
        EXPECT_EQ(family(question, route), expected) << QString::fromUtf16(question).toStdString();
    EXPECT_TRUE(needsLookingUp(u"Какая погода завтра?"));
}

TEST(DesktopOpeningLine, ChoosingAvoidsThePreviousLineAndClampsThePick)
{
    const QStringList two = {"A", "B"};
    EXPECT_EQ(choose(two, std::nullopt, always(0)), u"A");
    // The previous line is taken out while another remains.
    EXPECT_EQ(choose(two, u"A"_s, always(0)), u"B");
    // Out-of-range picks are clamped.
    EXPECT_EQ(choose(two, std::nullopt, always(7)), u"B");
}

TEST(DesktopOpeningLine, FirstLineComesOnlyFromReadyAudio)
{
    // (A draft of five characters or fewer gets a neutral line: the question turn's test.)
    const auto allReady = [](const QString &) { return true; };
    // Longer drafts: their family's lines, then the neutral ones.
    qsizetype offered = 0;
    const auto counting = [&](qsizetype count) {
        offered = count;
        return count - 1;
    };
    EXPECT_EQ(first(u"где здесь кнопка", Route::screen, std::nullopt, allReady, AppLanguage::ru, counting),
              u"Сэр, секунду.");
    EXPECT_EQ(offered, 4);

    // Only lines whose audio is cached are candidates.
    EXPECT_EQ(first(u"почему не работает", Route::general, std::nullopt,
                    readyAmong({"Сэр, сейчас разберусь.", "Let me work that out."}), AppLanguage::ru, always(0)),
              u"Сэр, сейчас разберусь.");
    // A cold cache gives no line at all.
    EXPECT_EQ(first(u"почему не работает", Route::general, std::nullopt, readyAmong({}), AppLanguage::ru), std::nullopt);
}
