// Rotate: a picture turned clockwise as seen, by whole degrees.
//
// Quarter turns move pixels without touching them, so four of them give the
// picture back bit for bit. Any other angle samples the source backwards
// from each output pixel with bilinear interpolation, onto a canvas just
// large enough for the turned picture; the source counts as white outside
// its edges, so the corners it leaves uncovered are white and its edges are
// blended into them over about a pixel instead of showing a staircase.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/portable/work_pool.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/raster.h"

namespace rastrum {

namespace dib = qb::dib;

namespace {

// Sine and cosine of a whole number of degrees from plain arithmetic, so
// that both builds sample the same places whatever their maths library.
// The angle is brought into 0..45 degrees by the symmetries of the circle,
// exactly, and the series are summed there, where their 12th terms are
// already below a double's precision.
struct SinCos {
  double sin = 0;
  double cos = 1;
};

SinCos SinCosOfDegrees(int32_t degrees) {
  int32_t d = degrees % 360;
  if (d < 0) d += 360;
  const int quadrant = d / 90;
  int32_t inQuadrant = d % 90;
  const bool swap = inQuadrant > 45;
  if (swap) inQuadrant = 90 - inQuadrant;
  const double x = inQuadrant * 3.14159265358979323846 / 180.0;
  double s = 0, c = 0, term = x;
  for (int n = 1; n < 24; n += 2) {  // x - x^3/3! + x^5/5! ...
    s += term;
    term *= -x * x / ((n + 1) * (n + 2));
  }
  term = 1;
  for (int n = 0; n < 24; n += 2) {  // 1 - x^2/2! + x^4/4! ...
    c += term;
    term *= -x * x / ((n + 1) * (n + 2));
  }
  if (swap) std::swap(s, c);
  switch (quadrant) {
    case 1: return {c, -s};
    case 2: return {-s, -c};
    case 3: return {-c, s};
    default: return {s, c};
  }
}

// One pixel's three bytes.
inline void CopyPixel(uint8_t* to, const uint8_t* from) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

// Four bytes from `from` to `to`: a pixel and the first byte of the next,
// which its own copy overwrites later.
inline void CopyPixelAndOne(uint8_t* to, const uint8_t* from) {
  uint32_t v;
  std::memcpy(&v, from, 4);
  std::memcpy(to, &v, 4);
}

// A quarter turn clockwise (90 degrees) or counter-clockwise (270): output
// row y is source column y (clockwise, read bottom to top) or column
// w - 1 - y (read top to bottom). Output rows yBegin .. yEnd - 1, in bands
// of eight over chunks of source rows: a band's 24 neighbouring bytes of
// each row of the chunk are read from memory once, for the first of its
// rows, and from the cache for the other seven and the next band.
void TurnRows(const dib::ConstImageView& src, const dib::ImageView& dst, bool clockwise, int32_t yBegin,
              int32_t yEnd) {
  constexpr int32_t kBand = 8, kChunk = 256;
  const int32_t w = src.width(), h = src.height(), outW = dst.width();
  const ptrdiff_t down = h > 1 ? src.Row(1) - src.Row(0) : 0;  // from a source row to the one below
  const ptrdiff_t step = clockwise ? -down : down;
  for (int32_t x0 = 0; x0 < outW; x0 += kChunk) {
    const int32_t x1 = std::min(x0 + kChunk, outW);
    for (int32_t y = yBegin; y < yEnd; y += kBand) {
      const int32_t n = std::min(kBand, yEnd - y);
      // The n source columns side by side, leftmost first.
      const int32_t firstColumn = clockwise ? y : w - (y + n);
      const uint8_t* in = src.Row(clockwise ? h - 1 - x0 : x0) + static_cast<size_t>(firstColumn) * 3;
      // Each of the n output rows in turn along the chunk: the chunk's
      // source bytes stay in the first-level cache for the next row.
      for (int32_t k = 0; k < n; ++k) {
        uint8_t* out = dst.Row(y + k) + static_cast<size_t>(x0) * 3;
        const uint8_t* from = in + 3 * (clockwise ? k : n - 1 - k);
        int32_t x = x0;
        // Four-byte moves while neither the read passes the source row's
        // last pixel nor the write the output row's.
        if (firstColumn + n < w) {
          for (const int32_t fastEnd = std::min(x1, outW - 1); x < fastEnd; ++x, out += 3, from += step)
            CopyPixelAndOne(out, from);
        }
        for (; x < x1; ++x, out += 3, from += step) CopyPixel(out, from);
      }
    }
  }
}

// The quarter turns on the pool, in ranges of whole bands of eight output
// rows.
void QuarterTurn(const dib::ConstImageView& src, const dib::ImageView& dst, bool clockwise) {
  constexpr int32_t kBand = 8;
  const int64_t bands = (dst.height() + kBand - 1) / kBand;
  const int64_t grain = std::max<int64_t>(1, qb::work::RowGrain(dst.width(), dst.height()) / kBand);
  qb::work::ForEachRange(bands, grain, [&](int64_t begin, int64_t end) {
    TurnRows(src, dst, clockwise, static_cast<int32_t>(begin) * kBand,
             static_cast<int32_t>(std::min<int64_t>(end * kBand, dst.height())));
  });
}

// A half turn: output row y is source row h - 1 - y read right to left.
void HalfTurn(const dib::ConstImageView& src, const dib::ImageView& dst) {
  const int32_t w = src.width(), h = src.height();
  qb::work::ForEachRowBand(w, h, [&](int32_t first, int32_t count) {
    for (int32_t y = first; y < first + count; ++y) {
      const uint8_t* in = src.Row(h - 1 - y) + static_cast<size_t>(w) * 3;
      uint8_t* out = dst.Row(y);
      for (int32_t x = 0; x < w; ++x, out += 3) CopyPixel(out, in -= 3);
    }
  });
}

// Positions are fixed point with 32 fractional bits: stepping one output
// pixel adds a rounded sine or cosine, and over the widest picture the
// rounding adds up to less than 1/100000 of a pixel. Interpolation weights
// use the top 8 fractional bits.
constexpr int kFracBits = 32;
constexpr double kFixedOne = 4294967296.0;

struct Bgr {
  uint32_t b, g, r;
};

// Source pixel (x, y), or white outside the picture.
Bgr PixelOrWhite(const dib::ConstImageView& src, int64_t x, int64_t y) {
  if (x < 0 || y < 0 || x >= src.width() || y >= src.height()) return {255, 255, 255};
  const uint8_t* p = src.Row(static_cast<int32_t>(y)) + static_cast<size_t>(x) * 3;
  return {p[0], p[1], p[2]};
}

#if defined(__SSE2__)
// The bilinear blend of two neighbouring pixels at p0 and the two below
// them at p1, the three channels at once:
//   (p00 w00 + p10 w10 + p01 w01 + p11 w11 + 32768) >> 16
// with w00 = (256 - fx)(256 - fy) and so on, summed as
//   ((p00 (256 - fx) + p10 fx) (256 - fy) + (p01 (256 - fx) + p11 fx) fy + 32768) >> 16,
// which is the same whole number: each row's sum fits 16 bits, the
// products with the vertical weights 32.
inline void BlendFour(const uint8_t* p0, const uint8_t* p1, uint32_t fx, uint32_t fy, uint8_t* out) {
  const auto six = [](const uint8_t* p) {  // the six bytes, widened to 16 bits
    uint32_t first;
    uint16_t second;
    std::memcpy(&first, p, 4);
    std::memcpy(&second, p + 4, 2);
    return _mm_unpacklo_epi8(_mm_insert_epi16(_mm_cvtsi32_si128(static_cast<int>(first)), second, 2),
                             _mm_setzero_si128());
  };
  // Lanes 0-2 (the left pixel) weigh 256 - fx, lanes 3-5 (the right) fx.
  const auto w = [](uint32_t v) { return static_cast<int16_t>(v); };
  const __m128i weights = _mm_set_epi16(0, 0, w(fx), w(fx), w(fx), w(256 - fx), w(256 - fx), w(256 - fx));
  const __m128i t0 = _mm_mullo_epi16(six(p0), weights), t1 = _mm_mullo_epi16(six(p1), weights);
  const __m128i a = _mm_add_epi16(t0, _mm_srli_si128(t0, 6));  // lanes 0-2: the upper row's sums
  const __m128i b = _mm_add_epi16(t1, _mm_srli_si128(t1, 6));
  const __m128i up = _mm_set1_epi16(static_cast<int16_t>(256 - fy)), low = _mm_set1_epi16(static_cast<int16_t>(fy));
  const __m128i products =
      _mm_add_epi32(_mm_unpacklo_epi16(_mm_mullo_epi16(a, up), _mm_mulhi_epu16(a, up)),
                    _mm_unpacklo_epi16(_mm_mullo_epi16(b, low), _mm_mulhi_epu16(b, low)));
  const __m128i blended = _mm_srli_epi32(_mm_add_epi32(products, _mm_set1_epi32(32768)), 16);
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(blended, blended), blended);
  const uint32_t v = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
  out[2] = static_cast<uint8_t>(v >> 16);
}
#endif

void RotateFree(const dib::ConstImageView& src, const dib::ImageView& dst, SinCos sc) {
  const int32_t w = src.width(), h = src.height();
  // Output pixel centres, measured from the output's centre and turned back,
  // land on source positions measured from the source's centre; positions
  // are in source pixel units with pixel i's centre at i.
  const double halfOutW = dst.width() / 2.0, halfOutH = dst.height() / 2.0;
  const double halfW = w / 2.0 - 0.5, halfH = h / 2.0 - 0.5;
  const int64_t stepX = std::llround(sc.cos * kFixedOne);
  const int64_t stepY = std::llround(-sc.sin * kFixedOne);
  // Source row iy starts at row0 + iy * down.
  const uint8_t* const row0 = src.Row(0);
  const ptrdiff_t down = h > 1 ? src.Row(1) - src.Row(0) : 0;
  // Where output row y starts in the source, and its run of pixels
  // [inside, beyond) whose four samples all lie inside the source.
  struct RowStart {
    int64_t sx, sy;
    int32_t inside, beyond;
  };
  const auto rowStart = [&](int32_t y) {
    const double dx = 0.5 - halfOutW;
    const double dy = y + 0.5 - halfOutH;
    RowStart r;
    r.sx = std::llround((dx * sc.cos + dy * sc.sin + halfW) * kFixedOne);
    r.sy = std::llround((-dx * sc.sin + dy * sc.cos + halfH) * kFixedOne);
    // The positions move along a line, so the pixels inside are one run:
    // found from a floating estimate, then checked at both of its ends.
    const auto within = [&](int32_t x) {
      const int64_t ix = (r.sx + x * stepX) >> kFracBits, iy = (r.sy + x * stepY) >> kFracBits;
      return ix >= 0 && iy >= 0 && ix + 1 < w && iy + 1 < h;
    };
    double lo = 0, hi = dst.width();
    const auto clip = [&](double start, double step, double limit) {  // 0 <= start + x step < limit
      if (step == 0) {
        if (start < 0 || start >= limit) hi = lo;
        return;
      }
      double a = -start / step, b = (limit - start) / step;
      if (a > b) std::swap(a, b);
      lo = std::max(lo, a);
      hi = std::min(hi, b);
    };
    clip(static_cast<double>(r.sx) / kFixedOne, static_cast<double>(stepX) / kFixedOne, w - 1);
    clip(static_cast<double>(r.sy) / kFixedOne, static_cast<double>(stepY) / kFixedOne, h - 1);
    r.inside = static_cast<int32_t>(std::clamp(std::ceil(lo), 0.0, static_cast<double>(dst.width())));
    r.beyond = static_cast<int32_t>(std::clamp(std::floor(hi), 0.0, static_cast<double>(dst.width())));
    while (r.inside < r.beyond && !within(r.inside)) ++r.inside;
    while (r.beyond > r.inside && !within(r.beyond - 1)) --r.beyond;
    return r;
  };
  // Output pixels x0 .. x1 - 1 of row y.
  const auto sampleRun = [&](const RowStart& r, int32_t y, int32_t x0, int32_t x1) {
    int64_t sx = r.sx + x0 * stepX, sy = r.sy + x0 * stepY;
    uint8_t* out = dst.Row(y) + static_cast<size_t>(x0) * 3;
    for (int32_t x = x0; x < x1; ++x, out += 3, sx += stepX, sy += stepY) {
      const uint32_t fx = static_cast<uint32_t>(sx >> (kFracBits - 8)) & 255;
      const uint32_t fy = static_cast<uint32_t>(sy >> (kFracBits - 8)) & 255;
      const uint32_t w00 = (256 - fx) * (256 - fy), w10 = fx * (256 - fy);
      const uint32_t w01 = (256 - fx) * fy, w11 = fx * fy;
      if (x >= r.inside && x < r.beyond) {
        const uint8_t* p0 = row0 + static_cast<ptrdiff_t>(sy >> kFracBits) * down +
                            static_cast<ptrdiff_t>(sx >> kFracBits) * 3;
        const uint8_t* p1 = p0 + down;
#if defined(__SSE2__)
        BlendFour(p0, p1, fx, fy, out);
#else
        for (int c = 0; c < 3; ++c) {
          out[c] = static_cast<uint8_t>(
              (p0[c] * w00 + p0[c + 3] * w10 + p1[c] * w01 + p1[c + 3] * w11 + 32768) >> 16);
        }
#endif
        continue;
      }
      const int64_t ix = sx >> kFracBits, iy = sy >> kFracBits;
      if (ix < -1 || iy < -1 || ix >= w || iy >= h) {
        out[0] = out[1] = out[2] = 255;
        continue;
      }
      const Bgr a = PixelOrWhite(src, ix, iy), b = PixelOrWhite(src, ix + 1, iy);
      const Bgr c = PixelOrWhite(src, ix, iy + 1), d = PixelOrWhite(src, ix + 1, iy + 1);
      out[0] = static_cast<uint8_t>((a.b * w00 + b.b * w10 + c.b * w01 + d.b * w11 + 32768) >> 16);
      out[1] = static_cast<uint8_t>((a.g * w00 + b.g * w10 + c.g * w01 + d.g * w11 + 32768) >> 16);
      out[2] = static_cast<uint8_t>((a.r * w00 + b.r * w10 + c.r * w01 + d.r * w11 + 32768) >> 16);
    }
  };
  // In tiles of output pixels, so that what a tile reads of the source (a
  // slanted patch of it) is a few hundred rows' worth of a few hundred
  // bytes, in the cache and the address translation's reach; a whole
  // output row would touch thousands of source rows.
  constexpr int32_t kTileRows = 32, kTileColumns = 256;
  qb::work::ForEachRowBand(dst.width(), dst.height(), [&](int32_t first, int32_t count) {
    RowStart starts[kTileRows];
    for (int32_t y0 = first; y0 < first + count; y0 += kTileRows) {
      const int32_t rows = std::min(kTileRows, first + count - y0);
      for (int32_t k = 0; k < rows; ++k) starts[k] = rowStart(y0 + k);
      for (int32_t x0 = 0; x0 < dst.width(); x0 += kTileColumns) {
        const int32_t x1 = std::min(x0 + kTileColumns, dst.width());
        for (int32_t k = 0; k < rows; ++k) sampleRun(starts[k], y0 + k, x0, x1);
      }
    }
  });
}

// The canvas that holds a w x h picture turned by the angle: the turned
// picture's bounding box, rounded up to whole pixels. The bound is eased by
// a millionth of a pixel so that a side which is a whole number in exact
// arithmetic is not pushed one pixel further by a last-bit error.
bool CanvasFor(int32_t w, int32_t h, SinCos sc, int32_t& outW, int32_t& outH) {
  const double c = std::fabs(sc.cos), s = std::fabs(sc.sin);
  const double cw = std::ceil(w * c + h * s - 1e-6);
  const double ch = std::ceil(w * s + h * c - 1e-6);
  if (cw > 0x7FFFFFFF || ch > 0x7FFFFFFF) return false;
  outW = std::max(1, static_cast<int32_t>(cw));
  outH = std::max(1, static_cast<int32_t>(ch));
  return true;
}

}  // namespace

