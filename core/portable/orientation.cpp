#include "core/portable/orientation.h"

#include <cstring>

#include "base/portable/work_pool.h"

namespace qb::orient {

int Normalised(std::int64_t value) { return value >= 1 && value <= 8 ? static_cast<int>(value) : 1; }

void OrientPixels(dib::ConstImageView stored, dib::ImageView upright, unsigned bytesPerPixel,
                  int orientation) {
  const std::int32_t w = stored.width();
  const std::int32_t h = stored.height();
  const std::size_t n = bytesPerPixel;
  // Upright pixel (x, y) comes from stored pixel (sx, sy); for each
  // orientation the stored position is a start plus a step per x and per
  // y, so the inner loop only adds.
  struct Walk {
    std::int32_t x0, y0, xByX, yByX, xByY, yByY;
  };
  Walk walk{0, 0, 1, 0, 0, 1};
  switch (orientation) {
    case 2: walk = {w - 1, 0, -1, 0, 0, 1}; break;
    case 3: walk = {w - 1, h - 1, -1, 0, 0, -1}; break;
    case 4: walk = {0, h - 1, 1, 0, 0, -1}; break;
    case 5: walk = {0, 0, 0, 1, 1, 0}; break;
    case 6: walk = {0, h - 1, 0, -1, 1, 0}; break;
    case 7: walk = {w - 1, h - 1, 0, -1, -1, 0}; break;
    case 8: walk = {w - 1, 0, 0, 1, -1, 0}; break;
    default: break;
  }
  // Rows of the upright picture in bands on the pool.
  work::ForEachRowBand(upright.width(), upright.height(), [&](std::int32_t first, std::int32_t count) {
    for (std::int32_t y = first; y < first + count; ++y) {
      std::uint8_t* out = upright.Row(y);
      std::int32_t sx = walk.x0 + walk.xByY * y;
      std::int32_t sy = walk.y0 + walk.yByY * y;
      if (walk.yByX == 0) {
        // A stored row read forwards or backwards.
        const std::uint8_t* in = stored.Row(sy);
        if (walk.xByX == 1) {
          std::memcpy(out, in, n * static_cast<std::size_t>(upright.width()));
          continue;
        }
        for (std::int32_t x = 0; x < upright.width(); ++x, sx += walk.xByX)
          std::memcpy(out + n * static_cast<std::size_t>(x), in + n * static_cast<std::size_t>(sx), n);
        continue;
      }
      // A stored column read up or down.
      for (std::int32_t x = 0; x < upright.width(); ++x, sy += walk.yByX)
        std::memcpy(out + n * static_cast<std::size_t>(x), stored.Row(sy) + n * static_cast<std::size_t>(sx), n);
    }
  });
}

}  // namespace qb::orient
