#include "screen/AccentMarks.h"

#include <algorithm>
#include <cstdint>

namespace nimbel {

namespace {

constexpr std::uint8_t inkLevel = 128;

// Lower-case letters that span the x-height and no more: their boxes give it.
bool isBodyOnlyLetter(QChar c)
{
    static const QString letters = QStringLiteral("acemnorsuvwxzавгеикмнопстхшъыьэюя");
    return letters.contains(c);
}

// A letter that has no mark above it of its own (the dots of "i" and "j" are
// round; a tilde or a breve over them is wide).
bool isUnmarkedLetter(QChar c, bool wideMark)
{
    if (c == QLatin1Char('i') || c == QLatin1Char('j'))
        return wideMark;
    if (c.unicode() < 128)
        return c.isLetter();
    if (c.script() == QChar::Script_Cyrillic)
        return c.isLetter() && QStringLiteral("йёЙЁ").indexOf(c) < 0;
    return false; // a letter that already carries its mark
}

// A letter that ends on the baseline, with nothing of its own below it.
bool sitsOnBaseline(QChar c)
{
    static const QString descending = QStringLiteral("gjpqyQрудфщцз");
    return c.isLetter() && !descending.contains(c) && (c.unicode() < 128 || c.script() == QChar::Script_Cyrillic);
}

int median(std::vector<int> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

struct Blob
{
    int x0, y0, x1, y1; // inclusive
};

// The 8-connected ink blobs of `line`.
std::vector<Blob> blobs(const GrayImage &line)
{
    std::vector<Blob> found;
    std::vector<std::uint8_t> seen(line.pixels.size(), 0);
    std::vector<int> stack;
    for (int start = 0; start < static_cast<int>(line.pixels.size()); ++start) {
        if (seen[static_cast<std::size_t>(start)] || line.pixels[static_cast<std::size_t>(start)] >= inkLevel)
            continue;
        Blob blob{line.width, line.height, -1, -1};
        seen[static_cast<std::size_t>(start)] = 1;
        stack.push_back(start);
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int x = at % line.width;
            const int y = at / line.width;
            blob = {std::min(blob.x0, x), std::min(blob.y0, y), std::max(blob.x1, x), std::max(blob.y1, y)};
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx;
                    const int ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= line.width || ny >= line.height)
                        continue;
                    const int next = ny * line.width + nx;
                    if (!seen[static_cast<std::size_t>(next)] && line.pixels[static_cast<std::size_t>(next)] < inkLevel) {
                        seen[static_cast<std::size_t>(next)] = 1;
                        stack.push_back(next);
                    }
                }
            }
        }
        found.push_back(blob);
    }
    return found;
}

} // namespace

bool hasUnreadMarks(const GrayImage &line, const std::vector<SymbolBox> &symbols)
{
    std::vector<int> tops;
    std::vector<int> bottoms;
    for (const SymbolBox &symbol : symbols) {
        if (symbol.text.size() == 1 && isBodyOnlyLetter(symbol.text.front())) {
            tops.push_back(symbol.top);
            bottoms.push_back(symbol.bottom);
        }
    }
    if (tops.empty() || line.isEmpty())
        return false;
    const int xTop = median(tops);
    const int baseline = median(bottoms);
    const int xHeight = std::max(2, baseline - xTop);
    const int clearance = std::max(1, xHeight / 10);

    for (const Blob &blob : blobs(line)) {
        const int height = blob.y1 - blob.y0 + 1;
        const int width = blob.x1 - blob.x0 + 1;
        if (5 * height > 3 * xHeight || 5 * width > 6 * xHeight)
            continue; // not a small mark
        const bool above = blob.y1 < xTop - clearance;
        const bool below = blob.y0 > baseline + clearance; // a cedilla or an ogonek
        if (!above && !below)
            continue;
        // Every symbol the mark overlaps must be a letter without a mark of
        // its own: the dot of a narrow "i" often reaches over its neighbour.
        bool overLetters = false;
        bool explained = false;
        for (const SymbolBox &symbol : symbols) {
            if (blob.x1 < symbol.left || blob.x0 >= symbol.right || symbol.text.isEmpty())
                continue;
            const QChar letter = symbol.text.front();
            const bool unmarked = above ? isUnmarkedLetter(letter, width >= 2 * height) : sitsOnBaseline(letter);
            (unmarked ? overLetters : explained) = true;
        }
        if (overLetters && !explained)
            return true;
    }
    return false;
}

} // namespace nimbel
