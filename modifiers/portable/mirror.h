// Mirror: a picture flipped left to right (every row reversed) or top to
// bottom (the order of the stored rows reversed), built in a new block.
//
// Left to right moves whole pixels at every depth: the bit of a 1-bit
// pixel, the nibble of a 4-bit pixel, 1, 2, 3 or 4 bytes at 8, 16, 24 and
// 32 bits. Pixel j of a row goes to pixel width - 1 - j; the bits and bytes
// after the last pixel of a row are 0 in the result. Top to bottom copies
// each stored row whole (padding included) to the mirrored row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/portable/dib_format.h"

namespace qb::mirror {

inline constexpr std::int32_t kLeftRight = 1;
inline constexpr std::int32_t kTopBottom = 2;

// How the rows are written: through the caches, or past them, as a large
// memcpy does, for a picture too large to stay in them (the stores then
// need not read the destination first). Stores past the caches are fenced
// before the call returns. Top to bottom streams by itself from
// kStreamingBytes on.
enum class Stores { kCached, kStreamed };
inline constexpr std::size_t kStreamingBytes = std::size_t{8} << 20;

// Writes every byte of every `result` row. source and result have the same
// width, height and stride and do not overlap; bitCount is 1, 4, 8, 16,
// 24 or 32 (any other leaves the result rows 0).
void MirrorLeftRight(dib::ConstImageView source, dib::ImageView result, std::uint16_t bitCount,
                     Stores stores = Stores::kCached);
void MirrorTopBottom(dib::ConstImageView source, dib::ImageView result, Stores stores = Stores::kCached);

// memcpy's bytes, written past the caches.
void CopyPastCaches(const std::uint8_t* source, std::uint8_t* target, std::size_t bytes);

// `result` has the size of `source`. Direction 1 or 2: the source must be
// a sound block of any depth; result gets zeros, then the header, bit
// masks and colour table as the source holds them, then the flipped rows
// (slack stays 0). Returns Validate's failure for a refused source, or
// kRowsPastBlock when the sizes differ, writing nothing. Any other
// direction: result is a byte copy of source, whatever it holds.
dib::DibStatus MirrorDib(std::span<const std::uint8_t> source, std::span<std::uint8_t> result,
                         std::int32_t direction);

}  // namespace qb::mirror
