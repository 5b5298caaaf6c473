// BMP files: a 14-byte file header in front of a DIB whose header, masks,
// colour table and rows may be spread out by the file header's pixel offset.
//
// File layout (little-endian):
//   0   "BM"
//   2   u32 file size (not trusted: writers get it wrong)
//   6   two reserved u16
//   10  u32 offset of the pixel data from the start of the file
//   14  the info header: 12 (core), 40, 52, 56 (the 40-byte form with its
//       masks inside), 108 (V4) or 124 (V5) bytes
//   ..  with BI_BITFIELDS after a 40-byte header: three u32 masks (four
//       with BI_ALPHABITFIELDS), then the colour table, then, at the pixel
//       offset, the rows or the RLE stream
//
// Decoded blocks are bottom-up with a 40-byte header: 1/4/8-bit files and
// RLE files keep their indices and their colour table; 16-, 24- and 32-bit
// files become 24 bits. Nothing is allocated before the file is known to
// hold what its header claims.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "base/portable/dib_format.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;

constexpr uint32_t kFileHeaderSize = 14;

// Values of biCompression.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitfields = 6;
constexpr uint32_t kBiCmyk = 11;
constexpr uint32_t kBiCmykRle4 = 13;

// n bytes at offset lie inside `size` bytes.
constexpr bool Fits(uint64_t offset, uint64_t n, uint64_t size) {
  return offset <= size && n <= size - offset;
}

bool IsKnownHeaderSize(uint32_t size) {
  switch (size) {
    case 12: case 40: case 52: case 56: case 108: case 124: return true;
    default: return false;
  }
}

// Everything the decoder needs from the headers, every offset checked
// against the file.
struct BmpInfo {
  int32_t width = 0;
  int32_t height = 0;  // absolute
  bool bottomUp = true;
  uint16_t bitCount = 0;
  uint32_t compression = kBiRgb;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t redMask = 0, greenMask = 0, blueMask = 0;
  uint32_t tableOffset = 0;
  uint32_t tableEntries = 0;  // palette depths only
  uint32_t entrySize = 4;     // 3 after a core header
  uint32_t pixelOffset = 0;
};

// Which compressions go with which depths. The embedded JPEG/PNG and CMYK
// forms are BMPs that we do not decode (printer formats); everything else
// outside this table is malformed.
int CheckForm(const BmpInfo& info, bool core) {
  const uint32_t c = info.compression;
  if (c == kBiJpeg || c == kBiPng || (c >= kBiCmyk && c <= kBiCmykRle4)) return kUnknownFormat;
  switch (info.bitCount) {
    case 1: return c == kBiRgb ? kOk : kCorruptData;
    case 4: return c == kBiRgb || c == kBiRle4 ? kOk : kCorruptData;
    case 8: return c == kBiRgb || c == kBiRle8 ? kOk : kCorruptData;
    case 24: return c == kBiRgb ? kOk : kCorruptData;
    case 16:
    case 32:
      if (core) return kCorruptData;
      return c == kBiRgb || c == kBiBitfields || c == kBiAlphaBitfields ? kOk : kCorruptData;
    default: return kCorruptData;
  }
}