int Rotate(std::span<const uint8_t> block, int32_t angle, BlockAllocator& out) {
  return OutOfMemoryGuarded([&]() -> int {
    int32_t degrees = angle % 360;
    if (degrees < 0) degrees += 360;
    if (const auto alpha = OpenAlpha(block)) {
      // The uncovered corners of a picture with alpha are transparent.
      return ThroughAlphaPlanes(
          *alpha, degrees % 90 == 0 ? ColourPlane::kStraight : ColourPlane::kPremultiplied,
          [&](std::span<const uint8_t> plane, BlockAllocator& o) { return Rotate(plane, angle, o); }, out);
    }
    Source24 source;
    if (int rc = source.Open(block); rc != kOk) return rc;
    const dib::ConstImageView src = source.pixels();
    const int32_t w = src.width(), h = src.height();

    const SinCos sc = SinCosOfDegrees(degrees);
    int32_t outW = w, outH = h;
    if (degrees == 90 || degrees == 270) {
      outW = h;
      outH = w;
    } else if (degrees % 90 != 0 && !CanvasFor(w, h, sc, outW, outH)) {
      return kTooLarge;
    }

    NewBlock result;
    if (int rc = MakeBlock24(out, outW, outH, source.xPelsPerMeter(), source.yPelsPerMeter(), result);
        rc != kOk) {
      return rc;
    }
    const dib::ImageView& dst = result.pixels;
    switch (degrees) {
      case 0:
        qb::work::ForEachRowBand(w, h, [&](int32_t first, int32_t count) {
          for (int32_t y = first; y < first + count; ++y)
            std::memcpy(dst.Row(y), src.Row(y), static_cast<size_t>(w) * 3);
        });
        break;
      case 90:  // the left column becomes the top row
        QuarterTurn(src, dst, true);
        break;
      case 180:
        HalfTurn(src, dst);
        break;
      case 270:  // the right column becomes the top row
        QuarterTurn(src, dst, false);
        break;
      default:
        RotateFree(src, dst, sc);
        break;
    }
    return kOk;
  });
}

}  // namespace rastrum
