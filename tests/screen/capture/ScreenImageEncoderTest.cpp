#include "screen/JpegQualityLadder.h"
#include "screen/ScreenImageEncoder.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPainter>
#include <QRandomGenerator>
#include <QThread>

#include <QCoro/QCoroTask>

#include <map>

using namespace nimbel;

namespace {
// A fake encoder whose output size per quality is scripted; -1 fails.
auto scriptedSizes(std::map<int, qsizetype> sizes, QList<double> *asked = nullptr)
{
    return [sizes = std::move(sizes), asked](double quality) -> std::optional<QByteArray> {
        if (asked)
            asked->append(quality);
        const qsizetype size = sizes.at(static_cast<int>(std::lround(quality * 100)));
        if (size < 0)
            return std::nullopt;
        return QByteArray(size, static_cast<char>(std::lround(quality * 100)));
    };
}

const QList<double> ladder{0.78, 0.70, 0.62, 0.54};
} // namespace

TEST(JpegQualityLadder, TakesTheFirstQualityWithinTheBudgetElseTheLastThatEncoded)
{
    const struct
    {
        const char *what;
        std::map<int, qsizetype> sizes; // bytes per quality; -1 fails
        std::optional<double> chosen;
        bool withinBudget;
        QList<double> asked;
    } cases[] = {
        {"budget is inclusive", {{78, 1000}, {70, 1}, {62, 1}, {54, 1}}, 0.78, true, {0.78}},
        {"second fits", {{78, 1001}, {70, 900}, {62, 1}, {54, 1}}, 0.70, true, {0.78, 0.70}},
        {"none fits", {{78, 4000}, {70, 3000}, {62, 2000}, {54, 1500}}, 0.54, false, ladder},
        {"first fails", {{78, -1}, {70, 500}, {62, 1}, {54, 1}}, 0.70, true, {0.78, 0.70}},
        {"all fail", {{78, -1}, {70, -1}, {62, -1}, {54, -1}}, std::nullopt, false, ladder},
    };
    for (const auto &c : cases) {
        QList<double> asked;
        const auto outcome = runJpegQualityLadder(ladder, 1000, scriptedSizes(c.sizes, &asked));
        EXPECT_EQ(asked, c.asked) << c.what;
        ASSERT_EQ(outcome.has_value(), c.chosen.has_value()) << c.what;
        if (!outcome)
            continue;
        EXPECT_EQ(outcome->quality, *c.chosen) << c.what;
        EXPECT_EQ(outcome->jpeg.size(), c.sizes.at(int(std::lround(*c.chosen * 100)))) << c.what;
        EXPECT_EQ(outcome->withinBudget, c.withinBudget) << c.what;
        EXPECT_EQ(outcome->attempts.size(), asked.size()) << c.what;
    }
}

namespace {
// A screen-like picture: gradient background, panels and lines of "text".
QImage screenLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor(240, 244, 250));
    gradient.setColorAt(1, QColor(200, 210, 230));
    painter.fillRect(image.rect(), gradient);
    painter.fillRect(QRect(40, 40, width / 3, height - 80), QColor(40, 60, 90));
    for (int y = 80; y < height - 40; y += 28)
        painter.fillRect(QRect(width / 3 + 80, y, width / 2 - (y % 97), 12), QColor(30, 30, 30));
    return image;
}

// Random pixels: no quality on the ladder brings them within the budget.
QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}
} // namespace

