#pragma once

#include "screen/CaptureMetadata.h"

#include <QImage>

namespace nimbel {

// One captured picture and what it shows. QImage is implicitly shared, so
// copies of an artifact share the pixels; nobody writes to them after capture.
struct CaptureArtifact
{
    QImage image;
    CaptureMetadata metadata;
};

} // namespace nimbel
