// PNG decoding and encoding on libpng.
//
// libpng reports a failure through its error function, ours jumps back
// (longjmp) to the entry point that started the work, where
// png_destroy_*_struct frees what libpng allocated. The code between the
// setjmp and any jump holds no object with a destructor: the C++ objects an
// operation needs live in the caller's frame.
//
// libpng's defaults stay as they are where they decide what is corrupt: a
// bad CRC on a critical chunk is an error, on an ancillary chunk a warning
// that drops the chunk.
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include <png.h>

#include "base/portable/dib_format.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"

namespace rastrum {

namespace {

namespace dib = qb::dib;

constexpr size_t kSignatureBytes = 8;

// What one decode or encode shares with libpng's callbacks and its own
// error path. No member has a destructor.
struct PngContext {
  png_structp png = nullptr;
  png_infop info = nullptr;
  // Decoding: the file and how far libpng has read it.
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t offset = 0;
  // Encoding: where the file's bytes go.
  std::vector<uint8_t>* file = nullptr;
  // Set by the allocator when memory ran out, so that the error that follows
  // is reported as such.
  volatile bool outOfMemory = false;
  uint8_t* volatile block = nullptr;  // the decoded block once allocated
};

PngContext& ContextOf(png_structp png, bool io) {
  return *static_cast<PngContext*>(io ? png_get_io_ptr(png) : png_get_mem_ptr(png));
}

// libpng's messages are for a console; a library has none.
[[noreturn]] void ErrorFn(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void WarningFn(png_structp, png_const_charp) {}

png_voidp MallocFn(png_structp png, png_alloc_size_t bytes) {
  void* p = std::malloc(bytes);
  if (!p) ContextOf(png, false).outOfMemory = true;
  return p;
}
void FreeFn(png_structp, png_voidp p) { std::free(p); }

void ReadFn(png_structp png, png_bytep out, size_t bytes) {
  PngContext& ctx = ContextOf(png, true);
  if (bytes > ctx.size - ctx.offset) png_error(png, "file cut short");
  std::memcpy(out, ctx.data + ctx.offset, bytes);
  ctx.offset += bytes;
}

void WriteFn(png_structp png, png_bytep bytes, size_t count) {
  PngContext& ctx = ContextOf(png, true);
  bool written = true;
  try {
    ctx.file->insert(ctx.file->end(), bytes, bytes + count);
  } catch (const std::bad_alloc&) {
    written = false;
  } catch (const std::length_error&) {
    written = false;
  }
  // The jump happens outside the handlers, with no exception in flight.
  if (!written) {
    ctx.outOfMemory = true;
    png_error(png, "out of memory");
  }
}

void FlushFn(png_structp) {}

int32_t ClampPels(png_uint_32 pelsPerMeter) {
  return static_cast<int32_t>(
      std::min<png_uint_32>(pelsPerMeter, std::numeric_limits<int32_t>::max()));
}

// Deflate turns at most 258 bytes into two bits: no stream inflates more
// than about 1032 times.
constexpr uint64_t kMaxInflateRatio = 1032;

// The bytes of the IDAT chunks of a PNG file, as far as the file holds
// them: chunks of a u32 big-endian length, a type, the data and a CRC,
// after the 8-byte signature.
uint64_t ImageDataBytes(const uint8_t* data, size_t size) {
  uint64_t total = 0;
  for (uint64_t pos = kSignatureBytes; size >= 8 && pos <= size - 8;) {
    const uint64_t length = png_get_uint_32(data + pos);
    const uint64_t available = std::min<uint64_t>(length, size - pos - 8);
    if (std::memcmp(data + pos + 4, "IDAT", 4) == 0) total += available;
    pos += 12 + length;
  }
  return total;
}

// The decode proper; any libpng failure jumps out of it to DecodePng.
int DecodeInto(PngContext& ctx, BlockAllocator& out) {
  png_structp png = ctx.png;
  png_infop info = ctx.info;
  png_set_read_fn(png, &ctx, ReadFn);
  // The block's own limit decides what is too large, not libpng's default
  // of a million pixels a side.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
  // Beside the block libpng keeps two rows of the file's form (at most 8
  // bytes a pixel). PNG sides are at most 2^31 - 1: the casts keep them.
  const uint64_t fileRow = (uint64_t{width} * png_get_channels(png, info) * depth + 7) / 8 + 1;
  if (CheckDecodePeak(static_cast<int32_t>(width), static_cast<int32_t>(height), 0, 2 * fileRow) != kOk)
    return kTooLarge;
  // The block is allocated before the image data is read: the file's IDAT
  // chunks must hold enough to inflate to every row.
  if (uint64_t{height} * fileRow > kMaxInflateRatio * ImageDataBytes(ctx.data, ctx.size))
    return kCorruptData;

  int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
  png_uint_32 xRes = 0, yRes = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  if (png_get_pHYs(png, info, &xRes, &yRes, &unit) && unit == PNG_RESOLUTION_METER) {
    xPelsPerMeter = ClampPels(xRes);
    yPelsPerMeter = ClampPels(yRes);
  }

  // Every colour type and depth becomes 8-bit blue, green, red, and alpha
  // when the file has an alpha channel or a transparent colour (tRNS): a
  // 32-bit block with straight alpha, as PNG stores it.
  const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (alpha) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const unsigned channels = alpha ? 4 : 3;
  if (png_get_channels(png, info) != channels || png_get_bit_depth(png, info) != 8 ||
      png_get_rowbytes(png, info) != static_cast<size_t>(width) * channels)
    return kCorruptData;

  NewBlock block;
  const int made = alpha ? MakeBlock32(out, static_cast<int32_t>(width), static_cast<int32_t>(height),
                                       xPelsPerMeter, yPelsPerMeter, block)
                         : MakeBlock24(out, static_cast<int32_t>(width), static_cast<int32_t>(height),
                                       xPelsPerMeter, yPelsPerMeter, block);
  if (made != kOk) return made;
  ctx.block = block.block;

  // Row(0) is the top row. An interlaced picture is read once per pass, each
  // pass filling in its own pixels of the rows.
  for (int pass = 0; pass < passes; ++pass)
    for (int32_t y = 0; y < block.pixels.height(); ++y)
      png_read_row(png, block.pixels.Row(y), nullptr);
  png_read_end(png, nullptr);
  return kOk;
}

// Rows of 8-bit blue, green, red, and alpha when `alpha`.
int EncodeFrom(PngContext& ctx, const dib::ConstImageView& pixels, bool alpha, int32_t xPelsPerMeter,
               int32_t yPelsPerMeter) {
  png_structp png = ctx.png;
  png_infop info = ctx.info;
  png_set_write_fn(png, &ctx, WriteFn, FlushFn);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_IHDR(png, info, static_cast<png_uint_32>(pixels.width()),
               static_cast<png_uint_32>(pixels.height()), 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (xPelsPerMeter > 0 && yPelsPerMeter > 0)
    png_set_pHYs(png, info, static_cast<png_uint_32>(xPelsPerMeter),
                 static_cast<png_uint_32>(yPelsPerMeter), PNG_RESOLUTION_METER);
  png_write_info(png, info);
  png_set_bgr(png);
  // libpng takes non-const rows but only reads them.
  for (int32_t y = 0; y < pixels.height(); ++y)
    png_write_row(png, const_cast<png_bytep>(pixels.Row(y)));
  png_write_end(png, info);
  return kOk;
}

}  // namespace

int DecodePng(std::span<const uint8_t> file, BlockAllocator& out) {
  if (file.size() < kSignatureBytes || png_sig_cmp(file.data(), 0, kSignatureBytes) != 0)
    return kCorruptData;
  PngContext ctx;
  ctx.data = file.data();
  ctx.size = file.size();
  ctx.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &ctx, ErrorFn, WarningFn, &ctx,
                                     MallocFn, FreeFn);
  if (!ctx.png) return kOutOfMemory;
  ctx.info = png_create_info_struct(ctx.png);
  if (!ctx.info) {
    png_destroy_read_struct(&ctx.png, nullptr, nullptr);
    return kOutOfMemory;
  }
  int result;
  if (setjmp(png_jmpbuf(ctx.png))) {
    result = ctx.outOfMemory ? kOutOfMemory : kCorruptData;
  } else {
    result = DecodeInto(ctx, out);
  }
  png_destroy_read_struct(&ctx.png, &ctx.info, nullptr);
  // A block that did not get its whole picture must not pass for one.
  if (result != kOk && ctx.block) std::fill_n(ctx.block, dib::kInfoHeaderSize, uint8_t{0});
  return result;
}

namespace {

// The rows to save, read before libpng starts: nothing the jump back could
// clobber is computed in the frame that calls setjmp.
struct PngRows {
  dib::ConstImageView pixels;
  bool alpha = false;
  int32_t xPels = 0, yPels = 0;
};

int EncodeRows(const PngRows& rows, std::vector<uint8_t>& file) {
  const size_t start = file.size();
  PngContext ctx;
  ctx.file = &file;
  ctx.png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &ctx, ErrorFn, WarningFn, &ctx,
                                      MallocFn, FreeFn);
  if (!ctx.png) return kOutOfMemory;
  ctx.info = png_create_info_struct(ctx.png);
  if (!ctx.info) {
    png_destroy_write_struct(&ctx.png, nullptr);
    return kOutOfMemory;
  }
  int result;
  if (setjmp(png_jmpbuf(ctx.png))) {
    result = ctx.outOfMemory ? kOutOfMemory : kCorruptData;
  } else {
    result = EncodeFrom(ctx, rows.pixels, rows.alpha, rows.xPels, rows.yPels);
  }
  png_destroy_write_struct(&ctx.png, &ctx.info);
  if (result != kOk) file.resize(start);
  return result;
}

}  // namespace

int EncodePng(std::span<const uint8_t> block, std::vector<uint8_t>& file) {
  // A picture with alpha is saved with it, any other as RGB.
  if (const std::optional<AlphaRows> withAlpha = OpenAlpha(block))
    return EncodeRows({withAlpha->pixels, true, withAlpha->xPelsPerMeter, withAlpha->yPelsPerMeter}, file);
  Source24 source;
  if (const int opened = source.Open(block); opened != kOk) return opened;
  return EncodeRows({source.pixels(), false, source.xPelsPerMeter(), source.yPelsPerMeter()}, file);
}

}  // namespace rastrum