int ReadInfo(std::span<const uint8_t> file, BmpInfo& info) {
  const uint8_t* p = file.data();
  const uint64_t size = file.size();
  if (size < 2 || p[0] != 'B' || p[1] != 'M') return kUnknownFormat;
  if (!Fits(0, kFileHeaderSize + 4, size)) return kCorruptData;
  const uint32_t offBits = dib::LoadU32(p + 10);
  const uint8_t* h = p + kFileHeaderSize;
  const uint32_t headerSize = dib::LoadU32(h);
  if (!IsKnownHeaderSize(headerSize) || !Fits(kFileHeaderSize, headerSize, size)) return kCorruptData;

  const bool core = headerSize == dib::kCoreHeaderSize;
  BmpInfo i;
  if (core) {
    // Unsigned 16-bit sizes, always bottom-up, 3-byte table entries.
    i.width = dib::LoadU16(h + 4);
    i.height = dib::LoadU16(h + 6);
    i.bitCount = dib::LoadU16(h + 10);
    i.entrySize = 3;
  } else {
    i.width = dib::LoadI32(h + 4);
    const int32_t height = dib::LoadI32(h + 8);
    if (height == INT32_MIN) return kCorruptData;
    i.bottomUp = height > 0;
    i.height = height < 0 ? -height : height;
    i.bitCount = dib::LoadU16(h + 14);
    i.compression = dib::LoadU32(h + 16);
    i.xPelsPerMeter = dib::LoadI32(h + 24);
    i.yPelsPerMeter = dib::LoadI32(h + 28);
  }
  if (i.width <= 0 || i.height <= 0) return kCorruptData;
  if (const int form = CheckForm(i, core); form != kOk) return form;

  uint64_t tableOffset = kFileHeaderSize + headerSize;
  if (i.compression == kBiBitfields || i.compression == kBiAlphaBitfields) {
    // The 40-byte header keeps its masks after it; the longer forms hold
    // them at the same place inside.
    if (headerSize == dib::kInfoHeaderSize) {
      tableOffset += i.compression == kBiAlphaBitfields ? 16 : 12;
      if (!Fits(0, tableOffset, size)) return kCorruptData;
    }
    i.redMask = dib::LoadU32(h + 40);
    i.greenMask = dib::LoadU32(h + 44);
    i.blueMask = dib::LoadU32(h + 48);
  } else {
    const dib::ChannelMasks masks = dib::DefaultMasks(i.bitCount);
    i.redMask = masks.red;
    i.greenMask = masks.green;
    i.blueMask = masks.blue;
  }

  // The pixels may not start inside the headers, nor past the end.
  if (offBits < tableOffset || offBits > size) return kCorruptData;

  if (i.bitCount <= 8) {
    const uint32_t full = 1u << i.bitCount;
    const uint32_t used = core ? 0 : dib::LoadU32(h + 32);
    uint64_t entries = (used != 0 && used <= full) ? used : full;
    // Writers that store a shorter table say so by where the pixels start.
    entries = std::min<uint64_t>(entries, (offBits - tableOffset) / i.entrySize);
    if (entries == 0) return kCorruptData;
    i.tableEntries = static_cast<uint32_t>(entries);
  }
  i.tableOffset = static_cast<uint32_t>(tableOffset);
  i.pixelOffset = offBits;
  info = i;
  return kOk;
}

using Channel = qb::dib::MaskedChannel;

std::vector<uint8_t> ReadTable(const uint8_t* file, const BmpInfo& info) {
  std::vector<uint8_t> table(static_cast<size_t>(info.tableEntries) * 4);
  const uint8_t* entry = file + info.tableOffset;
  for (uint32_t n = 0; n < info.tableEntries; ++n, entry += info.entrySize) {
    // Blue, green, red; the fourth byte of a DIB entry is reserved and
    // must be zero, whatever the file kept there.
    table[4 * n] = entry[0];
    table[4 * n + 1] = entry[1];
    table[4 * n + 2] = entry[2];
  }
  return table;
}

// The row of the picture that the file stores as its `stored`-th row.
int32_t PictureRow(const BmpInfo& info, uint64_t stored) {
  const auto r = static_cast<int32_t>(stored);
  return info.bottomUp ? info.height - 1 - r : r;
}

int DecodeRows(std::span<const uint8_t> file, const BmpInfo& info, BlockAllocator& out) {
  const uint64_t stride = (static_cast<uint64_t>(info.bitCount) * static_cast<uint64_t>(info.width) + 31) / 32 * 4;
  // The file must hold every row it claims before anything is allocated.
  if (static_cast<uint64_t>(info.height) > (file.size() - info.pixelOffset) / stride) return kCorruptData;
  const uint8_t* rows = file.data() + info.pixelOffset;

  NewBlock made;
  if (info.bitCount <= 8) {
    const std::vector<uint8_t> table = ReadTable(file.data(), info);
    const int rc = MakePaletteBlock(out, info.width, info.height, info.bitCount, table,
                                    info.xPelsPerMeter, info.yPelsPerMeter, made);
    if (rc != kOk) return rc;
    // Indices stay as they are; the block's own padding stays zero.
    const size_t used = (static_cast<size_t>(info.width) * info.bitCount + 7) / 8;
    for (uint64_t r = 0; r < static_cast<uint64_t>(info.height); ++r) {
      std::memcpy(made.pixels.Row(PictureRow(info, r)), rows + r * stride, used);
    }
    return kOk;
  }

  const int rc = MakeBlock24(out, info.width, info.height, info.xPelsPerMeter, info.yPelsPerMeter, made);
  if (rc != kOk) return rc;
  const Channel red(info.redMask), green(info.greenMask), blue(info.blueMask);
  for (uint64_t r = 0; r < static_cast<uint64_t>(info.height); ++r) {
    const uint8_t* src = rows + r * stride;
    uint8_t* dst = made.pixels.Row(PictureRow(info, r));
    if (info.bitCount == 24) {
      std::memcpy(dst, src, static_cast<size_t>(info.width) * 3);
      continue;
    }
    const unsigned bytes = info.bitCount / 8;
    for (int32_t x = 0; x < info.width; ++x, src += bytes, dst += 3) {
      const uint32_t px = bytes == 2 ? dib::LoadU16(src) : dib::LoadU32(src);
      dst[0] = blue(px);
      dst[1] = green(px);
      dst[2] = red(px);
    }
  }
  return kOk;
}

