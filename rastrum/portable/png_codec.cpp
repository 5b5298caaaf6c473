// PNG decoding on libpng; encoding of our own, on libdeflate (below).
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
#include <optional>
#include <memory>
#include <stdexcept>
#include <vector>

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/portable/dib_format.h"
#include "base/portable/work_pool.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"

namespace rastrum {

namespace {

namespace dib = qb::dib;

constexpr size_t kSignatureBytes = 8;

// What one decode shares with libpng's callbacks and its own
// error path. No member has a destructor.
struct PngContext {
  png_structp png = nullptr;
  png_infop info = nullptr;
  // Decoding: the file and how far libpng has read it.
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t offset = 0;
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

// ---- Encoding ----
//
// The encoder writes IHDR, pHYs when the picture has a resolution, the
// image data and IEND: 8-bit RGB, or RGBA for a picture with alpha, never
// interlaced. Each row gets the filter whose output has the smallest sum of
// absolute values (bytes read as signed), libpng's adaptive heuristic.
//
// The rows are cut into bands of about kBandBytes of filtered data, and
// each band is filtered and deflated on its own, on the workers; the pieces
// are joined into the one zlib stream PNG wants: every piece but the last
// ends on a byte boundary without a final block (a zlib sync flush's ending),
// and the stream's Adler-32 is combined from the bands'. The bands depend on
// the picture alone, so the file is the same bytes whatever number of
// threads made it; a band starts without the previous band's bytes in its
// window, which costs a few hundred bytes each.
//
// A band is deflated twice at most. First by zlib with matches of repeated
// bytes only: a photograph's filtered rows hardly repeat, and there short
// matches cost more than the literals they replace, so this is both the
// smallest deflate (as zlib's filtered strategy, which ImageMagick uses) and
// a fast one. Rows that shrink to less than a quarter of their size
// (drawings, screenshots, flat areas) then go to libdeflate, whose matches of any
// distance in the window catch what repeats, and the smaller piece is kept.

constexpr size_t kBandBytes = size_t{1} << 21;
// Bands deflated before their pieces join the file: bounds the memory held
// by pieces and filtered rows to a few tens of megabytes.
constexpr int64_t kBandsAtOnce = 8;
// libdeflate's level 6: smaller files than zlib's level 9, several times
// faster.
constexpr int kDeflateLevel = 6;

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& out, uint32_t v) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  out.insert(out.end(), bytes, bytes + 4);
}

// A chunk whose data is the bytes of `parts` one after another.
void PutChunk(Bytes& out, const char (&type)[5], std::initializer_list<std::span<const uint8_t>> parts) {
  size_t length = 0;
  for (const auto& part : parts) length += part.size();
  PutU32(out, static_cast<uint32_t>(length));
  const auto* typeBytes = reinterpret_cast<const uint8_t*>(type);
  out.insert(out.end(), typeBytes, typeBytes + 4);
  uint32_t crc = libdeflate_crc32(0, typeBytes, 4);
  for (const auto& part : parts) {
    // libdeflate_crc32 of a null buffer is 0, not the crc passed in.
    if (part.empty()) continue;
    out.insert(out.end(), part.begin(), part.end());
    crc = libdeflate_crc32(crc, part.data(), part.size());
  }
  PutU32(out, crc);
}

// The cost libpng's heuristic gives a filtered byte: its distance from zero
// as a signed byte.
inline uint32_t Cost(uint8_t v) { return v < 128 ? v : 256u - v; }

inline uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// The four filters that predict, over the samples [from, n) of a row whose
// left neighbours are `bpp` samples back: `sub`, `up`, `avg`, `paeth` get
// the filtered samples, `cost` (None's first) the sums of their costs.
void FilterSpan(const uint8_t* cur, const uint8_t* prev, size_t from, size_t n, size_t bpp,
                uint8_t* const* out, uint32_t* cost) {
  for (size_t i = from; i < n; ++i) {
    const uint8_t x = cur[i], b = prev[i];
    const uint8_t a = i >= bpp ? cur[i - bpp] : 0, c = i >= bpp ? prev[i - bpp] : 0;
    const uint8_t f[4] = {static_cast<uint8_t>(x - a), static_cast<uint8_t>(x - b),
                          static_cast<uint8_t>(x - ((a + b) >> 1)), static_cast<uint8_t>(x - Paeth(a, b, c))};
    cost[0] += Cost(x);
    for (int k = 0; k < 4; ++k) {
      out[k][i] = f[k];
      cost[k + 1] += Cost(f[k]);
    }
  }
}

#if defined(__SSE2__)
// FilterSpan over whole 16-sample steps from `from` (at least bpp); returns
// where it stopped.
size_t FilterSpanSse2(const uint8_t* cur, const uint8_t* prev, size_t from, size_t n, size_t bpp,
                      uint8_t* const* out, uint32_t* cost) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sums[5] = {zero, zero, zero, zero, zero};
  // Cost of 16 bytes: min(v, 256 - v) summed, as two 64-bit halves.
  const auto costOf = [&](__m128i v) { return _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero); };
  const auto abs16 = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
  // Paeth's predictor on eight 16-bit lanes.
  const auto paeth = [&](__m128i a, __m128i b, __m128i c) {
    const __m128i pa = abs16(_mm_sub_epi16(b, c)), pb = abs16(_mm_sub_epi16(a, c));
    const __m128i pc = abs16(_mm_add_epi16(_mm_sub_epi16(b, c), _mm_sub_epi16(a, c)));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i useC = _mm_cmpgt_epi16(pb, pc);
    const __m128i bc = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
    return _mm_or_si128(_mm_and_si128(notA, bc), _mm_andnot_si128(notA, a));
  };
  size_t i = from;
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i - bpp));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i - bpp));
    // (a + b) >> 1 without overflow: avg rounds up, so take off the odd bit.
    const __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
    const __m128i pLow = paeth(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
    const __m128i pHigh = paeth(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
    const __m128i f[4] = {_mm_sub_epi8(x, a), _mm_sub_epi8(x, b), _mm_sub_epi8(x, avg),
                          _mm_sub_epi8(x, _mm_packus_epi16(pLow, pHigh))};
    sums[0] = _mm_add_epi64(sums[0], costOf(x));
    for (int k = 0; k < 4; ++k) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out[k] + i), f[k]);
      sums[k + 1] = _mm_add_epi64(sums[k + 1], costOf(f[k]));
    }
  }
  for (int k = 0; k < 5; ++k)
    cost[k] += static_cast<uint32_t>(_mm_cvtsi128_si32(sums[k]) + _mm_cvtsi128_si32(_mm_srli_si128(sums[k], 8)));
  return i;
}
#endif

