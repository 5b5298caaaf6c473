// Pictures with transparency (dib::CarriesAlpha): reading their 32-bit
// rows, and running the library's 24-bit operations on them.
//
// An operation that moves or mixes pixels (resize, rotate, blur) runs on two
// 24-bit planes of the picture and the planes are joined again: the colour
// plane, and the cover plane holding 255 - alpha in every channel. Cover
// rather than alpha because the operations fill what they add (a rotated
// picture's corners) with white: white cover is transparent. Where the
// operation mixes pixels the colours are premultiplied by alpha first, so a
// transparent pixel's colour, which nobody sees, does not bleed into its
// neighbours, and held as 255 - level, so that the white fill is the
// premultiplied colour of a transparent pixel (0) too; the operations mix
// with weights that sum to one, so the inversion passes through them. Where
// the operation only moves pixels the colours stay as they are and the
// result is exact.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "base/portable/dib_format.h"
#include "rastrum/portable/raster.h"

namespace rastrum {

// The rows of a block that carries alpha, with its resolution.
struct AlphaRows {
  qb::dib::ConstImageView pixels;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
};

// The rows of a sound block that carries alpha; nullopt for every other
// block, sound or not.
std::optional<AlphaRows> OpenAlpha(std::span<const uint8_t> block);

// How the colour plane is made.
enum class ColourPlane {
  kStraight,       // operations that only move pixels: exact
  kPremultiplied,  // operations that mix them
};

// A 24-bit operation on one block.
using BlockOperation = std::function<int(std::span<const uint8_t> block, BlockAllocator& out)>;

// Runs `operation` on both planes of `source` (a picture with alpha) and
// writes the joined 32-bit block into `out`. The operation must make
// planes of one size from planes of one size; kCorruptData otherwise.
int ThroughAlphaPlanes(const AlphaRows& source, ColourPlane colour, const BlockOperation& operation,
                       BlockAllocator& out);

}  // namespace rastrum
