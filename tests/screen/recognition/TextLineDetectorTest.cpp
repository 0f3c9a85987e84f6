#include "RenderedScreen.h"

#include "screen/GlyphMatcher.h"
#include "screen/TextLineDetector.h"

#include <gtest/gtest.h>

using namespace nimbel;
using nimbel::test::RenderedScreen;

namespace {

// The detected box that overlaps `drawn` most, if any.
std::optional<QRect> detectedAt(const std::vector<QRect> &boxes, const QRect &drawn)
{
    std::optional<QRect> best;
    int bestArea = 0;
    for (const QRect &box : boxes) {
        const QRect common = box.intersected(drawn);
        const int area = common.isEmpty() ? 0 : common.width() * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = box;
        }
    }
    return best;
}

} // namespace

TEST(TextLineDetector, FindsLinesOnEveryBackgroundAndSkipsOutlinesAndRules)
{
    RenderedScreen screen(800, 400);
    screen.fill(QRect(0, 0, 200, 400), QColor(0xe8, 0xe8, 0xec));
    const QRect sidebar = screen.text(QStringLiteral("General"), QPoint(20, 20), 15);
    const QRect title = screen.text(QStringLiteral("Установка приложения"), QPoint(240, 20), 22, Qt::black, true);
    const QRect left = screen.text(QStringLiteral("Share usage statistics"), QPoint(240, 80), 15);
    const QRect right = screen.text(QStringLiteral("Off"), QPoint(700, 80), 15);
    screen.rule(110, 230, 780);
    const QRect blue = screen.button(QStringLiteral("Продолжить"), QRect(240, 150, 150, 34), QColor(0x0a, 0x84, 0xff),
                                     Qt::white);
    const QRect grey = screen.button(QStringLiteral("Cancel"), QRect(400, 150, 100, 34), QColor(0xd1, 0xd1, 0xd6),
                                     Qt::black);

    const std::vector<QRect> boxes = TextLineDetector().detect(GrayImage::fromImage(screen.image()));
    for (const QRect &drawn : {sidebar, title, left, right}) {
        const auto found = detectedAt(boxes, drawn);
        ASSERT_TRUE(found) << drawn.x() << "," << drawn.y();
        // The ink box lies within the font's box, give or take the edge pixel.
        EXPECT_TRUE(drawn.adjusted(-2, -2, 2, 2).contains(*found)) << found->x() << "," << found->y();
        EXPECT_GE(found->width(), drawn.width() * 8 / 10);
    }
    // Words far apart on one row are separate lines; a label is a line of its
    // own, not merged with its button's outline.
    EXPECT_NE(detectedAt(boxes, left), detectedAt(boxes, right));
    for (const QRect &button : {blue, grey}) {
        const auto label = detectedAt(boxes, button);
        ASSERT_TRUE(label);
        EXPECT_LT(label->height(), button.height() * 7 / 10);
        EXPECT_LT(label->width(), button.width() * 9 / 10);
    }
    // No box is the rule under the row.
    for (const QRect &box : boxes)
        EXPECT_GT(box.height(), 4) << box.x() << "," << box.y();
}

TEST(GlyphMatcher, TellsTheRoubleSignFromItsLookAlikes)
{
    const GlyphMatcher matcher(QStringLiteral("₽PРR2&8"));
    ASSERT_TRUE(matcher.isAvailable());
    for (const QString &sign : {QStringLiteral("₽"), QStringLiteral("P"), QStringLiteral("2")}) {
        for (const int size : {13, 16, 24}) {
            RenderedScreen screen(200, 60, Qt::white);
            const QRect drawn = screen.text(QStringLiteral("1200,00 ") + sign, QPoint(10, 10), size);
            const GrayImage line = normalizedLine(GrayImage::fromImage(screen.image()), drawn, size < 20 ? 2 : 1);
            const auto glyph = trailingGlyph(line);
            ASSERT_TRUE(glyph);
            EXPECT_GT(glyph->gapBefore, 0);
            const auto match = matcher.bestMatch(*glyph);
            ASSERT_TRUE(match);
            // "P" and the Cyrillic "Р" are drawn alike: either is right for "P".
            if (sign == QStringLiteral("P"))
                EXPECT_TRUE(match->sign == QStringLiteral("P") || match->sign == QStringLiteral("Р")) << size;
            else
                EXPECT_EQ(match->sign, sign) << size;
        }
    }
}