// Filters the rows [y0, y1) of `pixels` into `out`, each row its filter
// type byte then the filtered samples in PNG's order (red, green, blue,
// alpha). The filters work on each sample with its own channel's
// neighbours and the costs are sums over the row, so both are taken on the
// rows as stored (blue first) and only the chosen row is reordered.
// `scratch` holds 5 rows of samples.
void FilterRows(const dib::ConstImageView& pixels, unsigned channels, int32_t y0, int32_t y1,
                uint8_t* scratch, uint8_t* out) {
  const size_t n = static_cast<size_t>(pixels.width()) * channels;
  uint8_t* const zeros = scratch;
  std::fill_n(zeros, n, uint8_t{0});
  uint8_t* const trial[4] = {scratch + n, scratch + 2 * n, scratch + 3 * n, scratch + 4 * n};
  const size_t bpp = channels;
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* cur = pixels.Row(y);
    const uint8_t* prev = y > 0 ? pixels.Row(y - 1) : zeros;
    uint32_t cost[5] = {};
    size_t done = std::min(bpp, n);
    FilterSpan(cur, prev, 0, done, bpp, trial, cost);
#if defined(__SSE2__)
    done = FilterSpanSse2(cur, prev, done, n, bpp, trial, cost);
#endif
    FilterSpan(cur, prev, done, n, bpp, trial, cost);
    int best = 0;
    for (int f = 1; f < 5; ++f)
      if (cost[f] < cost[best]) best = f;
    *out++ = static_cast<uint8_t>(best);
    const uint8_t* row = best == 0 ? cur : trial[best - 1];
    for (size_t i = 0; i < n; i += channels) {
      out[i] = row[i + 2];
      out[i + 1] = row[i + 1];
      out[i + 2] = row[i];
      if (channels == 4) out[i + 3] = row[i + 3];
    }
    out += n;
  }
}

