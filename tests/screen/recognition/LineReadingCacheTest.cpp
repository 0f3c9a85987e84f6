#include "screen/LineReadingCache.h"

#include <gtest/gtest.h>

using namespace nimbel;
using Engine = LineReadingCache::Engine;

namespace {

LineReader::Reading reading(const QString &text)
{
    LineReader::Reading r;
    r.text = text;
    r.confidence = 0.9;
    return r;
}

LineReadingCache::Key key(std::uint64_t n)
{
    return {n, ~n, 100, 20, 1};
}

// A screenshot with two copies of one line at different places.
GrayImage twoCopies()
{
    GrayImage image;
    image.width = 60;
    image.height = 40;
    image.pixels.assign(60 * 40, 240);
    for (int x = 3; x < 20; x += 3) {
        for (int y = 4; y < 10; ++y) {
            image.pixels[static_cast<std::size_t>(y) * 60 + x] = 20;
            image.pixels[static_cast<std::size_t>(y + 20) * 60 + x + 30] = 20;
        }
    }
    return image;
}

} // namespace

TEST(LineReadingCache, KeysFollowThePixelsWhereverTheyAre)
{
    GrayImage image = twoCopies();
    const QRect first(0, 2, 24, 10);
    const QRect second(30, 22, 24, 10);
    EXPECT_EQ(LineReadingCache::keyOf(image, first, 1, Engine::combined),
              LineReadingCache::keyOf(image, second, 1, Engine::combined));
    EXPECT_NE(LineReadingCache::keyOf(image, first, 1, Engine::combined),
              LineReadingCache::keyOf(image, first, 1, Engine::cyrillic));
    image.pixels[static_cast<std::size_t>(25) * 60 + 40] = 21; // one grey level of one pixel
    EXPECT_NE(LineReadingCache::keyOf(image, first, 1, Engine::combined),
              LineReadingCache::keyOf(image, second, 1, Engine::combined));
}

TEST(LineReadingCache, ForgetsTheLeastRecentlyUsedBeyondItsBounds)
{
    LineReadingCache byCount(3, 1 << 20);
    for (std::uint64_t n = 1; n <= 3; ++n)
        byCount.insert(key(n), reading(QStringLiteral("line %1").arg(n)));
    ASSERT_TRUE(byCount.find(key(1))); // 1 is now the most recent: 2 goes first
    byCount.insert(key(4), reading(QStringLiteral("line 4")));
    EXPECT_EQ(byCount.size(), 3u);
    EXPECT_FALSE(byCount.find(key(2)));
    EXPECT_EQ(byCount.find(key(1))->text, QStringLiteral("line 1"));
    EXPECT_TRUE(byCount.find(key(3)));
    EXPECT_TRUE(byCount.find(key(4)));

    LineReadingCache byBytes(1000, 2000);
    const QString longText(200, QLatin1Char('x')); // 400 bytes of text
    for (std::uint64_t n = 1; n <= 20; ++n) {
        byBytes.insert(key(n), reading(longText));
        EXPECT_LE(byBytes.bytes(), 2000u);
    }
    EXPECT_TRUE(byBytes.find(key(20)));
    EXPECT_FALSE(byBytes.find(key(1)));
    EXPECT_GT(byBytes.size(), 1u);

    byBytes.insert(key(99), reading(QString(5000, QLatin1Char('y')))); // larger than the whole bound
    EXPECT_FALSE(byBytes.find(key(99)));
    EXPECT_LE(byBytes.bytes(), 2000u);
}
