#include "modifiers/portable/red_eye.h"

#include <cstddef>

#include "base/portable/work_pool.h"

namespace qb::redeye {

std::int64_t RemoveRedEye(dib::ImageView pixels, const PixelRect& rect) {
  const PixelRange r = ClipToPicture(rect, pixels.width(), pixels.height());
  if (r.empty()) return 0;
  work::ForEachRowBand(r.x1 - r.x0, r.y1 - r.y0, [&](std::int32_t first, std::int32_t count) {
    for (std::int32_t y = r.y0 + first; y < r.y0 + first + count; ++y) {
      std::uint8_t* p = pixels.Row(y) + 3 * static_cast<std::size_t>(r.x0);
      for (std::int32_t x = r.x0; x < r.x1; ++x, p += 3) p[2] = p[1];
    }
  });
  return std::int64_t{r.x1 - r.x0} * (r.y1 - r.y0);
}

dib::DibStatus RemoveRedEyeDib(std::span<std::uint8_t> block, const PixelRect& rect) {
  dib::DibLayout layout;
  const dib::DibStatus status = dib::Validate(block, dib::kDepth24, layout);
  if (status == dib::DibStatus::kOk) RemoveRedEye(dib::PixelsOf(block.data(), layout), rect);
  return status;
}

}  // namespace qb::redeye