// Turns a raw deflate stream of `size` bytes in `piece` into one another
// stream can follow: its final block's BFINAL bit cleared, then an empty
// stored block that brings it to a byte boundary (none when it ends on
// one). zlib's inflate with Z_BLOCK stops at every block boundary and tells
// how many bits of the last byte it took are left, which places each block
// header. `piece` has room for 5 more bytes. Returns the new size.
size_t MakeJoinable(Bytes& piece, size_t size) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::bad_alloc();
  std::unique_ptr<z_stream, int (*)(z_streamp)> end(&z, inflateEnd);
  Bytes sink(size_t{1} << 16);
  z.next_in = piece.data();
  z.avail_in = static_cast<uInt>(size);
  uint64_t blockStart = 0, streamEnd = 0;
  for (;;) {
    z.next_out = sink.data();
    z.avail_out = static_cast<uInt>(sink.size());
    const int r = inflate(&z, Z_BLOCK);
    if (r != Z_OK) throw std::runtime_error("deflate piece does not inflate");
    if (z.data_type & 128) {
      const uint64_t bit = uint64_t{static_cast<size_t>(z.next_in - piece.data())} * 8 - (z.data_type & 7);
      if (z.data_type & 64) {
        streamEnd = bit;
        break;
      }
      blockStart = bit;
    }
  }
  piece[blockStart / 8] &= static_cast<uint8_t>(~(1u << (blockStart % 8)));
  size = static_cast<size_t>((streamEnd + 7) / 8);
  const unsigned used = streamEnd % 8;
  if (used == 0) return size;
  piece[size - 1] &= static_cast<uint8_t>((1u << used) - 1);
  // The stored block's three header bits are zero: they fit in the last
  // byte's free bits, or spill into one more.
  if (used > 5) piece[size++] = 0;
  const uint8_t emptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(piece.data() + size, emptyStored, 4);
  return size + 4;
}

struct Band {
  Bytes deflated;
  size_t size = 0;      // of deflated
  uint32_t adler = 1;   // of the filtered rows
  size_t rawBytes = 0;  // filtered rows
};

// zlib keeping only matches of repeated bytes (Z_RLE), with its largest
// symbol buffer (memory level 9, so blocks of 32 Ki symbols whose codes
// follow the picture's changes). A piece that is not the last ends with a
// sync flush: an empty stored block, on a byte boundary, no final block.
class RunCompressor {
 public:
  RunCompressor() {
    if (deflateInit2(&m_z, 6, Z_DEFLATED, -15, 9, Z_RLE) != Z_OK) throw std::bad_alloc();
  }
  ~RunCompressor() { deflateEnd(&m_z); }
  RunCompressor(const RunCompressor&) = delete;
  RunCompressor& operator=(const RunCompressor&) = delete;

  size_t Compress(const uint8_t* raw, size_t n, bool last, Bytes& piece) {
    if (deflateReset(&m_z) != Z_OK) throw std::runtime_error("deflateReset");
    piece.resize(deflateBound(&m_z, static_cast<uLong>(n)) + 16);
    m_z.next_in = const_cast<Bytef*>(raw);
    m_z.avail_in = static_cast<uInt>(n);
    m_z.next_out = piece.data();
    m_z.avail_out = static_cast<uInt>(piece.size());
    const int r = deflate(&m_z, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (r != (last ? Z_STREAM_END : Z_OK) || m_z.avail_in != 0 || m_z.avail_out == 0)
      throw std::runtime_error("deflate output over its bound");
    return piece.size() - m_z.avail_out;
  }

 private:
  z_stream m_z{};
};

struct Compressor {
  Compressor() = default;
  libdeflate_compressor* c = libdeflate_alloc_compressor(kDeflateLevel);
  ~Compressor() { libdeflate_free_compressor(c); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
};

int EncodeRows(const dib::ConstImageView& pixels, bool alpha, int32_t xPels, int32_t yPels, Bytes& file) {
  const unsigned channels = alpha ? 4 : 3;
  const int32_t width = pixels.width(), height = pixels.height();
  const size_t samples = static_cast<size_t>(width) * channels;
  const size_t rowBytes = samples + 1;
  const int32_t rowsPerBand =
      static_cast<int32_t>(std::clamp<size_t>(kBandBytes / rowBytes, 1, static_cast<size_t>(height)));
  const int64_t bandCount = (int64_t{height} + rowsPerBand - 1) / rowsPerBand;

  uint8_t header[13];
  const auto put32 = [](uint8_t* at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v >> 24), at[1] = static_cast<uint8_t>(v >> 16);
    at[2] = static_cast<uint8_t>(v >> 8), at[3] = static_cast<uint8_t>(v);
  };
  put32(header, static_cast<uint32_t>(width));
  put32(header + 4, static_cast<uint32_t>(height));
  header[8] = 8;                  // bits a sample
  header[9] = alpha ? 6 : 2;      // RGBA or RGB
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, not interlaced
  static const uint8_t kSignature[kSignatureBytes] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.insert(file.end(), kSignature, kSignature + kSignatureBytes);
  PutChunk(file, "IHDR", {header});
  if (xPels > 0 && yPels > 0) {
    uint8_t phys[9];
    put32(phys, static_cast<uint32_t>(xPels));
    put32(phys + 4, static_cast<uint32_t>(yPels));
    phys[8] = 1;  // metres
    PutChunk(file, "pHYs", {phys});
  }