TEST(ScreenImageEncoder, ScalesToThePolicySizeAndWalksTheLadderUntilTheBudgetHolds)
{
    const QImage capture = screenLike(2048, 1365);
    const auto detailed = ScreenImageEncoder::encode(capture, ScreenImageEncodingPolicy::detailedVision());
    ASSERT_TRUE(detailed);
    EXPECT_TRUE(detailed->withinBudget);
    EXPECT_EQ(detailed->quality, 0.78);
    EXPECT_EQ(QImage::fromData(detailed->jpeg, "JPEG").size(), QSize(1600, 1066));

    const auto vision = ScreenImageEncoder::encode(capture, ScreenImageEncodingPolicy::vision());
    ASSERT_TRUE(vision);
    EXPECT_EQ(QImage::fromData(vision->jpeg, "JPEG").size(), QSize(1440, 960));

    // Noise drives the ladder to the bottom and past the budget.
    const auto noisy = ScreenImageEncoder::encode(noise(2048, 1365, 11), ScreenImageEncodingPolicy::detailedVision());
    ASSERT_TRUE(noisy);
    ASSERT_EQ(noisy->attempts.size(), 4);
    EXPECT_FALSE(noisy->withinBudget);
    EXPECT_EQ(noisy->jpeg.size(), noisy->attempts.last().second);
    // Each step down the ladder really writes at a lower quality: fewer bytes.
    for (qsizetype i = 1; i < noisy->attempts.size(); ++i)
        EXPECT_LT(noisy->attempts[i].second, noisy->attempts[i - 1].second) << i;
}

TEST(ScreenImageEncoder, KeepsColoursRightForEveryPixelLayout)
{
    const QColor stripes[] = {QColor(220, 20, 20), QColor(20, 200, 20), QColor(20, 20, 220), Qt::white};
    QImage source(400, 200, QImage::Format_RGB32);
    for (int i = 0; i < 4; ++i)
        QPainter(&source).fillRect(QRect(i * 100, 0, 100, 200), stripes[i]);
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_BGR888}) {
        const auto outcome = ScreenImageEncoder::encode(source.convertToFormat(format),
                                                        ScreenImageEncodingPolicy::detailedVision());
        ASSERT_TRUE(outcome) << format;
        const QImage decoded = QImage::fromData(outcome->jpeg, "JPEG");
        ASSERT_EQ(decoded.size(), source.size());
        for (int i = 0; i < 4; ++i) {
            const QColor got = decoded.pixelColor(i * 100 + 50, 100);
            EXPECT_LE(std::max({std::abs(got.red() - stripes[i].red()), std::abs(got.green() - stripes[i].green()),
                                std::abs(got.blue() - stripes[i].blue())}),
                      12)
                << format << ", stripe " << i;
        }
    }
    EXPECT_FALSE(ScreenImageEncoder::encode(QImage(), ScreenImageEncodingPolicy::vision()));
}

TEST(ScreenImageEncoder, EncodesOneImageAtATimeOffTheMainThreadAndResumesOnIt)
{
    ScreenImageEncoder encoder;
    const QImage large = noise(2048, 1365, 3);
    const QImage small = screenLike(300, 200);
    QStringList finished;
    QList<QThread *> resumedOn;
    auto encode = [&](QImage image, QString name) -> QCoro::Task<std::optional<QByteArray>> {
        auto jpeg = co_await encoder.jpegData(image, ScreenImageEncodingPolicy::vision());
        finished.append(name);
        resumedOn.append(QThread::currentThread());
        co_return jpeg;
    };
    // Both are queued before either runs; the small one must wait for the large one.
    auto first = encode(large, QStringLiteral("large"));
    auto second = encode(small, QStringLiteral("small"));
    EXPECT_TRUE(finished.isEmpty()); // nothing was encoded on the calling thread
    const auto smallJpeg = QCoro::waitFor(second);
    const auto largeJpeg = QCoro::waitFor(first);
    EXPECT_EQ(finished, (QStringList{"large", "small"}));
    EXPECT_EQ(resumedOn, (QList<QThread *>{qApp->thread(), qApp->thread()}));

    ASSERT_TRUE(smallJpeg && largeJpeg);
    EXPECT_EQ(*smallJpeg, ScreenImageEncoder::encode(small, ScreenImageEncodingPolicy::vision())->jpeg);
    EXPECT_EQ(QImage::fromData(*largeJpeg, "JPEG").size(), QSize(1440, 960));
}
