// Text helpers. (WAV reading: the server test's transcriptions.)

#include "Text.h"

#include <gtest/gtest.h>

namespace nimbel::localplatform {
namespace {

using Strings = std::vector<std::string>;

TEST(LocalPlatformText, LanguageCaseWordsAndQuotes)
{
    EXPECT_TRUE(text::hasCyrillic("Hello, мир") && text::hasCyrillic("Ё"));
    EXPECT_FALSE(text::hasCyrillic("Hello, world") || text::hasCyrillic("Ѣ")); // outside [А-Яа-яЁё]

    EXPECT_EQ(text::lower("ПРИВЕТ Ёлка ÄBC"), "привет ёлка äbc");
    EXPECT_EQ(text::trim("\u00A0 \t hi there \r\n\u2028"), "hi there");
    EXPECT_EQ(text::words("Don't click “Save As…”, ok? Кнопка-2"),
              (Strings{"don't", "click", "save", "as", "ok", "кнопка", "2"}));
    EXPECT_EQ(text::quotedPhrases("Press «Далее», then “Finish” or \"Cancel\" or „Назад“ or ‘Help’; not 'this'"),
              (Strings{"Далее", "Finish", "Cancel", "Назад", "Help"}));

    EXPECT_EQ(text::sentences("Hello there! How are you?! Fine…  Thanks.\nNext line"),
              (Strings{"Hello there!", "How are you?!", "Fine…", "Thanks.", "Next line"}));

    EXPECT_EQ(text::htmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");

    EXPECT_TRUE(text::isValidUtf8("ok привет 😀"));
    EXPECT_FALSE(text::isValidUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_EQ(text::decode("a\xFF").back(), U'\uFFFD');
}

} // namespace
} // namespace nimbel::localplatform
