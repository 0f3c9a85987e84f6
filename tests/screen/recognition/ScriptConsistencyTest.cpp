#include "screen/ScriptConsistency.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(ScriptConsistency, LookAlikeWordsFollowTheirSurroundings)
{
    // "на" read as Latin "Ha" among Russian words.
    EXPECT_EQ(rereadScript(QStringLiteral("Требуется места Ha диске"), {}), WritingScript::cyrillic);
    // A word alone in its cell: its row decides ("Номер" read as "Homep").
    EXPECT_EQ(rereadScript(QStringLiteral("Homep"), {QStringLiteral("Город / City"), QStringLiteral("Сумма"),
                                                    QStringLiteral("Менеджер")}),
              WritingScript::cyrillic);
    EXPECT_EQ(rereadScript(QStringLiteral("412 MB"), {QStringLiteral("Требуется места на диске")}),
              WritingScript::cyrillic);
    // A word mixing both alphabets ("С" and "о" Cyrillic) among English words.
    EXPECT_EQ(rereadScript(QStringLiteral("Upload Сompleted"), {}), WritingScript::latin);
    EXPECT_EQ(rereadScript(QStringLiteral("Петрова A."), {}), WritingScript::cyrillic);
}

TEST(ScriptConsistency, ReadingsThatAgreeWithTheirSurroundingsStand)
{
    // English among English, even when every letter has a Cyrillic look-alike.
    EXPECT_EQ(rereadScript(QStringLiteral("Home"), {QStringLiteral("Search"), QStringLiteral("Your Library")}),
              WritingScript::none);
    // Nothing around it decides: keep it.
    EXPECT_EQ(rereadScript(QStringLiteral("Home"), {}), WritingScript::none);
    // Really mixed lines stay as read.
    EXPECT_EQ(rereadScript(QStringLiteral("Заказы за декабрь / December orders"), {}), WritingScript::none);
    EXPECT_EQ(rereadScript(QStringLiteral("Город / City"), {}), WritingScript::none);
    EXPECT_EQ(rereadScript(QStringLiteral("Установка приложения"), {QStringLiteral("Home")}), WritingScript::none);
    EXPECT_EQ(rereadScript(QStringLiteral("1200,00 ₽"), {QStringLiteral("Москва")}), WritingScript::none);
}

TEST(ScriptConsistency, DecisiveScriptCountsOnlyWordsOfOneAlphabet)
{
    EXPECT_EQ(decisiveScript({QStringLiteral("Статус / Status"), QStringLiteral("Сумма")}), WritingScript::cyrillic);
    EXPECT_EQ(decisiveScript({QStringLiteral("Shipped"), QStringLiteral("Smith J.")}), WritingScript::latin);
    EXPECT_EQ(decisiveScript({QStringLiteral("OK"), QStringLiteral("123")}), WritingScript::none);
    EXPECT_EQ(decisiveScript({QStringLiteral("Status Статус")}), WritingScript::none);
}
