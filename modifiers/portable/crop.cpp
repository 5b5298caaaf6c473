#include "modifiers/portable/crop.h"

#include <cstddef>
#include <cstring>

#include "base/portable/work_pool.h"

namespace qb::crop {

std::optional<CropGeometry> CropSize(std::int32_t width, std::int32_t height) {
  if (width < 1 || height < 1) return std::nullopt;
  const auto block = dib::PackedDibSize(width, height, 24, dib::kInfoHeaderSize);
  if (!block) return std::nullopt;
  CropGeometry g;
  g.width = width;
  g.height = height;
  g.stride = *dib::RowStride(24, width);
  g.imageBytes = g.stride * static_cast<std::uint32_t>(height);
  g.blockBytes = *block;
  return g;
}

void WriteCropHeader(std::span<const std::uint8_t> source, const CropGeometry& geometry,
                     std::span<std::uint8_t, dib::kInfoHeaderSize> out) {
  std::uint8_t* h = out.data();
  if (source.size() >= dib::kInfoHeaderSize && dib::LoadU32(source.data()) >= dib::kInfoHeaderSize) {
    std::memcpy(h, source.data(), dib::kInfoHeaderSize);
    dib::StoreU32(h + 0, dib::kInfoHeaderSize);
    dib::StoreI32(h + 4, geometry.width);
    dib::StoreI32(h + 8, geometry.height);
    dib::StoreU16(h + 12, 1);
    dib::StoreU16(h + 14, 24);
    dib::StoreU32(h + 16, dib::kBiRgb);
    dib::StoreU32(h + 20, geometry.imageBytes);
    dib::StoreU32(h + 32, 0);
    dib::StoreU32(h + 36, 0);
    return;
  }
  dib::InfoHeaderFields fields;
  fields.width = geometry.width;
  fields.height = geometry.height;
  fields.bitCount = 24;
  fields.sizeImage = geometry.imageBytes;
  dib::WriteInfoHeader(out, fields);
}

void CopyClipped(dib::ConstImageView source, dib::ImageView result, std::int32_t left, std::int32_t top,
                 std::size_t pixelBytes) {
  const PixelRange r = ClipToPicture({left, top, result.width(), result.height()}, source.width(), source.height());
  work::ForEachRowBand(result.width(), result.height(), [&](std::int32_t first, std::int32_t count) {
    for (std::int32_t y = first; y < first + count; ++y) {
      std::uint8_t* out = result.Row(y);
      std::memset(out, 0, result.stride());
      const std::int64_t sourceRow = std::int64_t{top} + y;
      if (r.empty() || sourceRow < r.y0 || sourceRow >= r.y1) continue;
      // Source columns x0 .. x1 - 1 land at x0 - left .. x1 - 1 - left.
      const std::size_t at = pixelBytes * static_cast<std::size_t>(std::int64_t{r.x0} - left);
      std::memcpy(out + at,
                  source.Row(static_cast<std::int32_t>(sourceRow)) + pixelBytes * static_cast<std::size_t>(r.x0),
                  pixelBytes * static_cast<std::size_t>(r.x1 - r.x0));
    }
  });
}

dib::DibStatus CropDib(std::span<const std::uint8_t> source, const PixelRect& rect, std::span<std::uint8_t> out) {
  dib::DibLayout layout;
  const dib::DibStatus status = dib::Validate(source, dib::kDepth24, layout);
  if (status != dib::DibStatus::kOk) return status;
  const auto geometry = CropSize(rect.width, rect.height);
  if (!geometry) return rect.width < 1 ? dib::DibStatus::kBadWidth : dib::DibStatus::kBadHeight;
  if (out.size() < geometry->blockBytes) return dib::DibStatus::kRowsPastBlock;
  WriteCropHeader(source, *geometry, out.first<dib::kInfoHeaderSize>());
  const dib::ImageView result(out.data() + dib::kInfoHeaderSize, geometry->width, geometry->height, geometry->stride,
                              true);
  CopyClipped(dib::PixelsOf(source.data(), layout), result, rect.left, rect.top);
  return dib::DibStatus::kOk;
}

}  // namespace qb::crop
