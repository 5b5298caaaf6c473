#include "modifiers/portable/mirror.h"

#include <emmintrin.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/portable/work_pool.h"
#include "base/portable/simd_level.h"

namespace qb::mirror {
namespace {

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void Store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// Whole units of `size` bytes, reversed: unit j of src to unit n - 1 - j.
template <std::size_t size>
void ReverseUnits(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  const std::uint8_t* s = src + (n - 1) * size;
  for (std::size_t j = 0; j < n; ++j, s -= size, dst += size) std::memcpy(dst, s, size);
}

void ReverseBytes(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  std::size_t x = 0;
  for (; x + 8 <= n; x += 8) {
    std::uint64_t v;
    std::memcpy(&v, src + n - x - 8, 8);
    v = __builtin_bswap64(v);
    std::memcpy(dst + x, &v, 8);
  }
  for (; x < n; ++x) dst[x] = src[n - 1 - x];
}

// 24-bit pixels four at a time as three little-endian words: source
// pixels a b c d (words A = a0 a1 a2 b0, B = b1 b2 c0 c1, C = c2 d0 d1 d2)
// become d c b a.
void Reverse24(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  std::size_t x = 0;
  for (; x + 4 <= n; x += 4, dst += 12) {
    const std::uint8_t* s = src + 3 * (n - x - 4);
    const std::uint32_t a = Load32(s), b = Load32(s + 4), c = Load32(s + 8);
    const std::uint32_t pa = a & 0xFFFFFF, pb = (a >> 24) | ((b & 0xFFFF) << 8);
    const std::uint32_t pc = (b >> 16) | ((c & 0xFF) << 16), pd = c >> 8;
    Store32(dst, pd | (pc << 24));
    Store32(dst + 4, (pc >> 8) | (pb << 16));
    Store32(dst + 8, (pb >> 16) | (pa << 8));
  }
  if (x < n) ReverseUnits<3>(src, dst, n - x);
}

#if defined(__x86_64__) || defined(__i386__)
#define QB_HAVE_AVX2_PATH 1
// The same sixteen pixels (48 bytes) at a time with byte shuffles: output
// byte j is source byte 45 - 3 (j / 3) + j % 3, so output vector q is made
// of the bytes of source vector r that kReverse24.m[q][r] names (-128:
// none).
struct Reverse24Masks {
  alignas(16) std::int8_t m[3][3][16];
};
constexpr Reverse24Masks MakeReverse24Masks() {
  Reverse24Masks t{};
  for (int q = 0; q < 3; ++q)
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 16; ++k) {
        const int j = 16 * q + k, from = 45 - 3 * (j / 3) + j % 3 - 16 * r;
        t.m[q][r][k] = static_cast<std::int8_t>(from >= 0 && from < 16 ? from : -128);
      }
  return t;
}
constexpr Reverse24Masks kReverse24 = MakeReverse24Masks();

template <bool kStream>
QB_AVX2_ENTRY void Reverse24Vector(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  if (kStream) {  // the first few output pixels one by one, up to a 16-byte boundary
    std::size_t lead = 0;
    while (lead < n && (reinterpret_cast<std::uintptr_t>(dst + 3 * lead) & 15) != 0) ++lead;
    Reverse24(src + 3 * (n - lead), dst, lead);
    dst += 3 * lead;
    n -= lead;
  }
  __m128i mask[3][3];
  for (int q = 0; q < 3; ++q)
    for (int r = 0; r < 3; ++r) mask[q][r] = _mm_load_si128(reinterpret_cast<const __m128i*>(kReverse24.m[q][r]));
  std::size_t x = 0;
  for (; x + 16 <= n; x += 16, dst += 48) {
    const std::uint8_t* s = src + 3 * (n - x - 16);
    const __m128i v[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32))};
    for (int q = 0; q < 3; ++q) {
      const __m128i out =
          _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v[0], mask[q][0]), _mm_shuffle_epi8(v[1], mask[q][1])),
                       _mm_shuffle_epi8(v[2], mask[q][2]));
      if (kStream) _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 16 * q), out);
      else _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * q), out);
    }
  }
  if (x < n) Reverse24(src, dst, n - x);  // the source's first pixels, last in the row
}
#endif

// Pixels of `bits` (1 or 4) packed from the high end of each byte; the row
// `dst` starts zeroed.
void ReversePacked(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, unsigned bits) {
  const unsigned perByte = 8 / bits, mask = (1u << bits) - 1;
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t x = n - 1 - j;
    const unsigned from = 8 - bits * (1 + static_cast<unsigned>(j % perByte));
    const unsigned to = 8 - bits * (1 + static_cast<unsigned>(x % perByte));
    const unsigned value = (src[j / perByte] >> from) & mask;
    dst[x / perByte] = static_cast<std::uint8_t>((dst[x / perByte] & ~(mask << to)) | (value << to));
  }
}

void CopyStreaming(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  const std::size_t head = std::min(n, (16 - (reinterpret_cast<std::uintptr_t>(dst) & 15)) & 15);
  std::memcpy(dst, src, head);
  std::size_t i = head;
  for (; i + 64 <= n; i += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 48), d);
  }
  for (; i + 16 <= n; i += 16) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
  }
  std::memcpy(dst + i, src + i, n - i);
}

