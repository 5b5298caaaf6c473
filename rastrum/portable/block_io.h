// Making new blocks and reading source blocks as 24-bit rows: the two ends
// every operation of the imaging library shares.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/portable/dib_format.h"
#include "rastrum/portable/raster.h"

namespace rastrum {

// A block just allocated: its start and its rows (Row(0) is the top row).
struct NewBlock {
  uint8_t* block = nullptr;
  qb::dib::ImageView pixels;
};

// Allocates a bottom-up 24-bit block with a 40-byte header (sizeImage =
// stride x height) and writes the header. kTooLarge when it would not fit a
// 32-bit process, kBadArgument for a width or height below 1, kOutOfMemory.
int MakeBlock24(BlockAllocator& out, int32_t width, int32_t height, int32_t xPelsPerMeter,
                int32_t yPelsPerMeter, NewBlock& result);

// The same for a 32-bit BI_RGB block whose fourth byte is straight alpha
// (blue, green, red, alpha).
int MakeBlock32(BlockAllocator& out, int32_t width, int32_t height, int32_t xPelsPerMeter,
                int32_t yPelsPerMeter, NewBlock& result);

// The same for a 1-, 4- or 8-bit palette block; `table` holds the colour
// table as blue, green, red, reserved entries (its length / 4 entries, at
// most 1 << bitCount), written after the header with biClrUsed set.
int MakePaletteBlock(BlockAllocator& out, int32_t width, int32_t height, uint16_t bitCount,
                     std::span<const uint8_t> table, int32_t xPelsPerMeter, int32_t yPelsPerMeter,
                     NewBlock& result);

// The size guard of a decoder: kOk when its peak, `working` bytes of its
// own held at once with `resident` bytes of them still held while the new
// block (24 bits, or bitCount bits after a tableBytes colour table) is
// made, fits what a 32-bit process can hold; kTooLarge otherwise, before
// anything is allocated.
int CheckDecodePeak(int32_t width, int32_t height, uint64_t working, uint64_t resident,
                    uint16_t bitCount = 24, uint32_t tableBytes = 0);

// A source block read as 24-bit rows: the block's own rows when it already
// is 24-bit BI_RGB without a table, otherwise a converted copy (of the
// decoded rows, for an RLE8 or RLE4 block).
class Source24 {
 public:
  // kOk; kBadArgument for an empty span; kCorruptData for a block that the
  // validator refuses; kOutOfMemory.
  int Open(std::span<const uint8_t> block);

  const qb::dib::ConstImageView& pixels() const { return m_pixels; }
  int32_t width() const { return m_pixels.width(); }
  int32_t height() const { return m_pixels.height(); }
  int32_t xPelsPerMeter() const { return m_xPelsPerMeter; }
  int32_t yPelsPerMeter() const { return m_yPelsPerMeter; }

 private:
  std::vector<uint8_t> m_converted;
  qb::dib::ConstImageView m_pixels;
  int32_t m_xPelsPerMeter = 0;
  int32_t m_yPelsPerMeter = 0;
};

}  // namespace rastrum
