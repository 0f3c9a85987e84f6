#include "screen/ScriptConsistency.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(ScriptConsistency, LookAlikeWordsFollowTheirSurroundingsAndAgreeingReadingsStand)
{
    const struct
    {
        const char *line;
        QStringList around;
        WritingScript expected;
    } cases[] = {
        // "на" read as Latin "Ha" among Russian words.
        {"Требуется места Ha диске", {}, WritingScript::cyrillic},
        // A word alone in its cell: its row decides ("Номер" read as "Homep").
        {"Homep", {"Город / City", "Сумма", "Менеджер"}, WritingScript::cyrillic},
        {"412 MB", {"Требуется места на диске"}, WritingScript::cyrillic},
        // A word mixing both alphabets ("С" and "о" Cyrillic) among English words.
        {"Upload Сompleted", {}, WritingScript::latin},
        {"Петрова A.", {}, WritingScript::cyrillic},
        // English among English, even when every letter has a Cyrillic look-alike.
        {"Home", {"Search", "Your Library"}, WritingScript::none},
        {"Home", {}, WritingScript::none}, // nothing around it decides
        // Really mixed lines stay as read.
        {"Заказы за декабрь / December orders", {}, WritingScript::none},
        {"Город / City", {}, WritingScript::none},
        {"Установка приложения", {"Home"}, WritingScript::none},
        {"1200,00 ₽", {"Москва"}, WritingScript::none},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rereadScript(QString::fromUtf8(c.line), c.around), c.expected) << c.line;

    // What decides: only words of one alphabet count.
    EXPECT_EQ(decisiveScript({QStringLiteral("Статус / Status"), QStringLiteral("Сумма")}), WritingScript::cyrillic);
    EXPECT_EQ(decisiveScript({QStringLiteral("Shipped"), QStringLiteral("Smith J.")}), WritingScript::latin);
    EXPECT_EQ(decisiveScript({QStringLiteral("OK"), QStringLiteral("123")}), WritingScript::none);
    EXPECT_EQ(decisiveScript({QStringLiteral("Status Статус")}), WritingScript::none);
}

