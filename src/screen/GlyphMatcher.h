#pragma once

#include "screen/GrayImage.h"

#include <QString>

#include <optional>
#include <vector>

namespace nimbel {

// A glyph cut out of a normalised line: its ink box within the line and
// the ink itself.
struct Glyph
{
    int left = 0;
    int right = 0; // inclusive
    int top = 0;
    int bottom = 0;
    int gapBefore = 0; // blank columns between it and the ink before it (-1: none before)
    std::vector<float> coverage; // ink share of each cell of a fixed grid (see GlyphMatcher)

    int height() const { return bottom - top + 1; }
    int width() const { return right - left + 1; }
};

// The last glyph of a normalised line (dark on white), if the line has ink.
std::optional<Glyph> trailingGlyph(const GrayImage &line);

// Tells a handful of signs apart by shape, against glyphs drawn in the
// desktop's own sans-serif fonts. The recognition models have no letter for
// some signs screens show (the rouble sign "₽" reads as "P", "2" or "&");
// this settles them.
class GlyphMatcher
{
public:
    // Draws the templates; needs a QGuiApplication (without one, nothing matches).
    explicit GlyphMatcher(const QString &signs);

    bool isAvailable() const { return !m_templates.empty(); }

    // The sign that `glyph` looks most like, and how much (0…1).
    struct Match
    {
        QString sign;
        double similarity = 0;
    };
    std::optional<Match> bestMatch(const Glyph &glyph) const;

    static constexpr int gridWidth = 16;
    static constexpr int gridHeight = 24;

private:
    struct Template
    {
        QString sign;
        double aspect; // width / height of the ink
        std::vector<float> coverage;
    };
    std::vector<Template> m_templates;
};

} // namespace nimbel
