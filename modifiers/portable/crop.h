// Crop: the arithmetic of a cut-out and a portable copy of it.
//
// The result block is a 40-byte header followed directly by the rows of a
// 24-bit, bottom-up picture of the rectangle's size (no colour table), each
// row padded to a multiple of 4 bytes: a cut-out 5 pixels wide has rows of
// 16 bytes and biSizeImage 16 x height. The header is the source's first
// 40 bytes with width, height and biSizeImage replaced (and, where the
// source's header says something the result is not, header size 40 and no
// colour table).
//
// Pixels of the rectangle that lie outside the source are 0 in the result,
// as is the row padding; only pixels that exist are copied.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/portable/dib_format.h"
#include "modifiers/portable/pixel_rect.h"

namespace qb::crop {

struct CropGeometry {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t stride = 0;      // width x 3 rounded up to a multiple of 4
  std::uint32_t imageBytes = 0;  // stride x height: biSizeImage
  std::uint32_t blockBytes = 0;  // 40 + imageBytes
};

// nullopt when width or height is below 1 or the block would not fit a
// 32-bit process.
std::optional<CropGeometry> CropSize(std::int32_t width, std::int32_t height);

// The result header. `source` is the source block (its first 40 bytes are
// used when it has an info header; a core header gives resolution 0).
void WriteCropHeader(std::span<const std::uint8_t> source, const CropGeometry& geometry,
                     std::span<std::uint8_t, dib::kInfoHeaderSize> out);

// Writes every byte of every `result` row: the source pixels under the
// rectangle whose top-left corner is (left, top) and whose size is
// result's, 0 for pixels outside the source and for the padding. Pixels
// are 3 bytes, or 4 for a picture with alpha (whose pixels outside the
// source are then transparent).
void CopyClipped(dib::ConstImageView source, dib::ImageView result, std::int32_t left, std::int32_t top,
                 std::size_t pixelBytes = 3);

// The whole result block of cutting `rect` out of a 24-bit block, written
// to the front of `out`. Returns Validate's failure for a source it
// refuses (kDepthNotHandled for other depths: convert them first),
// kBadWidth or kBadHeight when the rectangle has no CropSize, and
// kRowsPastBlock when `out` is smaller than its blockBytes. Nothing is
// written unless the result is kOk.
dib::DibStatus CropDib(std::span<const std::uint8_t> source, const PixelRect& rect, std::span<std::uint8_t> out);

}  // namespace qb::crop
