#include "screen/TextLineDetector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <vector>

namespace nimbel {

namespace {

struct Run
{
    int y;
    int x0;
    int x1; // inclusive
};

struct Component
{
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1; // inclusive
    long pixels = 0;
    long interior = 0;

    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
};

class DisjointSets
{
public:
    explicit DisjointSets(std::size_t size)
        : m_parent(size)
    {
        std::iota(m_parent.begin(), m_parent.end(), 0);
    }
    std::size_t find(std::size_t i)
    {
        while (m_parent[i] != i) {
            m_parent[i] = m_parent[m_parent[i]];
            i = m_parent[i];
        }
        return i;
    }
    void unite(std::size_t a, std::size_t b)
    {
        a = find(a);
        b = find(b);
        if (a != b)
            m_parent[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::size_t> m_parent;
};

// Pixels where the luminance steps by at least `threshold` to the right or
// below. Straight vertical edges taller than any glyph (window frames, panel
// borders, table rules) are taken out: text drawn close to one would
// otherwise join it and be dropped with it.
std::vector<std::uint8_t> edgeMask(const GrayImage &image, int threshold)
{
    const int w = image.width;
    const int h = image.height;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t *row = image.row(y);
        const std::uint8_t *below = y + 1 < h ? image.row(y + 1) : row;
        std::uint8_t *out = mask.data() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const int right = x + 1 < w ? row[x + 1] : row[x];
            out[x] = std::abs(row[x] - right) >= threshold || std::abs(row[x] - below[x]) >= threshold;
        }
    }
    const int tallestStroke = std::max(60, h / 12);
    for (int x = 0; x < w; ++x) {
        int start = 0;
        for (int y = 0; y <= h; ++y) {
            const bool marked = y < h && mask[static_cast<std::size_t>(y) * w + x];
            if (marked)
                continue;
            if (y - start > tallestStroke) {
                for (int k = start; k < y; ++k)
                    mask[static_cast<std::size_t>(k) * w + x] = 0;
            }
            start = y + 1;
        }
    }
    return mask;
}

// Rows of edge pixels, with small gaps bridged so that a glyph's strokes and
// the letters of a word join.
std::vector<Run> edgeRuns(const GrayImage &image, int threshold, int gap, std::vector<std::size_t> &rowStart)
{
    const std::vector<std::uint8_t> mask = edgeMask(image, threshold);
    std::vector<Run> runs;
    rowStart.assign(static_cast<std::size_t>(image.height) + 1, 0);
    for (int y = 0; y < image.height; ++y) {
        rowStart[static_cast<std::size_t>(y)] = runs.size();
        const std::uint8_t *marks = mask.data() + static_cast<std::size_t>(y) * image.width;
        int runStart = -1;
        int lastEdge = -1000;
        for (int x = 0; x < image.width; ++x) {
            if (!marks[x])
                continue;
            if (runStart >= 0 && x - lastEdge - 1 > gap) {
                runs.push_back({y, runStart, lastEdge});
                runStart = -1;
            }
            if (runStart < 0)
                runStart = x;
            lastEdge = x;
        }
        if (runStart >= 0)
            runs.push_back({y, runStart, lastEdge});
    }
    rowStart[static_cast<std::size_t>(image.height)] = runs.size();
    return runs;
}

std::vector<Component> components(const GrayImage &image, int threshold, int gap)
{
    std::vector<std::size_t> rowStart;
    const std::vector<Run> runs = edgeRuns(image, threshold, gap, rowStart);
    DisjointSets sets(runs.size());
    for (int y = 1; y < image.height; ++y) {
        std::size_t above = rowStart[static_cast<std::size_t>(y - 1)];
        const std::size_t aboveEnd = rowStart[static_cast<std::size_t>(y)];
        for (std::size_t i = rowStart[static_cast<std::size_t>(y)]; i < rowStart[static_cast<std::size_t>(y) + 1]; ++i) {
            while (above < aboveEnd && runs[above].x1 + 1 < runs[i].x0)
                ++above;
            for (std::size_t j = above; j < aboveEnd && runs[j].x0 <= runs[i].x1 + 1; ++j)
                sets.unite(i, j);
        }
    }

    std::vector<long> index(runs.size(), -1);
    std::vector<Component> found;
    std::vector<std::size_t> owner(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::size_t root = sets.find(i);
        if (index[root] < 0) {
            index[root] = static_cast<long>(found.size());
            found.push_back({runs[i].x0, runs[i].y, runs[i].x1, runs[i].y, 0, 0});
        }
        Component &c = found[static_cast<std::size_t>(index[root])];
        c.x0 = std::min(c.x0, runs[i].x0);
        c.x1 = std::max(c.x1, runs[i].x1);
        c.y0 = std::min(c.y0, runs[i].y);
        c.y1 = std::max(c.y1, runs[i].y);
        c.pixels += runs[i].x1 - runs[i].x0 + 1;
        owner[i] = static_cast<std::size_t>(index[root]);
    }
    // Edge pixels away from the component's own border: an outline (button,
    // field, selection) has none, a glyph cluster has many.
    for (std::size_t i = 0; i < runs.size(); ++i) {
        Component &c = found[owner[i]];
        const int margin = std::max(2, c.height() / 5);
        if (runs[i].y < c.y0 + margin || runs[i].y > c.y1 - margin)
            continue;
        const int from = std::max(runs[i].x0, c.x0 + margin);
        const int to = std::min(runs[i].x1, c.x1 - margin);
        if (to >= from)
            c.interior += to - from + 1;
    }
    return found;
}

bool isGlyphCluster(const Component &c, int imageHeight)
{
    const int w = c.width();
    const int h = c.height();
    const int tallest = std::max(48, imageHeight / 8);
    if (h > tallest)
        return false; // panels, separators, pictures
    if (h <= 3 && w >= 8 * h)
        return false; // rules and underlines
    // Wide and empty inside: the outline of a button, a field or a selected
    // row. (Glyphs such as "П" or "О" are empty inside too, but never wide.)
    if (w >= 12 && h >= 12 && w >= 2 * h) {
        const int margin = std::max(2, h / 5);
        const long interiorArea = static_cast<long>(w - 2 * margin) * (h - 2 * margin);
        if (interiorArea > 0 && c.interior * 50 < interiorArea)
            return false; // an outline around something
    }
    return true;
}

// A thin upright stroke: the side of a field or a separator as often as a
// letter such as "l" or "|".
bool isBar(const Component &c)
{
    return c.width() <= std::max(3, c.height() / 6);
}

struct LineBuilder
{
    int x0, y0, x1, y1;
    bool bar; // so far one thin stroke
    int height() const { return y1 - y0 + 1; }
};

} // namespace

std::vector<QRect> TextLineDetector::detect(const GrayImage &image) const
{
    if (image.isEmpty())
        return {};
    std::vector<Component> clusters;
    for (const Component &c : components(image, m_options.edgeThreshold, m_options.letterGap)) {
        if (isGlyphCluster(c, image.height))
            clusters.push_back(c);
    }
    std::sort(clusters.begin(), clusters.end(), [](const Component &a, const Component &b) { return a.x0 < b.x0; });

    std::vector<LineBuilder> lines;
    for (const Component &c : clusters) {
        long best = -1;
        int bestOverlap = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const LineBuilder &line = lines[i];
            const int overlap = std::min(line.y1, c.y1) - std::max(line.y0, c.y0) + 1;
            const int smaller = std::min(line.height(), c.height());
            if (overlap * 2 < smaller)
                continue;
            // The smaller of the two sits inside the taller one's band.
            const bool lineIsTaller = line.height() >= c.height();
            const int centre = lineIsTaller ? (c.y0 + c.y1) / 2 : (line.y0 + line.y1) / 2;
            if (lineIsTaller ? (centre < line.y0 || centre > line.y1) : (centre < c.y0 || centre > c.y1))
                continue;
            // A stroke much taller than the text beside it is the side of the
            // field the text sits in (a placeholder, an entry), not a letter.
            if ((isBar(c) && 2 * c.height() > 3 * line.height()) || (line.bar && 2 * line.height() > 3 * c.height()))
                continue;
            const int gap = c.x0 - line.x1 - 1;
            const int allowed = std::max(3, static_cast<int>(std::lround(m_options.wordGapFactor
                                                                        * std::max(line.height(), c.height()))));
            if (gap > allowed)
                continue;
            if (overlap > bestOverlap) {
                bestOverlap = overlap;
                best = static_cast<long>(i);
            }
        }
        if (best < 0) {
            lines.push_back({c.x0, c.y0, c.x1, c.y1, isBar(c)});
            continue;
        }
        LineBuilder &line = lines[static_cast<std::size_t>(best)];
        line.x0 = std::min(line.x0, c.x0);
        line.y0 = std::min(line.y0, c.y0);
        line.x1 = std::max(line.x1, c.x1);
        line.y1 = std::max(line.y1, c.y1);
        line.bar = false;
    }

