#include "base/portable/dib_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>

#include "base/portable/work_pool.h"

namespace qb::dib {
namespace {

// n bytes at offset lie inside a block of `size` bytes.
constexpr bool Fits(std::uint64_t offset, std::uint64_t n, std::uint64_t size) {
  return offset <= size && n <= size - offset;
}

constexpr bool IsInfoHeaderSize(std::uint32_t size) {
  return size == kInfoHeaderSize || size == kV4HeaderSize || size == kV5HeaderSize;
}

using Channel = MaskedChannel;

struct Bgr {
  std::uint8_t b = 0, g = 0, r = 0;
};

// The colour table as B,G,R triples; indices past the table stay black.
std::array<Bgr, 256> PaletteOf(const std::uint8_t* block, const DibLayout& layout) {
  std::array<Bgr, 256> palette{};
  const std::uint32_t n = std::min<std::uint32_t>(layout.colorTableEntries, 256);
  const std::uint8_t* entry = block + layout.colorTableOffset;
  for (std::uint32_t i = 0; i < n; ++i, entry += layout.colorEntrySize) {
    palette[i] = Bgr{entry[0], entry[1], entry[2]};
  }
  return palette;
}

void ConvertRow(const std::uint8_t* src, std::uint8_t* dst, const DibLayout& layout,
                const std::array<Bgr, 256>& palette, const Channel& red, const Channel& green,
                const Channel& blue) {
  const std::int32_t width = layout.width;
  switch (layout.bitCount) {
    case 1:
    case 4:
    case 8: {
      // Pixels are packed from the high bits of each byte down.
      const unsigned bits = layout.bitCount;
      const unsigned mask = (1u << bits) - 1;
      for (std::int32_t x = 0; x < width; ++x, dst += 3) {
        const std::uint64_t bitPos = static_cast<std::uint64_t>(x) * bits;
        const unsigned shift = 8 - bits - static_cast<unsigned>(bitPos % 8);
        const Bgr& c = palette[(src[bitPos / 8] >> shift) & mask];
        dst[0] = c.b;
        dst[1] = c.g;
        dst[2] = c.r;
      }
      break;
    }
    case 16:
      for (std::int32_t x = 0; x < width; ++x, src += 2, dst += 3) {
        const std::uint32_t px = LoadU16(src);
        dst[0] = blue(px);
        dst[1] = green(px);
        dst[2] = red(px);
      }
      break;
    case 24:
      std::memcpy(dst, src, static_cast<std::size_t>(width) * 3);
      break;
    case 32:
      for (std::int32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        const std::uint32_t px = LoadU32(src);
        dst[0] = blue(px);
        dst[1] = green(px);
        dst[2] = red(px);
      }
      break;
  }
}

}  // namespace

std::optional<std::uint32_t> RowStride(std::uint32_t bitCount, std::int32_t width) {
  if (width < 0) return std::nullopt;
  const std::uint64_t bits = static_cast<std::uint64_t>(bitCount) * static_cast<std::uint64_t>(width) + 31;
  if (bits > static_cast<std::uint64_t>(INT32_MAX)) return std::nullopt;
  return static_cast<std::uint32_t>(bits / 32 * 4);
}

std::optional<std::uint32_t> PackedDibSize(std::int32_t width, std::int32_t height,
                                           std::uint32_t bitCount, std::uint32_t prefixBytes) {
  if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
  const auto stride = RowStride(bitCount, width);
  if (!stride) return std::nullopt;
  const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
  const std::uint64_t total = prefixBytes + *stride * rows;
  if (total > kMaxBlockBytes) return std::nullopt;
  return static_cast<std::uint32_t>(total);
}

std::int32_t WidthField(std::span<const std::uint8_t> block) {
  if (block.size() < 4) return 0;
  if (IsInfoHeaderSize(LoadU32(block.data()))) {
    return block.size() < 8 ? 0 : LoadI32(block.data() + 4);
  }
  return block.size() < 6 ? 0 : LoadU16(block.data() + 4);
}

std::int32_t HeightField(std::span<const std::uint8_t> block) {
  if (block.size() < 4) return 0;
  if (IsInfoHeaderSize(LoadU32(block.data()))) {
    return block.size() < 12 ? 0 : LoadI32(block.data() + 8);
  }
  return block.size() < 8 ? 0 : LoadU16(block.data() + 6);
}

std::uint16_t BitCountField(std::span<const std::uint8_t> block) {
  return block.size() < 16 ? 0 : LoadU16(block.data() + 14);
}

const char* DibStatusName(DibStatus status) {
  switch (status) {
    case DibStatus::kOk: return "ok";
    case DibStatus::kTooSmallForHeader: return "block too small for its header";
    case DibStatus::kBadHeaderSize: return "unknown header size";
    case DibStatus::kBadWidth: return "width not positive";
    case DibStatus::kBadHeight: return "height zero or INT_MIN";
    case DibStatus::kDepthNotHandled: return "bit depth not handled";
    case DibStatus::kCompressionNotHandled: return "compression not handled";
    case DibStatus::kStrideOverflow: return "row stride overflows";
    case DibStatus::kTablePastBlock: return "colour table past the block";
    case DibStatus::kRowsPastBlock: return "rows past the block";
    case DibStatus::kBadStream: return "RLE stream corrupt";
  }
  return "?";
}

namespace {

// The header, masks and colour table of `block`: fills `l` up to its pixel
// offset (and the stride of plain rows). `rle` takes the run-length forms,
// and only them.
DibStatus ReadHeaderAndTable(std::span<const std::uint8_t> block, DepthSet handled, bool rle, DibLayout& l) {
  const std::uint64_t size = block.size();
  const std::uint8_t* p = block.data();
  if (size < 4) return DibStatus::kTooSmallForHeader;

  l.headerSize = LoadU32(p);
  const bool core = l.headerSize == kCoreHeaderSize;
  if (!core && !IsInfoHeaderSize(l.headerSize)) return DibStatus::kBadHeaderSize;
  if (size < l.headerSize) return DibStatus::kTooSmallForHeader;

  std::uint32_t colorsUsed = 0;
  if (core) {
    // Unsigned 16-bit sizes, always bottom-up, no compression, RGB triples.
    l.width = LoadU16(p + 4);
    l.height = LoadU16(p + 6);
    l.bitCount = LoadU16(p + 10);
    l.colorEntrySize = 3;
    if (l.width == 0) return DibStatus::kBadWidth;
    if (l.height == 0) return DibStatus::kBadHeight;
  } else {
    l.width = LoadI32(p + 4);
    const std::int32_t height = LoadI32(p + 8);
    l.bitCount = LoadU16(p + 14);
    l.compression = LoadU32(p + 16);
    colorsUsed = LoadU32(p + 32);
    if (l.width <= 0) return DibStatus::kBadWidth;
    if (height == 0 || height == INT32_MIN) return DibStatus::kBadHeight;
    l.bottomUp = height > 0;
    l.height = l.bottomUp ? height : -height;
  }

  const DepthSet flag = DepthFlag(l.bitCount);
  if (flag == 0 || (handled & flag) == 0) return DibStatus::kDepthNotHandled;
  if (core && (l.bitCount == 16 || l.bitCount == 32)) return DibStatus::kDepthNotHandled;

  const bool bitfields = l.compression == kBiBitfields;
  if (rle) {
    const bool rleForm = !core && l.bottomUp &&
                         ((l.bitCount == 8 && l.compression == kBiRle8) || (l.bitCount == 4 && l.compression == kBiRle4));
    if (!rleForm) return DibStatus::kCompressionNotHandled;
  } else if (l.compression != kBiRgb && !(bitfields && (l.bitCount == 16 || l.bitCount == 32))) {
    return DibStatus::kCompressionNotHandled;
  }

  const auto stride = RowStride(l.bitCount, l.width);
  if (!stride) return DibStatus::kStrideOverflow;
  l.stride = *stride;

  // A 40-byte header keeps its three masks after it; V4/V5 hold them inside.
  std::uint64_t tableOffset = l.headerSize;
  if (bitfields && l.headerSize == kInfoHeaderSize) tableOffset += 12;
  std::uint64_t entries = 0;
  if (l.bitCount <= 8) {
    const std::uint32_t full = 1u << l.bitCount;
    entries = (colorsUsed != 0 && colorsUsed <= full) ? colorsUsed : full;
  } else {
    entries = colorsUsed;  // 0 for a core header
  }
  const std::uint64_t tableBytes = entries * l.colorEntrySize;
  const std::uint64_t reach = std::min<std::uint64_t>(size, kMaxBlockBytes);
  if (!Fits(0, tableOffset, reach) || !Fits(tableOffset, tableBytes, reach)) {
    return DibStatus::kTablePastBlock;
  }
  l.colorTableOffset = static_cast<std::uint32_t>(tableOffset);
  l.colorTableEntries = static_cast<std::uint32_t>(entries);
  l.pixelOffset = static_cast<std::uint32_t>(tableOffset + tableBytes);
  return DibStatus::kOk;
}

}  // namespace

DibStatus Validate(std::span<const std::uint8_t> block, DepthSet handled, DibLayout& layout) {
  DibLayout l;
  if (const DibStatus status = ReadHeaderAndTable(block, handled, false, l); status != DibStatus::kOk) {
    return status;
  }
  const std::uint64_t imageBytes = static_cast<std::uint64_t>(l.stride) * static_cast<std::uint64_t>(l.height);
  if (!Fits(l.pixelOffset, imageBytes, std::min<std::uint64_t>(block.size(), kMaxBlockBytes))) {
    return DibStatus::kRowsPastBlock;
  }
  l.imageBytes = static_cast<std::uint32_t>(imageBytes);
  const std::uint8_t* p = block.data();
  if (l.compression == kBiBitfields) {
    l.redMask = LoadU32(p + 40);
    l.greenMask = LoadU32(p + 44);
    l.blueMask = LoadU32(p + 48);
  } else {
    const ChannelMasks masks = DefaultMasks(l.bitCount);
    l.redMask = masks.red;
    l.greenMask = masks.green;
    l.blueMask = masks.blue;
  }
  layout = l;
  return DibStatus::kOk;
}

bool IsPlain24(const DibLayout& layout) {
  return layout.headerSize == kInfoHeaderSize && layout.bitCount == 24 &&
         layout.compression == kBiRgb && layout.bottomUp && layout.pixelOffset == kInfoHeaderSize;
}

void WriteInfoHeader(std::span<std::uint8_t, kInfoHeaderSize> out, const InfoHeaderFields& fields) {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kInfoHeaderSize);
  StoreU32(p + 0, kInfoHeaderSize);
  StoreI32(p + 4, fields.width);
  StoreI32(p + 8, fields.height);
  StoreU16(p + 12, 1);
  StoreU16(p + 14, fields.bitCount);
  StoreU32(p + 16, kBiRgb);
  StoreU32(p + 20, fields.sizeImage);
  StoreI32(p + 24, fields.xPelsPerMeter);
  StoreI32(p + 28, fields.yPelsPerMeter);
}

