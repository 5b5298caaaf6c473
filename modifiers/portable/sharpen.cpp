#include "modifiers/portable/sharpen.h"

#include <emmintrin.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/portable/work_pool.h"
#include "base/portable/simd_level.h"

namespace qb::sharpen {
namespace {

// A sum this large saturates the result at any level above 0:
// (2^24 - 255) / 10 is far above 255. Capping there keeps the blend's
// product (at most 2^24 x 2^31) inside 64 bits.
constexpr std::int64_t kSumCap = std::int64_t{1} << 24;

std::uint8_t Blend(std::int64_t s, int c, std::int32_t level) {
  std::int64_t v;
  if (level == 10) {
    v = s;
  } else {
    v = c + (std::min(s, kSumCap) - c) * level / 10;
  }
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

void CopyRows(dib::ConstImageView source, dib::ImageView result) {
  for (std::int32_t y = 0; y < result.height(); ++y) std::memcpy(result.Row(y), source.Row(y), result.stride());
}

// The standard kernel is 10 x centre - (sum of the 3x3 block), per channel
// byte k of a row: the block's bytes are k - 3, k, k + 3 of three rows.
// With that sum s the blend c + (s - c) x level / 10 saturates once
// |s - c| x level reaches 2560 (c + 256 > 255, c - 256 < 0). So the vector
// code caps the level at 2560 and |s - c| at ceil(2560 / level): every
// product then fits 16 bits and every result is the same.
struct RowParams {
  std::int32_t level;      // the caller's, for the byte-by-byte tail
  std::int16_t capLevel;   // min(level, 2560)
  std::int16_t capDiff;    // ceil(2560 / capLevel)
};

RowParams MakeRowParams(std::int32_t level) {
  const std::int32_t capLevel = std::min<std::int32_t>(level, 2560);
  return {level, static_cast<std::int16_t>(capLevel),
          static_cast<std::int16_t>((2560 + capLevel - 1) / capLevel)};
}

// Byte k of an interior row, the plain way.
inline std::uint8_t SharpenByte(const std::uint8_t* above, const std::uint8_t* row, const std::uint8_t* below,
                                std::size_t k, std::int32_t level) {
  const int block = above[k - 3] + above[k] + above[k + 3] + row[k - 3] + row[k] + row[k + 3] + below[k - 3] +
                    below[k] + below[k + 3];
  const int sum = 10 * row[k] - block;
  return Blend(sum < 0 ? 0 : sum, row[k], level);
}

// The blend on eight 16-bit lanes: centre c, block sum `block`.
inline __m128i BlendLanes(__m128i c, __m128i block, __m128i capLevel, __m128i capDiff) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i sum = _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(c, 3), _mm_slli_epi16(c, 1)), block);
  const __m128i s = _mm_max_epi16(sum, zero);  // a negative sum counts as 0
  __m128i diff = _mm_sub_epi16(s, c);
  diff = _mm_min_epi16(_mm_max_epi16(diff, _mm_sub_epi16(zero, capDiff)), capDiff);
  const __m128i x = _mm_mullo_epi16(diff, capLevel);
  // x / 10 truncated toward zero, for every 16-bit x.
  const __m128i q = _mm_sub_epi16(_mm_srai_epi16(_mm_mulhi_epi16(x, _mm_set1_epi16(26215)), 2), _mm_srai_epi16(x, 15));
  return _mm_add_epi16(c, q);
}