#if defined(QB_HAVE_AVX2_PATH)
// The same with 32-byte stores, which some processors combine much better.
QB_AVX2_ENTRY void CopyStreamingAvx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  const std::size_t head = std::min(n, (32 - (reinterpret_cast<std::uintptr_t>(dst) & 31)) & 31);
  std::memcpy(dst, src, head);
  std::size_t i = head;
  for (; i + 128 <= n; i += 128) {
    for (std::size_t k = 0; k < 128; k += 32) {
      _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i + k),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + k)));
    }
  }
  for (; i + 32 <= n; i += 32) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)));
  }
  std::memcpy(dst + i, src + i, n - i);
}
#endif

}  // namespace

void MirrorLeftRight(dib::ConstImageView source, dib::ImageView result, std::uint16_t bitCount, Stores stores) {
  const std::size_t n = static_cast<std::size_t>(source.width());
  const std::size_t stride = result.stride();
  const std::size_t used = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32
                               ? std::min(stride, (n * bitCount + 7) / 8)
                               : 0;
  auto reverse24 = Reverse24;
  bool streamed = false;
#ifdef QB_HAVE_AVX2_PATH
  if (simd::Current() == simd::Level::kAvx2) {
    streamed = stores == Stores::kStreamed;
    reverse24 = streamed ? Reverse24Vector<true> : Reverse24Vector<false>;
  }
#endif
  work::ForEachRowBand(source.width(), result.height(), [&](std::int32_t first, std::int32_t count) {
    for (std::int32_t y = first; y < first + count; ++y) {
      const std::uint8_t* src = source.Row(y);
      std::uint8_t* dst = result.Row(y);
      if (bitCount < 8 || used == 0) {
        std::memset(dst, 0, stride);
      } else {
        std::memset(dst + used, 0, stride - used);
      }
      switch (bitCount) {
        case 1: ReversePacked(src, dst, n, 1); break;
        case 4: ReversePacked(src, dst, n, 4); break;
        case 8: ReverseBytes(src, dst, n); break;
        case 16: ReverseUnits<2>(src, dst, n); break;
        case 24: reverse24(src, dst, n); break;
        case 32: ReverseUnits<4>(src, dst, n); break;
        default: break;
      }
    }
    if (streamed) _mm_sfence();  // each band's streamed stores, by the thread that made them
  });
}

void CopyPastCaches(const std::uint8_t* source, std::uint8_t* target, std::size_t bytes) {
#ifdef QB_HAVE_AVX2_PATH
  if (simd::Current() == simd::Level::kAvx2) {
    CopyStreamingAvx2(source, target, bytes);
    _mm_sfence();
    return;
  }
#endif
  CopyStreaming(source, target, bytes);
  _mm_sfence();
}

void MirrorTopBottom(dib::ConstImageView source, dib::ImageView result, Stores stores) {
  const std::int32_t h = result.height();
  const std::size_t stride = result.stride();
  if (stores == Stores::kCached && stride * static_cast<std::size_t>(h) < kStreamingBytes) {
    work::ForEachRowBand(result.width(), h, [&](std::int32_t first, std::int32_t count) {
      for (std::int32_t y = first; y < first + count; ++y) std::memcpy(result.Row(h - 1 - y), source.Row(y), stride);
    });
    return;
  }
  auto copy = CopyStreaming;
#ifdef QB_HAVE_AVX2_PATH
  if (simd::Current() == simd::Level::kAvx2) copy = CopyStreamingAvx2;
#endif
  // Each band's streamed stores are fenced by the thread that made them.
  work::ForEachRowBand(result.width(), h, [&](std::int32_t first, std::int32_t count) {
    for (std::int32_t y = first; y < first + count; ++y) copy(source.Row(y), result.Row(h - 1 - y), stride);
    _mm_sfence();
  });
}

dib::DibStatus MirrorDib(std::span<const std::uint8_t> source, std::span<std::uint8_t> result,
                         std::int32_t direction) {
  if (direction != kLeftRight && direction != kTopBottom) {
    if (result.size() != source.size()) return dib::DibStatus::kRowsPastBlock;
    if (!source.empty()) std::memcpy(result.data(), source.data(), source.size());
    return dib::DibStatus::kOk;
  }
  dib::DibLayout layout;
  const dib::DibStatus status = dib::Validate(source, dib::kAllDepths, layout);
  if (status != dib::DibStatus::kOk) return status;
  if (result.size() != source.size()) return dib::DibStatus::kRowsPastBlock;
  // Header and table copied, every row byte written below, the slack 0.
  std::memcpy(result.data(), source.data(), layout.pixelOffset);
  const std::size_t rowsEnd = static_cast<std::size_t>(layout.pixelOffset) + layout.imageBytes;
  std::memset(result.data() + rowsEnd, 0, result.size() - rowsEnd);
  const dib::ConstImageView from = dib::PixelsOf(source.data(), layout);
  const dib::ImageView to = dib::PixelsOf(result.data(), layout);
  if (direction == kLeftRight) {
    MirrorLeftRight(from, to, layout.bitCount, layout.imageBytes >= kStreamingBytes ? Stores::kStreamed : Stores::kCached);
  } else {
    MirrorTopBottom(from, to);
  }
  return dib::DibStatus::kOk;
}

}  // namespace qb::mirror