bool CarriesAlpha(std::span<const std::uint8_t> block, const DibLayout& layout) {
  if (layout.headerSize != kInfoHeaderSize || layout.bitCount != 32 || layout.compression != kBiRgb ||
      !Fits(layout.pixelOffset, layout.imageBytes, block.size()) ||
      static_cast<std::uint64_t>(layout.stride) * static_cast<std::uint64_t>(layout.height) != layout.imageBytes ||
      static_cast<std::uint64_t>(layout.width) * 4 > layout.stride) {
    return false;
  }
  const ConstImageView pixels = PixelsOf(block.data(), layout);
  const std::uint8_t first = pixels.Row(0)[3];
  for (std::int32_t y = 0; y < pixels.height(); ++y) {
    const std::uint8_t* row = pixels.Row(y);
    for (std::int32_t x = 0; x < pixels.width(); ++x) {
      if (row[4 * x + 3] != first) return true;
    }
  }
  return false;
}

std::optional<std::uint32_t> Converted24Size(const DibLayout& layout) {
  return PackedDibSize(layout.width, layout.height, 24, kInfoHeaderSize);
}

bool ConvertTo24(std::span<const std::uint8_t> block, const DibLayout& layout,
                 std::span<std::uint8_t> out, AlphaRule alpha) {
  const auto outSize = Converted24Size(layout);
  if (!outSize || out.size() < *outSize) return false;
  // The layout must describe this block; a stale one is refused, not trusted.
  const auto stride = RowStride(layout.bitCount, layout.width);
  if (DepthFlag(layout.bitCount) == 0 || !stride || *stride != layout.stride ||
      static_cast<std::uint64_t>(layout.stride) * static_cast<std::uint64_t>(layout.height) != layout.imageBytes ||
      layout.colorEntrySize > 4 ||
      !Fits(layout.colorTableOffset,
            static_cast<std::uint64_t>(layout.colorTableEntries) * layout.colorEntrySize, block.size()) ||
      !Fits(layout.pixelOffset, layout.imageBytes, block.size())) {
    return false;
  }

  const std::uint8_t* src = block.data();
  std::uint8_t* dst = out.data();
  const std::uint32_t outStride = *RowStride(24, layout.width);
  // The header here, each row (padding included) by the band that converts
  // it.
  std::memset(dst, 0, kInfoHeaderSize);

  InfoHeaderFields fields;
  fields.width = layout.width;
  fields.height = layout.height;
  fields.bitCount = 24;
  fields.sizeImage = outStride * static_cast<std::uint32_t>(layout.height);
  if (layout.headerSize >= kInfoHeaderSize) {
    fields.xPelsPerMeter = LoadI32(src + 24);
    fields.yPelsPerMeter = LoadI32(src + 28);
  }
  WriteInfoHeader(out.first<kInfoHeaderSize>(), fields);

  std::array<Bgr, 256> palette{};
  if (layout.bitCount <= 8) palette = PaletteOf(src, layout);
  const Channel red(layout.redMask), green(layout.greenMask), blue(layout.blueMask);

  const ConstImageView from = PixelsOf(src, layout);
  const ImageView to(dst + kInfoHeaderSize, layout.width, layout.height, outStride, true);
  const bool flatten = alpha == AlphaRule::kFlattenOntoWhite && CarriesAlpha(block, layout);
  work::ForEachRowBand(layout.width, layout.height, [&](std::int32_t first, std::int32_t count) {
    for (std::int32_t y = first; y < first + count; ++y) {
      std::memset(to.Row(y), 0, outStride);
      ConvertRow(from.Row(y), to.Row(y), layout, palette, red, green, blue);
      if (!flatten) continue;
      const std::uint8_t* a = from.Row(y) + 3;
      std::uint8_t* c = to.Row(y);
      for (std::int32_t x = 0; x < layout.width; ++x, a += 4, c += 3) {
        for (int k = 0; k < 3; ++k) c[k] = OverWhite(c[k], *a);
      }
    }
  });
  return true;
}

