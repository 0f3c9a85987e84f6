#pragma once

#include "screen/GrayImage.h"

#include <QString>

#include <vector>

namespace nimbel {

// A recognised symbol and where it sits in the line image (right and bottom exclusive).
struct SymbolBox
{
    QString text;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// True when `line` (dark on white) shows a mark above the body of a letter
// that was read without one: an accent, an umlaut or a ring ("ü", "é", "Å")
// that a recogniser without those letters dropped ("u", "e", "A"). The dots of
// "i" and "j", quotes and other signs above the line are explained by what
// was read under them.
bool hasUnreadMarks(const GrayImage &line, const std::vector<SymbolBox> &symbols);

} // namespace nimbel