    std::vector<QRect> boxes;
    for (const LineBuilder &line : lines) {
        if (line.height() < m_options.minimumLineHeight || line.x1 - line.x0 + 1 < 3)
            continue;
        boxes.emplace_back(QPoint(line.x0, line.y0), QPoint(line.x1, line.y1));
    }
    std::sort(boxes.begin(), boxes.end(), [](const QRect &a, const QRect &b) {
        return a.top() != b.top() ? a.top() < b.top() : a.left() < b.left();
    });
    return boxes;
}

QRect lineArea(const GrayImage &image, const QRect &box)
{
    const int pad = std::max(2, box.height() / 4);
    return box.adjusted(-pad, -pad, pad, pad).intersected(QRect(0, 0, image.width, image.height));
}

namespace {

// How the levels of a region map to dark text on white: the background is the
// most common level, the text lies on the side where the other pixels are;
// empty when nothing stands out.
std::optional<std::array<std::uint8_t, 256>> textLevels(const GrayImage &image, const QRect &region)
{
    std::array<int, 256> histogram{};
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x)
            ++histogram[image.at(x, y)];
    }
    int background = 0;
    for (int v = 0; v < 256; ++v) {
        if (histogram[static_cast<std::size_t>(v)] > histogram[static_cast<std::size_t>(background)])
            background = v;
    }
    long darker = 0;
    long lighter = 0;
    for (int v = 0; v < 256; ++v) {
        const long weight = static_cast<long>(histogram[static_cast<std::size_t>(v)]) * std::abs(v - background);
        (v < background ? darker : lighter) += weight;
    }
    const bool lightText = lighter > darker;

    // Ink level: the extreme where the text's strongest pixels are (ignoring
    // a sprinkling of outliers), so that faint and coloured text gets full contrast.
    const long total = static_cast<long>(region.width()) * region.height();
    const long outliers = total / 500;
    int ink = lightText ? 255 : 0;
    long seen = 0;
    for (int step = 0; step < 256; ++step) {
        const int v = lightText ? 255 - step : step;
        seen += histogram[static_cast<std::size_t>(v)];
        if (seen > outliers) {
            ink = v;
            break;
        }
    }
    const int range = std::abs(background - ink);
    if (range < 16)
        return std::nullopt;
    std::array<std::uint8_t, 256> map{};
    for (int v = 0; v < 256; ++v) {
        const int distance = lightText ? background - v : v - background; // negative towards the ink
        const int level = 255 + distance * 255 / range;
        map[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(std::clamp(level, 0, 255));
    }
    return map;
}

