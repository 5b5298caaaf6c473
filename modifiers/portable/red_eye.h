// Red-eye removal: inside a rectangle the red channel of every 24-bit pixel
// takes the value of its green channel; blue and green stay, and nothing
// outside the rectangle changes, row padding included. The rectangle is
// counted from the top-left corner of the picture as seen and clipped to
// the picture.
#pragma once

#include <cstdint>
#include <span>

#include "base/portable/dib_format.h"
#include "modifiers/portable/pixel_rect.h"

namespace qb::redeye {

// In place over the pixels of `rect` that lie in the picture. Returns how
// many pixels it treated.
std::int64_t RemoveRedEye(dib::ImageView pixels, const PixelRect& rect);

// The same on a whole 24-bit block, rows in its own order (top-down blocks
// included). Returns Validate's failure for any other block, which is left
// untouched (kDepthNotHandled for other depths: convert them first).
dib::DibStatus RemoveRedEyeDib(std::span<std::uint8_t> block, const PixelRect& rect);

}  // namespace qb::redeye