std::optional<std::size_t> WalkRle(std::span<const std::uint8_t> stream, std::uint16_t bitCount,
                                   std::int32_t width, std::int32_t height, const ImageView* lines) {
  if ((bitCount != 4 && bitCount != 8) || width <= 0 || height <= 0) return std::nullopt;
  const bool rle4 = bitCount == 4;
  const std::uint64_t columns = static_cast<std::uint64_t>(width);
  const std::uint64_t rowPixels = (columns * bitCount + 31) / 32 * 32 / bitCount;
  const std::uint64_t rows = static_cast<std::uint64_t>(height);
  const std::uint8_t* d = stream.data();
  const std::uint64_t size = stream.size();
  std::uint64_t pos = 0, x = 0, line = 0;

  auto put = [&](std::uint8_t* row, std::uint64_t at, std::uint8_t index) {
    if (at >= columns) return;
    if (!rle4) {
      row[at] = index;
    } else if (at % 2 == 0) {
      row[at / 2] = static_cast<std::uint8_t>((row[at / 2] & 0x0F) | (index << 4));
    } else {
      row[at / 2] = static_cast<std::uint8_t>((row[at / 2] & 0xF0) | index);
    }
  };

  for (;;) {
    if (!Fits(pos, 2, size)) return std::nullopt;
    const std::uint8_t count = d[pos];
    const std::uint8_t value = d[pos + 1];
    pos += 2;
    if (count > 0) {
      if (line >= rows || count > rowPixels - x) return std::nullopt;
      if (lines) {
        std::uint8_t* row = lines->Row(static_cast<std::int32_t>(line));
        for (unsigned n = 0; n < count; ++n) {
          put(row, x + n, rle4 ? static_cast<std::uint8_t>(n % 2 ? value & 0x0F : value >> 4) : value);
        }
      }
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        if (++line > rows) return std::nullopt;
        break;
      case 1:  // end of bitmap
        return static_cast<std::size_t>(pos);
      case 2: {  // delta
        if (!Fits(pos, 2, size)) return std::nullopt;
        x += d[pos];
        line += d[pos + 1];
        pos += 2;
        if (x > rowPixels || line > rows) return std::nullopt;
        break;
      }
      default: {  // literal indices
        const std::uint64_t bytes = rle4 ? (value + 1u) / 2 : value;
        const std::uint64_t padded = (bytes + 1) & ~std::uint64_t{1};
        if (!Fits(pos, padded, size)) return std::nullopt;
        if (line >= rows || value > rowPixels - x) return std::nullopt;
        if (lines) {
          std::uint8_t* row = lines->Row(static_cast<std::int32_t>(line));
          for (unsigned n = 0; n < value; ++n) {
            const std::uint8_t byte = d[pos + (rle4 ? n / 2 : n)];
            put(row, x + n, rle4 ? static_cast<std::uint8_t>(n % 2 ? byte & 0x0F : byte >> 4) : byte);
          }
        }
        x += value;
        pos += padded;
        break;
      }
    }
  }
}

