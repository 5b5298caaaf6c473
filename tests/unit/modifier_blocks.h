// Packed DIB blocks for the modifier kernel tests: a 40-byte header, a
// colour table, rows of random pixels with marked padding, marked slack.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "base/portable/dib_format.h"
#include "base/portable/simd_level.h"

namespace qb::test_blocks {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kPaddingMark = 0xA5;
inline constexpr std::uint8_t kSlackMark = 0x5A;

// width x |height| pixels at `bits` (height < 0: top-down). `clrUsed` goes
// into the header; the table holds that many entries, or the full table
// for 1/4/8 bits when it is 0. Table entries and pixel bits are random
// (from `seed`), the bytes after each row's last pixel kPaddingMark, and
// `slack` bytes of kSlackMark follow the rows.
inline Bytes MakeBlock(std::int32_t width, std::int32_t height, std::uint16_t bits,
                       std::uint32_t seed, std::uint32_t clrUsed = 0, std::uint32_t slack = 0) {
  const std::uint32_t entries = clrUsed != 0 ? clrUsed : (bits <= 8 ? 1u << bits : 0u);
  const std::uint32_t stride = *dib::RowStride(bits, width);
  const std::uint32_t rows = static_cast<std::uint32_t>(height < 0 ? -height : height);
  const std::size_t pixelBytes = (static_cast<std::size_t>(width) * bits + 7) / 8;
  Bytes b(dib::kInfoHeaderSize + 4 * entries + static_cast<std::size_t>(stride) * rows + slack, kSlackMark);
  dib::InfoHeaderFields fields;
  fields.width = width;
  fields.height = height;
  fields.bitCount = bits;
  fields.sizeImage = stride * rows;
  fields.xPelsPerMeter = 2835;
  fields.yPelsPerMeter = 2834;
  dib::WriteInfoHeader(std::span<std::uint8_t, dib::kInfoHeaderSize>(b.data(), dib::kInfoHeaderSize), fields);
  dib::StoreU32(b.data() + 32, clrUsed);
  std::mt19937 random(seed);
  std::uint8_t* p = b.data() + dib::kInfoHeaderSize;
  for (std::uint32_t i = 0; i < 4 * entries; ++i) *p++ = static_cast<std::uint8_t>(random());
  for (std::uint32_t y = 0; y < rows; ++y, p += stride) {
    for (std::size_t i = 0; i < stride; ++i) p[i] = i < pixelBytes ? static_cast<std::uint8_t>(random()) : kPaddingMark;
    // Bits past the last pixel of a 1- or 4-bit row are padding too.
    if (bits < 8 && (width * bits) % 8 != 0) p[pixelBytes - 1] &= static_cast<std::uint8_t>(0xFF00 >> ((width * bits) % 8));
  }
  return b;
}

inline dib::DibLayout LayoutOf(const Bytes& block) {
  dib::DibLayout layout;
  dib::Validate(block, dib::kAllDepths, layout);
  return layout;
}

// Runs body(name) once for every vector level this machine has, then
// gives the kernels their best level back.
template <class Body>
void ForEachSimdLevel(Body body) {
  for (simd::Level level : {simd::Level::kSse2, simd::Level::kAvx2}) {
    if (level > simd::Available()) continue;
    simd::Limit(level);
    body(level == simd::Level::kSse2 ? "sse2" : "avx2");
  }
  simd::Limit(simd::Level::kAvx2);
}

}  // namespace qb::test_blocks