void SharpenRowSse2(const std::uint8_t* above, const std::uint8_t* row, const std::uint8_t* below,
                    std::uint8_t* out, std::size_t end, const RowParams& p) {
  // Interior bytes 3 .. end - 1 (end = 3 x (width - 1)); 16 at a time, the
  // last 16 overlapping the ones before.
  const __m128i zero = _mm_setzero_si128();
  const __m128i capLevel = _mm_set1_epi16(p.capLevel), capDiff = _mm_set1_epi16(p.capDiff);
  auto load = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  auto sixteen = [&](std::size_t k) {
    __m128i lo = zero, hi = zero;
    for (const std::uint8_t* r : {above, row, below}) {
      for (std::ptrdiff_t dx : {-3, 0, 3}) {
        const __m128i v = load(r + k + dx);
        lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
        hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
      }
    }
    const __m128i c = load(row + k);
    const __m128i a = BlendLanes(_mm_unpacklo_epi8(c, zero), lo, capLevel, capDiff);
    const __m128i b = BlendLanes(_mm_unpackhi_epi8(c, zero), hi, capLevel, capDiff);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(a, b));
  };
  if (end < 3 + 16) {
    for (std::size_t k = 3; k < end; ++k) out[k] = SharpenByte(above, row, below, k, p.level);
    return;
  }
  std::size_t k = 3;
  for (; k + 16 <= end; k += 16) sixteen(k);
  if (k < end) sixteen(end - 16);
}

#if defined(__x86_64__) || defined(__i386__)
#define QB_HAVE_AVX2_PATH 1

#define QB_AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

QB_AVX2_INLINE __m256i Widen(const std::uint8_t* q) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}

// Bytes k .. k + 15 of an interior row, as in SharpenRowSse2.
QB_AVX2_INLINE __m128i SixteenAvx2(const std::uint8_t* above, const std::uint8_t* row, const std::uint8_t* below,
                                   std::size_t k, __m256i capLevel, __m256i capDiff) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i block = _mm256_add_epi16(_mm256_add_epi16(Widen(above + k - 3), Widen(above + k)), Widen(above + k + 3));
  block = _mm256_add_epi16(block, _mm256_add_epi16(_mm256_add_epi16(Widen(row + k - 3), Widen(row + k)), Widen(row + k + 3)));
  block = _mm256_add_epi16(block, _mm256_add_epi16(_mm256_add_epi16(Widen(below + k - 3), Widen(below + k)), Widen(below + k + 3)));
  const __m256i c = Widen(row + k);
  const __m256i sum = _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(c, 3), _mm256_slli_epi16(c, 1)), block);
  __m256i diff = _mm256_sub_epi16(_mm256_max_epi16(sum, zero), c);
  diff = _mm256_min_epi16(_mm256_max_epi16(diff, _mm256_sub_epi16(zero, capDiff)), capDiff);
  const __m256i x = _mm256_mullo_epi16(diff, capLevel);
  const __m256i q = _mm256_sub_epi16(_mm256_srai_epi16(_mm256_mulhi_epi16(x, _mm256_set1_epi16(26215)), 2),
                                     _mm256_srai_epi16(x, 15));
  const __m256i v = _mm256_add_epi16(c, q);
  return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

QB_AVX2_ENTRY void SharpenRowAvx2(const std::uint8_t* above, const std::uint8_t* row,
                                                    const std::uint8_t* below, std::uint8_t* out, std::size_t end,
                                                    const RowParams& p) {
  if (end < 3 + 32) {
    SharpenRowSse2(above, row, below, out, end, p);
    return;
  }
  const __m256i capLevel = _mm256_set1_epi16(p.capLevel), capDiff = _mm256_set1_epi16(p.capDiff);
  // 32 bytes a step, as two independent halves; then the rest 16 at a
  // time, the last 16 overlapping the ones before.
  std::size_t k = 3;
  for (; k + 32 <= end; k += 32) {
    const __m128i a = SixteenAvx2(above, row, below, k, capLevel, capDiff);
    const __m128i b = SixteenAvx2(above, row, below, k + 16, capLevel, capDiff);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k + 16), b);
  }
  for (; k < end; k += 16) {
    const std::size_t at = std::min(k, end - 16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), SixteenAvx2(above, row, below, at, capLevel, capDiff));
  }
}
#endif

}  // namespace

