// The colour key of the popup: the pixels of the rendered page that keep
// the key colour become holes in the window.
#pragma once

#include <QImage>
#include <QRegion>

namespace tosk {

// The part of image whose pixels differ from key (alpha ignored), as a region
// of rows of runs. Empty when every pixel has the key colour.
QRegion OpaqueRegion(const QImage& image, QRgb key);

}  // namespace tosk
