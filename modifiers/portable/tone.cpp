#include "modifiers/portable/tone.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstddef>

#include "base/portable/work_pool.h"

namespace qb::tone {

uint8_t ShiftChannel(int ch, int offset) {
  return static_cast<uint8_t>(std::clamp<int64_t>(int64_t{ch} + offset, 0, 255));
}

uint8_t StretchChannel(int ch, int a) {
  a = ClampLevel(a);
  if (a >= 0) {
    const int lo = a;
    const int hi = 255 - a;
    // The factor is rounded to single precision: for a = 50 it comes out a
    // little above 155/255, so 81 maps to 50, not 51.
    const float f = static_cast<float>(hi - lo) / 255.0f;
    if (ch <= lo) return 0;
    if (ch >= hi) return 255;
    return static_cast<uint8_t>(static_cast<int>(static_cast<double>(ch - lo) / static_cast<double>(f)));
  }
  const float f = 255.0f / static_cast<float>((a + 255) + a);
  const int v = static_cast<int>(static_cast<double>(ch) / static_cast<double>(f)) - a;
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

Curve ShiftCurve(int offset) {
  Curve c;
  for (int i = 0; i < 256; ++i) c[i] = ShiftChannel(i, offset);
  return c;
}

Curve StretchCurve(int a) {
  Curve c;
  for (int i = 0; i < 256; ++i) c[i] = StretchChannel(i, a);
  return c;
}

int32_t ClampLevel(int32_t value) { return std::clamp<int32_t>(value, -50, 50); }

void ApplyCurve(dib::ImageView pixels, const Curve& curve) {
  const size_t bytes = static_cast<size_t>(pixels.width()) * 3;
  work::ForEachRowBand(pixels.width(), pixels.height(), [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      uint8_t* row = pixels.Row(y);
      for (size_t i = 0; i < bytes; ++i) row[i] = curve[row[i]];
    }
  });
}

namespace {

// Runs `vector` over each row 16 bytes at a time and finishes the tail of
// the row (fewer than 16 pixel bytes) through the table; a large picture's
// rows in bands on the pool.
template <class Vector>
void WalkRows(dib::ImageView pixels, const Curve& curve, Vector vector) {
  const size_t bytes = static_cast<size_t>(pixels.width()) * 3;
  work::ForEachRowBand(pixels.width(), pixels.height(), [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      uint8_t* row = pixels.Row(y);
      size_t i = 0;
      for (; i + 16 <= bytes; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), vector(v));
      }
      for (; i < bytes; ++i) row[i] = curve[row[i]];
    }
  });
}

// q(ch) = trunc(ch x m / 65536) for ch in 0..255, the 16-bit high product.
inline __m128i MulHighBytes(__m128i bytes, __m128i m) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(bytes, zero), m);
  __m128i hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(bytes, zero), m);
  return _mm_packus_epi16(lo, hi);
}

// Finds a 16-bit multiplier m with base + trunc(d x m / 65536) equal to
// want(d) for every d in 0..count-1, near the ideal `scale` (the part of
// the slope below 1 when base is d itself). Returns -1 when none matches.
template <class Want>
int FindMultiplier(double scale, int count, bool addD, Want want) {
  const int ideal = static_cast<int>(scale * 65536.0);
  for (int delta = 0; delta <= 64; ++delta) {
    for (int m : {ideal - delta, ideal + delta}) {
      if (m < 0 || m > 65535) continue;
      bool all = true;
      for (int d = 0; d < count && all; ++d) {
        const int q = (addD ? d : 0) + ((d * m) >> 16);
        all = q == want(d);
      }
      if (all) return m;
    }
  }
  return -1;
}

}  // namespace

void ShiftChannels(dib::ImageView pixels, int offset) {
  offset = std::clamp(offset, -255, 255);  // the same curve, and -offset exists
  const Curve curve = ShiftCurve(offset);
  if (offset >= 0) {
    const __m128i add = _mm_set1_epi8(static_cast<char>(std::min(offset, 255)));
    WalkRows(pixels, curve, [add](__m128i v) { return _mm_adds_epu8(v, add); });
  } else {
    const __m128i sub = _mm_set1_epi8(static_cast<char>(std::min(-offset, 255)));
    WalkRows(pixels, curve, [sub](__m128i v) { return _mm_subs_epu8(v, sub); });
  }
}

void StretchChannels(dib::ImageView pixels, int a) {
  a = ClampLevel(a);
  const Curve curve = StretchCurve(a);
  if (a == 0) return;  // the identity
  if (a > 0 && a < 128) {
    // ch <= lo: 0; lo < ch < hi: d + trunc(d x m / 65536) with d = ch - lo;
    // ch >= hi: 255.
    const int lo = a, hi = 255 - a;
    const int m = FindMultiplier(255.0 / (hi - lo) - 1.0, hi - lo, true,
                                 [&](int d) { return static_cast<int>(curve[lo + d]); });
    if (m >= 0 && 255.0 / (hi - lo) < 2.0) {
      const __m128i vlo = _mm_set1_epi8(static_cast<char>(lo));
      const __m128i vhi = _mm_set1_epi8(static_cast<char>(hi));
      const __m128i vm = _mm_set1_epi16(static_cast<short>(m));
      WalkRows(pixels, curve, [=](__m128i v) {
        __m128i d = _mm_subs_epu8(v, vlo);
        __m128i q = _mm_adds_epu8(d, MulHighBytes(d, vm));
        // Bytes at or above hi: max(v, hi) == v.
        __m128i top = _mm_cmpeq_epi8(_mm_max_epu8(v, vhi), v);
        return _mm_or_si128(q, top);
      });
      return;
    }
  } else if (a < 0 && a >= -127) {
    // trunc(ch x m / 65536) - a.
    const int m = FindMultiplier(static_cast<double>((a + 255) + a) / 255.0, 256, false,
                                 [&](int d) { return static_cast<int>(curve[d]) + a; });
    if (m >= 0) {
      const __m128i vm = _mm_set1_epi16(static_cast<short>(m));
      const __m128i add = _mm_set1_epi8(static_cast<char>(-a));
      WalkRows(pixels, curve, [=](__m128i v) { return _mm_adds_epu8(MulHighBytes(v, vm), add); });
      return;
    }
  }
  ApplyCurve(pixels, curve);
}

}  // namespace qb::tone
