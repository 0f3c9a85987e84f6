#pragma once

#include "screen/GrayImage.h"

#include <QRect>

#include <vector>

namespace nimbel {

// Finds the text lines of a screenshot without a page layout pass: strong
// luminance edges are grouped into glyph clusters, clusters into lines. Screen
// text sits on flat backgrounds, so this finds dark-on-light and light-on-dark
// text alike (button labels, selected rows, table cells), and the outlines of
// buttons, fields and table rules drop out by shape.
class TextLineDetector
{
public:
    struct Options
    {
        int edgeThreshold = 40;       // luminance step that counts as an edge
        int letterGap = 2;            // pixels bridged inside a row of edges
        double wordGapFactor = 0.9;   // largest gap inside a line, in line heights
        int minimumLineHeight = 6;    // pixels; lines below it are not text we read
    };

    TextLineDetector() = default;
    explicit TextLineDetector(Options options)
        : m_options(options)
    {
    }

    // Line boxes (pixels of `image`), top to bottom.
    std::vector<QRect> detect(const GrayImage &image) const;

private:
    Options m_options;
};

// A line cut out of the screenshot and normalised for the recogniser: dark text
// on a white background whatever the original colours, contrast stretched,
// scaled by `scale` (and its width further by `widthShare`), with a white
// margin around it.
GrayImage normalizedLine(const GrayImage &image, const QRect &box, int scale, double widthShare = 1.0);

// The part of `image` that normalizedLine reads for `box`: the box and its margin.
QRect lineArea(const GrayImage &image, const QRect &box);

} // namespace nimbel