DibStatus ValidateRle(std::span<const std::uint8_t> block, RleLayout& layout) {
  DibLayout l;
  if (const DibStatus status = ReadHeaderAndTable(block, kDepth4 | kDepth8, true, l); status != DibStatus::kOk) {
    return status;
  }
  // The stream is biSizeImage bytes when the header says so, else what the
  // block holds after the table.
  std::uint64_t available = std::min<std::uint64_t>(block.size(), kMaxBlockBytes) - l.pixelOffset;
  const std::uint32_t sizeImage = LoadU32(block.data() + 20);
  if (sizeImage != 0) {
    if (sizeImage > available) return DibStatus::kRowsPastBlock;
    available = sizeImage;
  }
  const std::uint32_t tableBytes = 4 * l.colorTableEntries;
  const auto decoded = PackedDibSize(l.width, l.height, l.bitCount, kInfoHeaderSize + tableBytes);
  if (!decoded) return DibStatus::kRowsPastBlock;
  if (*decoded > kRleFreeBlockBytes && *decoded / kRleBlockBytesPerByte > available) return DibStatus::kBadStream;
  const auto used = WalkRle(block.subspan(l.pixelOffset, static_cast<std::size_t>(available)), l.bitCount,
                            l.width, l.height);
  if (!used) return DibStatus::kBadStream;
  RleLayout r;
  r.width = l.width;
  r.height = l.height;
  r.bitCount = l.bitCount;
  r.colorTableOffset = l.colorTableOffset;
  r.colorTableEntries = l.colorTableEntries;
  r.streamOffset = l.pixelOffset;
  r.streamBytes = static_cast<std::uint32_t>(*used);
  r.decodedBytes = *decoded;
  layout = r;
  return DibStatus::kOk;
}

