// A rectangle of pixels as the modifiers' properties give it, and its part
// inside a picture.
#pragma once

#include <algorithm>
#include <cstdint>

namespace qb {

// left and top count pixels from the left edge and from the top edge of
// the picture as seen; any value, width and height 0 or less included.
struct PixelRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Columns x0 <= x < x1 and rows y0 <= y < y1 (from the top) of a picture.
struct PixelRange {
  std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

// The pixels of `rect` that lie in a width x height picture: right and
// bottom are left + width and top + height, worked out without overflow.
// Empty when the rectangle misses the picture or has no area.
inline PixelRange ClipToPicture(const PixelRect& rect, std::int32_t width, std::int32_t height) {
  const std::int64_t right = std::int64_t{rect.left} + rect.width;
  const std::int64_t bottom = std::int64_t{rect.top} + rect.height;
  PixelRange r;
  r.x0 = std::max<std::int32_t>(rect.left, 0);
  r.y0 = std::max<std::int32_t>(rect.top, 0);
  r.x1 = static_cast<std::int32_t>(std::clamp<std::int64_t>(right, 0, width));
  r.y1 = static_cast<std::int32_t>(std::clamp<std::int64_t>(bottom, 0, height));
  if (r.empty()) r = PixelRange{};
  return r;
}

}  // namespace qb