int DecodeRle(std::span<const uint8_t> file, const BmpInfo& info, BlockAllocator& out) {
  // The stream's walk (and its rules) are the packed-DIB format's own.
  const std::span<const uint8_t> data = file.subspan(info.pixelOffset);
  if (!dib::WalkRle(data, info.bitCount, info.width, info.height)) return kCorruptData;
  const uint32_t tableBytes = info.tableEntries * 4;
  if (CheckDecodePeak(info.width, info.height, 0, tableBytes, info.bitCount, tableBytes) != kOk)
    return kTooLarge;
  const uint64_t blockBytes = *dib::PackedDibSize(info.width, info.height, info.bitCount);
  if (blockBytes > dib::kRleFreeBlockBytes && blockBytes / dib::kRleBlockBytesPerByte > data.size()) return kCorruptData;
  const std::vector<uint8_t> table = ReadTable(file.data(), info);
  NewBlock made;
  const int rc = MakePaletteBlock(out, info.width, info.height, info.bitCount, table,
                                  info.xPelsPerMeter, info.yPelsPerMeter, made);
  if (rc != kOk) return rc;
  // Pixels the stream skips (deltas, short lines) are index 0.
  for (int32_t y = 0; y < info.height; ++y) std::memset(made.pixels.Row(y), 0, made.pixels.stride());
  // The stream's k-th line is the picture's k-th row from the bottom (from
  // the top in a top-down file); the new block is bottom-up.
  const dib::ImageView lines(made.pixels.Row(info.height - 1), info.width, info.height, made.pixels.stride(),
                             !info.bottomUp);
  return dib::WalkRle(data, info.bitCount, info.width, info.height, &lines) ? kOk : kCorruptData;
}

}  // namespace

int DecodeBmp(std::span<const uint8_t> file, BlockAllocator& out) {
  BmpInfo info;
  if (const int rc = ReadInfo(file, info); rc != kOk) return rc;
  if (info.compression == kBiRle8 || info.compression == kBiRle4) return DecodeRle(file, info, out);
  return DecodeRows(file, info, out);
}

int EncodeBmp(std::span<const uint8_t> block, std::vector<uint8_t>& file) {
  if (block.empty()) return kBadArgument;
  dib::DibLayout layout;
  if (dib::Validate(block, dib::kAllDepths, layout) != dib::DibStatus::kOk) return kCorruptData;
  // Few programs read a BMP file's fourth bytes as alpha (this library does
  // not): a picture with alpha is saved flattened onto white, 24 bits.
  if (dib::CarriesAlpha(block, layout)) {
    Source24 flat;
    if (const int opened = flat.Open(block); opened != kOk) return opened;
    std::vector<uint8_t> plain(dib::kInfoHeaderSize + static_cast<size_t>(flat.pixels().stride()) * flat.height());
    dib::InfoHeaderFields fields;
    fields.width = flat.width();
    fields.height = flat.height();
    fields.sizeImage = static_cast<uint32_t>(plain.size() - dib::kInfoHeaderSize);
    fields.xPelsPerMeter = flat.xPelsPerMeter();
    fields.yPelsPerMeter = flat.yPelsPerMeter();
    dib::WriteInfoHeader(std::span<uint8_t, dib::kInfoHeaderSize>(plain.data(), dib::kInfoHeaderSize), fields);
    const dib::ImageView rows(plain.data() + dib::kInfoHeaderSize, flat.width(), flat.height(),
                              flat.pixels().stride(), true);
    for (int32_t y = 0; y < flat.height(); ++y)
      std::memcpy(rows.Row(y), flat.pixels().Row(y), flat.pixels().stride());
    return EncodeBmp(plain, file);
  }
  // Every form the validator accepts is one a BMP file carries as it is:
  // header, masks and table up to pixelOffset, then the rows; slack after
  // the rows is left behind.
  const uint32_t dibBytes = layout.pixelOffset + layout.imageBytes;
  uint8_t header[kFileHeaderSize] = {'B', 'M'};
  dib::StoreU32(header + 2, kFileHeaderSize + dibBytes);
  dib::StoreU32(header + 10, kFileHeaderSize + layout.pixelOffset);
  file.reserve(file.size() + kFileHeaderSize + dibBytes);
  file.insert(file.end(), header, header + kFileHeaderSize);
  file.insert(file.end(), block.begin(), block.begin() + dibBytes);
  return kOk;
}

}  // namespace rastrum
