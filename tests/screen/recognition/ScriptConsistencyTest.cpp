#include "screen/ScriptConsistency.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(ScriptConsistency, AReadingSettlesItsAlphabetOnlyByWordsTheOtherCannotHave)
{
    const struct
    {
        const char *line;
        WritingScript expected;
    } cases[] = {
        {"Требуется места Ha диске", WritingScript::cyrillic}, // look-alikes follow the line's own words
        {"Smith J.", WritingScript::latin},
        {"Łódź", WritingScript::latin},
        // Letters both alphabets share, and a Russian model's readings of Latin text.
        {"Homep", WritingScript::none},
        {"HeT", WritingScript::none},
        {"Ноте", WritingScript::none},
        {"Оп", WritingScript::none},
        // A stray sign read as a letter, and no letters at all.
        {"1237,01 f?", WritingScript::none},
        {"1200,00 ₽", WritingScript::none},
        // Words of both alphabets.
        {"Заказы за декабрь / December orders", WritingScript::none},
    };
    for (const auto &c : cases)
        EXPECT_EQ(lineScript(QString::fromUtf8(c.line)), c.expected) << c.line;
    EXPECT_FALSE(hasLetters(QStringLiteral("12:40 · 1200,00 ₽")));
    EXPECT_TRUE(hasLetters(QStringLiteral("412 МБ")));

    // What decides: only words of one alphabet count.
    EXPECT_EQ(decisiveScript({QStringLiteral("Статус / Status"), QStringLiteral("Сумма")}), WritingScript::cyrillic);
    EXPECT_EQ(decisiveScript({QStringLiteral("Shipped"), QStringLiteral("Smith J.")}), WritingScript::latin);
    EXPECT_EQ(decisiveScript({QStringLiteral("OK"), QStringLiteral("123")}), WritingScript::none);
    EXPECT_EQ(decisiveScript({QStringLiteral("Status Статус")}), WritingScript::none);
}

