// Text helpers and command-line options. (WAV reading: the server test's transcriptions.)

#include "Options.h"
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

TEST(LocalPlatformOptions, RefusesBadValuesNamingTheOption)
{
    const auto defaults = parseOptions({});
    ASSERT_TRUE(defaults.ok());
    EXPECT_EQ(defaults->port, 4100);
    const std::vector<std::vector<std::string>> refused = {
        {"--port", "65536"}, {"--script"}, {"--verbose"}, {"--token", " "}, {"--transcription-delay-ms", "60001"}};
    for (const auto &arguments : refused) {
        const auto parsed = parseOptions(arguments);
        ASSERT_FALSE(parsed.ok()) << arguments.front();
        EXPECT_NE(parsed.error().message.find(arguments.front()), std::string::npos) << parsed.error().message;
    }
    const auto delayed = parseOptions({"--transcription-delay-ms=300", "--speech-delay-ms", "150"});
    ASSERT_TRUE(delayed.ok());
    EXPECT_EQ(delayed->transcriptionDelayMs, 300);
    EXPECT_EQ(delayed->speechDelayMs, 150);
}

} // namespace
} // namespace nimbel::localplatform