  // zlib's header: deflate with a 32 KiB window, the default level's flag.
  static const uint8_t kZlibHeader[2] = {0x78, 0x9C};
  uint32_t adler = 1;
  std::vector<Band> bands(static_cast<size_t>(std::min(bandCount, kBandsAtOnce)));
  for (int64_t first = 0; first < bandCount; first += kBandsAtOnce) {
    const int64_t count = std::min(kBandsAtOnce, bandCount - first);
    qb::work::ForEachRange(count, 1, [&](int64_t begin, int64_t end) {
      RunCompressor runs;
      std::optional<Compressor> compressor;  // made for the first band that needs it
      Bytes scratch(5 * samples);
      Bytes filtered, matched;
      for (int64_t i = begin; i < end; ++i) {
        const int64_t index = first + i;
        const int32_t y0 = static_cast<int32_t>(index * rowsPerBand);
        const int32_t y1 = static_cast<int32_t>(std::min<int64_t>(y0 + int64_t{rowsPerBand}, height));
        Band& band = bands[static_cast<size_t>(i)];
        band.rawBytes = static_cast<size_t>(y1 - y0) * rowBytes;
        filtered.resize(band.rawBytes);
        FilterRows(pixels, channels, y0, y1, scratch.data(), filtered.data());
        band.adler = libdeflate_adler32(1, filtered.data(), band.rawBytes);
        const bool last = index + 1 == bandCount;
        band.size = runs.Compress(filtered.data(), band.rawBytes, last, band.deflated);
        // Rows that shrink to less than a quarter have repeats that
        // libdeflate's matches catch: the smaller piece is kept. (Smooth
        // pictures, an enlarged photograph, shrink to about half, and there
        // runs alone still make the smaller file.)
        if (band.size >= band.rawBytes / 4) continue;
        if (!compressor) compressor.emplace();
        if (!compressor->c) throw std::bad_alloc();
        const size_t bound = libdeflate_deflate_compress_bound(compressor->c, band.rawBytes);
        matched.resize(bound + 5);
        size_t size = libdeflate_deflate_compress(compressor->c, filtered.data(), band.rawBytes,
                                                  matched.data(), bound);
        if (size == 0) throw std::runtime_error("deflate output over its bound");
        if (size + 5 >= band.size) continue;
        if (!last) size = MakeJoinable(matched, size);
        if (size < band.size) {
          std::swap(matched, band.deflated);
          band.size = size;
        }
      }
    });
    for (int64_t i = 0; i < count; ++i) {
      const Band& band = bands[static_cast<size_t>(i)];
      adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.rawBytes));
      const std::span<const uint8_t> data(band.deflated.data(), band.size);
      const bool firstBand = first + i == 0, lastBand = first + i + 1 == bandCount;
      uint8_t trailer[4];
      put32(trailer, adler);
      PutChunk(file, "IDAT",
               {firstBand ? std::span<const uint8_t>(kZlibHeader) : std::span<const uint8_t>(), data,
                lastBand ? std::span<const uint8_t>(trailer) : std::span<const uint8_t>()});
    }
  }
  PutChunk(file, "IEND", {});
  return kOk;
}

int EncodeRowsOrFail(const dib::ConstImageView& pixels, bool alpha, int32_t xPels, int32_t yPels,
                     Bytes& file) {
  const size_t start = file.size();
  try {
    return EncodeRows(pixels, alpha, xPels, yPels, file);
  } catch (const std::bad_alloc&) {
    file.resize(start);
    return kOutOfMemory;
  } catch (const std::length_error&) {
    file.resize(start);
    return kOutOfMemory;
  } catch (const std::exception&) {
    // libdeflate over its own bound, or a piece that does not inflate:
    // neither happens, but no broken file passes for one.
    file.resize(start);
    return kCannotWrite;
  }
}

}  // namespace

int EncodePng(std::span<const uint8_t> block, std::vector<uint8_t>& file) {
  // A picture with alpha is saved with it, any other as RGB.
  if (const std::optional<AlphaRows> withAlpha = OpenAlpha(block))
    return EncodeRowsOrFail(withAlpha->pixels, true, withAlpha->xPelsPerMeter, withAlpha->yPelsPerMeter, file);
  Source24 source;
  if (const int opened = source.Open(block); opened != kOk) return opened;
  return EncodeRowsOrFail(source.pixels(), false, source.xPelsPerMeter(), source.yPelsPerMeter(), file);
}

}  // namespace rastrum
