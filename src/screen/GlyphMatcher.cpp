#include "screen/GlyphMatcher.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace nimbel {

namespace {

constexpr int inkLevel = 128;

// Ink share of each grid cell of the box [left, right] × [top, bottom] of `ink(x, y)`.
template<typename Ink>
std::vector<float> gridCoverage(int left, int top, int width, int height, Ink ink)
{
    std::vector<float> cells(GlyphMatcher::gridWidth * GlyphMatcher::gridHeight, 0.0f);
    std::vector<float> area(cells.size(), 0.0f);
    for (int y = 0; y < height; ++y) {
        const int gy = std::min(GlyphMatcher::gridHeight - 1, y * GlyphMatcher::gridHeight / height);
        for (int x = 0; x < width; ++x) {
            const int gx = std::min(GlyphMatcher::gridWidth - 1, x * GlyphMatcher::gridWidth / width);
            const std::size_t cell = static_cast<std::size_t>(gy * GlyphMatcher::gridWidth + gx);
            area[cell] += 1.0f;
            cells[cell] += ink(left + x, top + y) ? 1.0f : 0.0f;
        }
    }
    // A glyph smaller than the grid leaves cells without pixels: give them the
    // nearest row's value so that small and large glyphs compare alike.
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (area[i] > 0)
            cells[i] /= area[i];
        else if (i >= GlyphMatcher::gridWidth)
            cells[i] = cells[i - GlyphMatcher::gridWidth];
        else if (i > 0)
            cells[i] = cells[i - 1];
    }
    return cells;
}

} // namespace

std::optional<Glyph> trailingGlyph(const GrayImage &line)
{
    if (line.isEmpty())
        return std::nullopt;
    std::vector<int> columnInk(static_cast<std::size_t>(line.width), 0);
    for (int y = 0; y < line.height; ++y) {
        const std::uint8_t *row = line.row(y);
        for (int x = 0; x < line.width; ++x)
            columnInk[static_cast<std::size_t>(x)] += row[x] < inkLevel ? 1 : 0;
    }
    int right = line.width - 1;
    while (right >= 0 && columnInk[static_cast<std::size_t>(right)] == 0)
        --right;
    if (right < 0)
        return std::nullopt;
    int left = right;
    while (left > 0 && columnInk[static_cast<std::size_t>(left - 1)] > 0)
        --left;
    int previous = left - 1;
    while (previous >= 0 && columnInk[static_cast<std::size_t>(previous)] == 0)
        --previous;

    Glyph glyph;
    glyph.left = left;
    glyph.right = right;
    glyph.gapBefore = previous < 0 ? -1 : left - previous - 1;
    glyph.top = line.height;
    glyph.bottom = -1;
    for (int y = 0; y < line.height; ++y) {
        for (int x = left; x <= right; ++x) {
            if (line.at(x, y) < inkLevel) {
                glyph.top = std::min(glyph.top, y);
                glyph.bottom = std::max(glyph.bottom, y);
            }
        }
    }
    glyph.coverage = gridCoverage(glyph.left, glyph.top, glyph.width(), glyph.height(),
                                  [&line](int x, int y) { return line.at(x, y) < inkLevel; });
    return glyph;
}

GlyphMatcher::GlyphMatcher(const QString &signs)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    QStringList families;
    for (const QString &family : {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans"),
                                  QStringLiteral("Liberation Sans"), QStringLiteral("Cantarell")}) {
        if (QFontDatabase::hasFamily(family))
            families.append(family);
    }
    if (families.isEmpty())
        families.append(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());

    const auto characters = signs.toUcs4();
    for (const QString &family : families) {
        for (const bool bold : {false, true}) {
            QFont font(family);
            font.setPixelSize(64);
            font.setBold(bold);
            const QFontMetrics metrics(font);
            for (const char32_t c : characters) {
                const QString sign = QString::fromUcs4(&c, 1);
                if (!metrics.inFontUcs4(c))
                    continue;
                QImage canvas(128, 128, QImage::Format_Grayscale8);
                canvas.fill(255);
                QPainter painter(&canvas);
                painter.setRenderHint(QPainter::TextAntialiasing);
                painter.setFont(font);
                painter.setPen(Qt::black);
                painter.drawText(QRect(0, 0, 128, 128), Qt::AlignCenter, sign);
                painter.end();
                GrayImage drawn = GrayImage::fromImage(canvas.convertToFormat(QImage::Format_RGB32));
                if (const auto glyph = trailingGlyph(drawn))
                    m_templates.push_back({sign, double(glyph->width()) / glyph->height(), glyph->coverage});
            }
        }
    }
}

std::optional<GlyphMatcher::Match> GlyphMatcher::bestMatch(const Glyph &glyph) const
{
    if (m_templates.empty() || glyph.coverage.size() != std::size_t(gridWidth * gridHeight))
        return std::nullopt;
    const double aspect = double(glyph.width()) / glyph.height();
    std::optional<Match> best;
    for (const Template &candidate : m_templates) {
        double difference = 0;
        for (std::size_t i = 0; i < candidate.coverage.size(); ++i)
            difference += std::abs(candidate.coverage[i] - glyph.coverage[i]);
        const double shape = 1.0 - difference / candidate.coverage.size();
        const double proportion = std::min(aspect, candidate.aspect) / std::max(aspect, candidate.aspect);
        const double similarity = shape * std::sqrt(proportion);
        if (!best || similarity > best->similarity)
            best = Match{candidate.sign, similarity};
    }
    return best;
}

} // namespace nimbel
