// ToGray: a block turned grey in place, whatever its depth.
//
// Grey is ITU-R BT.601 luma, Y = (299 R + 587 G + 114 B + 500) / 1000, the
// weights television and JPEG use, rounded to the nearest level. 24- and
// 32-bit pixels get Y in all three channels (a 32-bit pixel keeps its alpha
// or unused bits); 16-bit pixels are read as 8-bit channels, turned grey and
// written back at each channel's own width; palette blocks keep their
// indices and have their colour table turned grey instead.

#include <bit>
#include <cstdint>
#include <span>

#include "base/portable/dib_format.h"
#include "base/portable/work_pool.h"
#include "rastrum/portable/raster.h"

namespace rastrum {

namespace dib = qb::dib;

namespace {

uint8_t Luma(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

using Channel = dib::MaskedChannel;

void GreyTable(uint8_t* block, const dib::DibLayout& layout) {
  uint8_t* entry = block + layout.colorTableOffset;
  for (uint32_t i = 0; i < layout.colorTableEntries; ++i, entry += layout.colorEntrySize) {
    const uint8_t y = Luma(entry[2], entry[1], entry[0]);
    entry[0] = entry[1] = entry[2] = y;
  }
}

// Pixels stored B, G, R and, at 4 bytes a pixel, a byte left as it is.
template <int Bytes>
void GreyRowBgr(uint8_t* row, int32_t width) {
  for (int32_t x = 0; x < width; ++x, row += Bytes) {
    const uint8_t y = Luma(row[2], row[1], row[0]);
    row[0] = row[1] = row[2] = y;
  }
}

template <int Bytes>
void GreyRowMasked(uint8_t* row, int32_t width, const Channel& red, const Channel& green,
                   const Channel& blue) {
  for (int32_t x = 0; x < width; ++x, row += Bytes) {
    uint32_t px = Bytes == 2 ? dib::LoadU16(row) : dib::LoadU32(row);
    const uint8_t y = Luma(red.Read(px), green.Read(px), blue.Read(px));
    px = blue.Write(green.Write(red.Write(px, y), y), y);
    if constexpr (Bytes == 2) {
      dib::StoreU16(row, static_cast<uint16_t>(px));
    } else {
      dib::StoreU32(row, px);
    }
  }
}

}  // namespace

int ToGray(std::span<uint8_t> block) {
  if (block.empty()) return kBadArgument;
  dib::DibLayout layout;
  if (dib::Validate(block, dib::kAllDepths, layout) != dib::DibStatus::kOk) return kCorruptData;

  // Palette blocks are grey once their table is; at other depths a table is
  // only a display hint, kept in step with the pixels.
  GreyTable(block.data(), layout);
  if (layout.bitCount <= 8) return kOk;

  const dib::ImageView pixels = dib::PixelsOf(block.data(), layout);
  const Channel red(layout.redMask), green(layout.greenMask), blue(layout.blueMask);
  constexpr dib::ChannelMasks kPlain32 = dib::DefaultMasks(32);
  const bool plain32 = layout.bitCount == 32 && layout.redMask == kPlain32.red &&
                       layout.greenMask == kPlain32.green && layout.blueMask == kPlain32.blue;
  qb::work::ForEachRowBand(pixels.width(), pixels.height(), [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      uint8_t* row = pixels.Row(y);
      switch (layout.bitCount) {
        case 16:
          GreyRowMasked<2>(row, layout.width, red, green, blue);
          break;
        case 24:
          GreyRowBgr<3>(row, layout.width);
          break;
        case 32:
          if (plain32) {
            GreyRowBgr<4>(row, layout.width);
          } else {
            GreyRowMasked<4>(row, layout.width, red, green, blue);
          }
          break;
      }
    }
  });
  return kOk;
}

}  // namespace rastrum