// Solid blocks of "ink" as tall as the text and wider than the line is high:
// a selection highlight behind the text, whose own text is the other way round.
std::vector<QRect> solidBlocks(const std::vector<std::uint8_t> &levels, int width, int height, int textHeight)
{
    std::vector<QRect> blocks;
    std::vector<std::uint8_t> seen(levels.size(), 0);
    std::vector<int> stack;
    for (int start = 0; start < width * height; ++start) {
        if (seen[static_cast<std::size_t>(start)] || levels[static_cast<std::size_t>(start)] >= 128)
            continue;
        int x0 = width, y0 = height, x1 = -1, y1 = -1;
        long count = 0;
        seen[static_cast<std::size_t>(start)] = 1;
        stack.push_back(start);
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int x = at % width;
            const int y = at / width;
            ++count;
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x);
            y1 = std::max(y1, y);
            for (const int next : {at - 1, at + 1, at - width, at + width}) {
                if (next < 0 || next >= width * height || (next == at - 1 && x == 0) || (next == at + 1 && x == width - 1))
                    continue;
                if (!seen[static_cast<std::size_t>(next)] && levels[static_cast<std::size_t>(next)] < 128) {
                    seen[static_cast<std::size_t>(next)] = 1;
                    stack.push_back(next);
                }
            }
        }
        const int w = x1 - x0 + 1;
        const int h = y1 - y0 + 1;
        if (w >= height && 5 * h >= 3 * textHeight && 5 * count >= 3 * static_cast<long>(w) * h)
            blocks.emplace_back(QPoint(x0, y0), QPoint(x1, y1));
    }
    return blocks;
}

} // namespace

