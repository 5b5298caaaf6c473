#include "rastrum/portable/block_io.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace rastrum {

namespace dib = qb::dib;

uint8_t* VectorAllocator::Allocate(size_t bytes) {
  try {
    block.resize(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
  return block.data();
}

namespace {

int MakeBlock(BlockAllocator& out, int32_t width, int32_t height, uint16_t bitCount,
              std::span<const uint8_t> table, int32_t xPelsPerMeter, int32_t yPelsPerMeter,
              NewBlock& result) {
  if (width < 1 || height < 1) return kBadArgument;
  const uint32_t tableBytes = static_cast<uint32_t>(table.size() & ~size_t{3});
  auto stride = dib::RowStride(bitCount, width);
  auto total = dib::PackedDibSize(width, height, bitCount, dib::kInfoHeaderSize + tableBytes);
  if (!stride || !total) return kTooLarge;
  uint8_t* block = out.Allocate(*total);
  if (!block) return kOutOfMemory;
  dib::InfoHeaderFields fields;
  fields.width = width;
  fields.height = height;
  fields.bitCount = bitCount;
  fields.sizeImage = *stride * static_cast<uint32_t>(height);
  fields.xPelsPerMeter = xPelsPerMeter;
  fields.yPelsPerMeter = yPelsPerMeter;
  dib::WriteInfoHeader(std::span<uint8_t, dib::kInfoHeaderSize>(block, dib::kInfoHeaderSize), fields);
  if (tableBytes) {
    dib::StoreU32(block + 32, tableBytes / 4);  // biClrUsed
    std::memcpy(block + dib::kInfoHeaderSize, table.data(), tableBytes);
  }
  uint8_t* rows = block + dib::kInfoHeaderSize + tableBytes;
  // Padding bytes are part of the file a caller may save: keep them zero.
  const uint32_t used = (static_cast<uint32_t>(width) * bitCount + 7) / 8;
  if (used < *stride) {
    for (int32_t y = 0; y < height; ++y)
      std::memset(rows + static_cast<size_t>(y) * *stride + used, 0, *stride - used);
  }
  result.block = block;
  result.pixels = dib::ImageView(rows, width, height, *stride, true);
  return kOk;
}

}  // namespace

int MakeBlock24(BlockAllocator& out, int32_t width, int32_t height, int32_t xPelsPerMeter,
                int32_t yPelsPerMeter, NewBlock& result) {
  return MakeBlock(out, width, height, 24, {}, xPelsPerMeter, yPelsPerMeter, result);
}

int MakeBlock32(BlockAllocator& out, int32_t width, int32_t height, int32_t xPelsPerMeter,
                int32_t yPelsPerMeter, NewBlock& result) {
  return MakeBlock(out, width, height, 32, {}, xPelsPerMeter, yPelsPerMeter, result);
}

int MakePaletteBlock(BlockAllocator& out, int32_t width, int32_t height, uint16_t bitCount,
                     std::span<const uint8_t> table, int32_t xPelsPerMeter, int32_t yPelsPerMeter,
                     NewBlock& result) {
  if (bitCount != 1 && bitCount != 4 && bitCount != 8) return kBadArgument;
  if (table.size() / 4 > (size_t{1} << bitCount)) return kBadArgument;
  return MakeBlock(out, width, height, bitCount, table, xPelsPerMeter, yPelsPerMeter, result);
}

int CheckDecodePeak(int32_t width, int32_t height, uint64_t working, uint64_t resident,
                    uint16_t bitCount, uint32_t tableBytes) {
  const auto block = dib::PackedDibSize(width, height, bitCount, dib::kInfoHeaderSize + tableBytes);
  if (!block) return kTooLarge;
  const uint64_t peak = std::max(working, resident + *block);
  return peak <= dib::kMaxBlockBytes ? kOk : kTooLarge;
}

int Source24::Open(std::span<const uint8_t> block) {
  if (block.empty()) return kBadArgument;
  dib::DibLayout layout;
  dib::DibStatus status = dib::Validate(block, dib::kAllDepths, layout);
  // An RLE8 or RLE4 block is read through its plain form: no operation
  // walks the stream.
  std::vector<uint8_t> decoded;
  dib::RleLayout rle;
  if (status == dib::DibStatus::kCompressionNotHandled && dib::ValidateRle(block, rle) == dib::DibStatus::kOk) {
    try {
      decoded.resize(rle.decodedBytes);
    } catch (const std::bad_alloc&) {
      return kOutOfMemory;
    }
    if (!dib::DecodeRle(block, rle, decoded)) return kCorruptData;
    block = decoded;
    status = dib::Validate(block, dib::kAllDepths, layout);
  }
  if (status != dib::DibStatus::kOk) return kCorruptData;
  m_xPelsPerMeter = m_yPelsPerMeter = 0;
  if (layout.headerSize >= dib::kInfoHeaderSize) {
    m_xPelsPerMeter = dib::LoadI32(block.data() + 24);
    m_yPelsPerMeter = dib::LoadI32(block.data() + 28);
  }
  if (layout.bitCount == 24 && layout.compression == dib::kBiRgb && layout.colorTableEntries == 0) {
    m_converted.clear();
    m_pixels = dib::PixelsOf(block.data(), layout);
    return kOk;
  }
  auto size = dib::Converted24Size(layout);
  if (!size) return kTooLarge;
  try {
    m_converted.resize(*size);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  if (!dib::ConvertTo24(block, layout, m_converted)) return kCorruptData;
  dib::DibLayout plain;
  if (dib::Validate(m_converted, dib::DepthFlag(24), plain) != dib::DibStatus::kOk) return kCorruptData;
  m_pixels = dib::PixelsOf(m_converted.data(), plain);
  return kOk;
}

}  // namespace rastrum
