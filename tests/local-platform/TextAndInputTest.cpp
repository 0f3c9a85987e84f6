// Text helpers, command-line options and WAV reading.

#include "Options.h"
#include "Text.h"
#include "WavAudio.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace nimbel::localplatform {
namespace {

using Strings = std::vector<std::string>;

TEST(LocalPlatformText, LanguageCaseWordsAndQuotes)
{
    EXPECT_TRUE(text::hasCyrillic("Hello, мир") && text::hasCyrillic("ё") && text::hasCyrillic("Ё"));
    EXPECT_FALSE(text::hasCyrillic("Hello, world") || text::hasCyrillic("Ѣ")); // outside [А-Яа-яЁё]

    EXPECT_EQ(text::lower("ПРИВЕТ Ёлка ÄBC"), "привет ёлка äbc");
    EXPECT_EQ(text::trim("\u00A0 \t hi there \r\n\u2028"), "hi there");
    EXPECT_EQ(text::words("Don't click “Save As…”, ok? Кнопка-2"),
              (Strings{"don't", "click", "save", "as", "ok", "кнопка", "2"}));
    EXPECT_EQ(text::quotedPhrases("Press «Далее», then “Finish” or \"Cancel\" or „Назад“ or ‘Help’; not 'this'"),
              (Strings{"Далее", "Finish", "Cancel", "Назад", "Help"}));

    EXPECT_EQ(text::sentences("Hello there! How are you?! Fine…  Thanks.\nNext line"),
              (Strings{"Hello there!", "How are you?!", "Fine…", "Thanks.", "Next line"}));
    EXPECT_EQ(text::sentences("Version 1.5 is out. See «Notes.» now"), (Strings{"Version 1.5 is out.", "See «Notes.»", "now"}));

    EXPECT_EQ(text::htmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
    EXPECT_EQ(text::shortened("привет мир", 7), "привет…");

    EXPECT_TRUE(text::isValidUtf8("ok привет 😀"));
    EXPECT_FALSE(text::isValidUtf8("\xC0\xAF"));         // overlong "/"
    EXPECT_FALSE(text::isValidUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_EQ(text::decode("a\xFF").back(), U'\uFFFD');
}

TEST(LocalPlatformOptions, RefusesBadValuesNamingTheOption)
{
    const auto defaults = parseOptions({});
    ASSERT_TRUE(defaults.ok());
    EXPECT_EQ(defaults->port, 4100);
    const std::vector<std::vector<std::string>> refused = {
        {"--port", "65536"}, {"--port", "80x"}, {"--script"}, {"--verbose"}, {"--token", " "},
        {"--speech-delay-ms", "-1"}, {"--transcription-delay-ms", "60001"}};
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

// A RIFF WAVE file with 16-bit samples and optional extra chunks before "data".
std::string wav(int rate, int channels, const std::vector<std::int16_t> &samples, int bits = 16,
                const std::string &extraChunk = {}, std::uint32_t dataSize = 0xFFFFFFFEu)
{
    const auto u32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
    };
    const auto u16 = [](std::uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
    std::string data;
    for (std::int16_t s : samples)
        data += u16(static_cast<std::uint16_t>(s));
    std::string fmt = u16(1) + u16(static_cast<std::uint16_t>(channels)) + u32(static_cast<std::uint32_t>(rate))
        + u32(static_cast<std::uint32_t>(rate * channels * 2)) + u16(static_cast<std::uint16_t>(channels * 2))
        + u16(static_cast<std::uint16_t>(bits));
    const std::uint32_t size = dataSize == 0xFFFFFFFEu ? static_cast<std::uint32_t>(data.size()) : dataSize;
    std::string body = "WAVE" + std::string("fmt ") + u32(16) + fmt + extraChunk + "data" + u32(size) + data;
    return "RIFF" + u32(static_cast<std::uint32_t>(body.size())) + body;
}

TEST(LocalPlatformAudio, ReadsPcmWaveFiles)
{
    const auto mono = parseWav(wav(16000, 1, {1, -2, 300, -32768}));
    ASSERT_TRUE(mono.ok()) << mono.error().message;
    EXPECT_EQ(mono->sampleRate, 16000);
    EXPECT_EQ(mono->samples, (std::vector<std::int16_t>{1, -2, 300, -32768}));

    // Stereo is mixed down; an odd-sized chunk before "data" is skipped with its pad byte.
    const std::string list = std::string("LIST") + std::string("\x03\x00\x00\x00", 4) + "abc" + std::string(1, '\0');
    const auto stereo = parseWav(wav(16000, 2, {100, 300, -100, -300}, 16, list));
    ASSERT_TRUE(stereo.ok()) << stereo.error().message;
    EXPECT_EQ(stereo->channels, 2);
    EXPECT_EQ(stereo->samples, (std::vector<std::int16_t>{200, -200}));

    // A streaming writer's "unknown" data size reads to the end of the file.
    const auto streamed = parseWav(wav(22050, 1, {5, 6, 7}, 16, {}, 0xFFFFFFFFu));
    ASSERT_TRUE(streamed.ok());
    EXPECT_EQ(streamed->samples.size(), 3u);

    EXPECT_FALSE(parseWav("RIFF....WAVX").ok());
    EXPECT_EQ(parseWav(wav(16000, 1, {1}, 8)).error().message, "only 16-bit samples are accepted");
    EXPECT_EQ(parseWav(wav(16000, 3, {1, 2, 3})).error().message, "only mono or stereo audio is accepted");
    const std::string noData = wav(16000, 1, {}).substr(0, 36);
    EXPECT_EQ(parseWav(noData).error().message, "there is no \"data\" chunk");
}

} // namespace
} // namespace nimbel::localplatform