ChannelSums Convolve3x3(dib::ConstImageView pixels, std::int32_t row, std::int32_t col,
                        const SharpenKernel& kernel) {
  std::int64_t sums[3] = {0, 0, 0};
  int tap = 0;
  for (std::int32_t dy = -1; dy <= 1; ++dy) {
    const std::uint8_t* p = pixels.Row(row + dy) + 3 * static_cast<std::size_t>(col - 1);
    for (int dx = 0; dx < 3; ++dx, ++tap, p += 3) {
      for (int ch = 0; ch < 3; ++ch) sums[ch] += static_cast<std::int64_t>(kernel.weights[tap]) * p[ch];
    }
  }
  for (std::int64_t& s : sums) {
    if (kernel.divisor != 1 && kernel.divisor != 0) s /= kernel.divisor;
    if (s < 0) s = 0;
  }
  return {sums[0], sums[1], sums[2]};
}

void SharpenReference(dib::ConstImageView source, dib::ImageView result, std::int32_t level,
                      const SharpenKernel& kernel) {
  CopyRows(source, result);
  if (level <= 0) return;
  const std::int32_t width = source.width(), height = source.height();
  for (std::int32_t i = 1; i + 1 < height; ++i) {
    const std::uint8_t* c = source.Row(i);
    std::uint8_t* out = result.Row(i);
    for (std::int32_t j = 1; j + 1 < width; ++j) {
      const ChannelSums s = Convolve3x3(source, i, j, kernel);
      const std::size_t at = 3 * static_cast<std::size_t>(j);
      out[at] = Blend(s.b, c[at], level);
      out[at + 1] = Blend(s.g, c[at + 1], level);
      out[at + 2] = Blend(s.r, c[at + 2], level);
    }
  }
}

void Sharpen(dib::ConstImageView source, dib::ImageView result, std::int32_t level, const SharpenKernel& kernel) {
  const std::int32_t width = source.width(), height = source.height();
  if (level <= 0 || !(kernel == kSharpenKernel) || width < 3 || height < 3) {
    SharpenReference(source, result, level, kernel);
    return;
  }
  const RowParams params = MakeRowParams(level);
  const std::size_t end = 3 * static_cast<std::size_t>(width - 1);
  const std::size_t stride = result.stride();
#ifdef QB_HAVE_AVX2_PATH
  const bool avx2 = simd::Current() == simd::Level::kAvx2;
#endif
  // The first and last rows, and the first and last pixel and the padding
  // of every other row, keep the source's bytes.
  std::memcpy(result.Row(0), source.Row(0), stride);
  std::memcpy(result.Row(height - 1), source.Row(height - 1), stride);
  // Interior rows 1 .. height - 2 in bands on the pool.
  work::ForEachRowBand(width, height - 2, [&](std::int32_t first, std::int32_t count) {
    for (std::int32_t i = 1 + first; i < 1 + first + count; ++i) {
      std::uint8_t* out = result.Row(i);
      std::memcpy(out, source.Row(i), 3);
      std::memcpy(out + end, source.Row(i) + end, stride - end);
#ifdef QB_HAVE_AVX2_PATH
      if (avx2) {
        SharpenRowAvx2(source.Row(i - 1), source.Row(i), source.Row(i + 1), out, end, params);
        continue;
      }
#endif
      SharpenRowSse2(source.Row(i - 1), source.Row(i), source.Row(i + 1), out, end, params);
    }
  });
}

dib::DibStatus SharpenDib(std::span<const std::uint8_t> source, std::span<std::uint8_t> result,
                          std::int32_t level) {
  dib::DibLayout from, to;
  const dib::DibStatus status = dib::Validate(source, dib::kDepth24, from);
  if (status != dib::DibStatus::kOk) return status;
  if (dib::Validate(result, dib::kDepth24, to) != dib::DibStatus::kOk || to.width != from.width ||
      to.height != from.height || to.stride != from.stride || to.bottomUp != from.bottomUp) {
    return dib::DibStatus::kRowsPastBlock;
  }
  if (level <= 0) return dib::DibStatus::kOk;
  // Rows in memory order: the first stored row is the kernel's row before.
  const dib::ConstImageView in(source.data() + from.pixelOffset, from.width, from.height, from.stride, false);
  const dib::ImageView out(result.data() + to.pixelOffset, to.width, to.height, to.stride, false);
  Sharpen(in, out, level);
  return dib::DibStatus::kOk;
}

}  // namespace qb::sharpen
