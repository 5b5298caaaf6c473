// Sharpen: a 3x3 integer convolution of 24-bit pixels, blended with the
// original by a level.
//
// Every interior pixel (not on the first or last row or column) becomes,
// channel by channel, s = sum of weight x neighbour (divided by the
// kernel's divisor when that is not 1), a negative sum taken as 0, then
// c + (s - c) x level / 10 with c the original value (integer arithmetic,
// truncated toward zero; level 10 takes s as it is), clamped to 0..255.
// A negative sum is the dark side of an edge or a dark point: it stays
// dark (its absolute value would turn it white). The border rows and
// columns, which have no full neighbourhood, and the row padding keep the
// source's bytes; so does a picture narrower or lower than 3 pixels. A
// level of 0 or less leaves the picture as it is.
//
// Sizes and strides are 32-bit, and the blend cannot overflow for any
// level. The source is read only; the result is written to separate rows.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "base/portable/dib_format.h"

namespace qb::sharpen {

// Nine weights in tap order (the row before: left, centre, right; the
// current row; the row after), then the divisor (0 counts as 1).
struct SharpenKernel {
  std::array<std::int32_t, 9> weights;
  std::int32_t divisor;
  friend bool operator==(const SharpenKernel&, const SharpenKernel&) = default;
};

inline constexpr SharpenKernel kSharpenKernel{{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1};

struct ChannelSums {
  std::int64_t b = 0, g = 0, r = 0;
};

// The channel sums at row `row`, column `col` (1 <= row < height - 1,
// 1 <= col < width - 1), a negative one as 0, taking the rows in the view's
// order: weights 0..2 apply to Row(row - 1).
ChannelSums Convolve3x3(dib::ConstImageView pixels, std::int32_t row, std::int32_t col,
                        const SharpenKernel& kernel = kSharpenKernel);

// source and result are pictures of the same width and height; all
// `stride` bytes of every result row are written (what is not sharpened is
// copied from the source, padding included). They must not overlap.
//
// SharpenReference applies the rules above pixel by pixel.
// Sharpen gives the same bytes, with vector code for kSharpenKernel.
void SharpenReference(dib::ConstImageView source, dib::ImageView result, std::int32_t level,
                      const SharpenKernel& kernel = kSharpenKernel);
void Sharpen(dib::ConstImageView source, dib::ImageView result, std::int32_t level,
             const SharpenKernel& kernel = kSharpenKernel);

// Sharpens a 24-bit block. `result` is a byte copy of `source` (the
// working copy); its pixel rows are rewritten from `source`'s, rows in
// memory order as the kernel's tap order says; its header, table and slack
// stay. A level of 0 or less writes nothing. Returns Validate's failure for
// a source it refuses (kDepthNotHandled for other depths: convert them
// first), and kRowsPastBlock when `result` does not hold the same picture;
// `result` is then untouched.
dib::DibStatus SharpenDib(std::span<const std::uint8_t> source, std::span<std::uint8_t> result,
                          std::int32_t level);

}  // namespace qb::sharpen