bool DecodeRle(std::span<const std::uint8_t> block, const RleLayout& layout, std::span<std::uint8_t> out) {
  // The layout must describe this block; a stale one is refused, not trusted.
  RleLayout check;
  if (ValidateRle(block, check) != DibStatus::kOk || check.streamOffset != layout.streamOffset ||
      check.decodedBytes != layout.decodedBytes || out.size() < layout.decodedBytes) {
    return false;
  }
  const std::uint8_t* src = block.data();
  std::uint8_t* dst = out.data();
  const std::uint32_t stride = *RowStride(layout.bitCount, layout.width);
  const std::uint32_t tableBytes = 4 * layout.colorTableEntries;
  std::memset(dst, 0, layout.decodedBytes);
  InfoHeaderFields fields;
  fields.width = layout.width;
  fields.height = layout.height;
  fields.bitCount = layout.bitCount;
  fields.sizeImage = stride * static_cast<std::uint32_t>(layout.height);
  fields.xPelsPerMeter = LoadI32(src + 24);
  fields.yPelsPerMeter = LoadI32(src + 28);
  WriteInfoHeader(out.first<kInfoHeaderSize>(), fields);
  StoreU32(dst + 32, layout.colorTableEntries);
  std::memcpy(dst + kInfoHeaderSize, src + layout.colorTableOffset, tableBytes);
  // The stream's first line is the bottom row, stored first.
  const ImageView lines(dst + kInfoHeaderSize + tableBytes, layout.width, layout.height, stride, false);
  return WalkRle(block.subspan(layout.streamOffset, layout.streamBytes), layout.bitCount, layout.width,
                 layout.height, &lines)
      .has_value();
}

}  // namespace qb::dib
