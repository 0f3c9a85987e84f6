#pragma once

#include "core/NormalizedRect.h"

#include <QImage>

#include <vector>

namespace nimbel {

// `image` with the places of withheld lines painted over, so that what the
// recognised text leaves out does not leave in the pixels either. Each place
// grows by a share of its height: a line's box is its ink, and anti-aliased
// edges, accents and descenders reach past it.
QImage coverWithheldLines(QImage image, const std::vector<NormalizedRect> &lines);

} // namespace nimbel
