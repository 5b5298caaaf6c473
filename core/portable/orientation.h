// Turning a picture upright as its EXIF orientation says, pixel for pixel.
//
// An orientation tells how a viewer turns the stored pixels to show them:
// 1 as stored, 2 mirrored left to right, 3 a half turn, 4 mirrored top to
// bottom, 5 mirrored along the main diagonal (transposed), 6 a quarter turn
// clockwise, 7 mirrored along the other diagonal, 8 a quarter turn
// anticlockwise. For 5 to 8 the upright picture is as wide as the stored
// one is high.
#pragma once

#include <cstdint>

#include "base/portable/dib_format.h"

namespace qb::orient {

// The value as an orientation: 1..8 as it is, anything else 1.
int Normalised(std::int64_t value);

// True when the upright picture's width is the stored picture's height.
inline bool SwapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

// Writes every pixel of `upright` from `stored` for the orientation (1..8;
// any other copies as 1). Pixels are `bytesPerPixel` bytes (1 to 4) and
// move whole; the bytes after a row's last pixel are left as they are.
// `upright` is stored.width x stored.height, or stored.height x
// stored.width when SwapsAxes; the two do not overlap. Rows count from
// the top of each picture, whichever way each stores them.
void OrientPixels(dib::ConstImageView stored, dib::ImageView upright, unsigned bytesPerPixel,
                  int orientation);

}  // namespace qb::orient
