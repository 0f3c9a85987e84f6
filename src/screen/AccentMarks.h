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

// True when `line` (dark on white) shows a mark above or below a letter that
// was read without one: an accent, an umlaut, a tilde or a cedilla ("ü", "é",
// "ñ", "ç") that a recogniser without those letters dropped ("u", "e", "n",
// "c"). The dots of "i" and "j", quotes and other signs are explained by what
// was read there.
bool hasUnreadMarks(const GrayImage &line, const std::vector<SymbolBox> &symbols);

} // namespace nimbel