GrayImage normalizedLine(const GrayImage &image, const QRect &box, int scale, double widthShare)
{
    const QRect area = lineArea(image, box);
    GrayImage line;
    if (area.isEmpty() || scale < 1 || widthShare <= 0)
        return line;

    const double xScale = scale * widthShare;
    const int outWidth = std::max(1, static_cast<int>(std::lround(area.width() * xScale)));
    const int outHeight = area.height() * scale;
    line.width = outWidth;
    line.height = outHeight;
    line.pixels.assign(static_cast<std::size_t>(outWidth) * outHeight, 255);
    const auto map = textLevels(image, area);
    if (!map)
        return line; // nothing that stands out: a blank line

    // The area's levels as text levels, each solid block by its own levels.
    std::vector<std::uint8_t> levels(static_cast<std::size_t>(area.width()) * area.height());
    for (int y = 0; y < area.height(); ++y) {
        const std::uint8_t *row = image.row(area.top() + y) + area.left();
        for (int x = 0; x < area.width(); ++x)
            levels[static_cast<std::size_t>(y) * area.width() + x] = (*map)[row[x]];
    }
    const std::vector<QRect> blocks = solidBlocks(levels, area.width(), area.height(), box.height());
    // A highlight across most of the line holds its text: what is around it
    // (the outline of the field it is in) is not.
    const bool highlighted = std::any_of(blocks.begin(), blocks.end(),
                                         [&](const QRect &block) { return 2 * block.width() >= area.width(); });
    if (highlighted)
        std::fill(levels.begin(), levels.end(), std::uint8_t{255});
    for (const QRect &block : blocks) {
        const auto inside = textLevels(image, block.translated(area.topLeft()));
        for (int y = block.top(); y <= block.bottom(); ++y) {
            const std::uint8_t *row = image.row(area.top() + y) + area.left();
            for (int x = block.left(); x <= block.right(); ++x)
                levels[static_cast<std::size_t>(y) * area.width() + x] = inside ? (*inside)[row[x]] : 255;
        }
    }

    for (int y = 0; y < outHeight; ++y) {
        const double sy = std::clamp((y + 0.5) / scale - 0.5, 0.0, area.height() - 1.0);
        const int y0 = static_cast<int>(sy);
        const int y1 = std::min(y0 + 1, area.height() - 1);
        const double fy = sy - y0;
        const std::uint8_t *r0 = levels.data() + static_cast<std::size_t>(y0) * area.width();
        const std::uint8_t *r1 = levels.data() + static_cast<std::size_t>(y1) * area.width();
        std::uint8_t *out = line.pixels.data() + static_cast<std::size_t>(y) * outWidth;
        for (int x = 0; x < outWidth; ++x) {
            const double sx = std::clamp((x + 0.5) / xScale - 0.5, 0.0, area.width() - 1.0);
            const int x0 = static_cast<int>(sx);
            const int x1 = std::min(x0 + 1, area.width() - 1);
            const double fx = sx - x0;
            const double top = r0[x0] * (1 - fx) + r0[x1] * fx;
            const double bottom = r1[x0] * (1 - fx) + r1[x1] * fx;
            out[x] = static_cast<std::uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
        }
    }
    return line;
}

} // namespace nimbel
