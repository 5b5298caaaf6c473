// Resize: a picture resampled to an exact width and height.
//
// The work is separable: each output row is first made as a weighted sum of
// whole source rows, then resampled horizontally. Each axis has its own
// filter, chosen by whether that axis shrinks or grows, so a picture made
// wider and shorter is enlarged in one direction and reduced in the other:
//
//   mode 0 (high quality)  Lanczos-3 (sinc(t) sinc(t / 3), |t| < 3) centred
//                          where the output pixel's centre falls. Shrinking,
//                          the kernel is stretched by the reduction so that
//                          it removes what the smaller picture cannot hold
//                          (area averaging lets a fine grating through as
//                          false stripes). A reduction by more than 2 first
//                          averages whole blocks of k = floor(ratio / 2)
//                          source pixels (the last block padded with the edge
//                          pixel), and the stretched kernel runs over those
//                          block means: the cost stays near 13 taps per
//                          block however large the reduction, and the result
//                          is the one libvips' resize gives.
//   mode 1 (fast)          shrinking: the plain mean of the whole source
//                          pixels under each output pixel, its edges rounded
//                          down to whole pixels; enlarging: bilinear
//
// Taps past an edge repeat the edge pixel. The block means and the kernel
// are folded into one set of weights per output index, so each axis is one
// pass. Weights are fixed point, 14 bits, precomputed once per output column
// and per output row. They are rounded cumulatively, so each set sums to
// exactly 1: a flat colour stays exactly flat, whatever the filter. The
// vertical results keep 6 bits below the 8-bit level (16-bit values, room
// for the kernel's overshoot); only the final value is rounded and clamped
// to 0..255.
//
// Output rows are shared among the worker threads; each row is made from the
// source alone in integer arithmetic, the vector and plain loops summing the
// same products, so the bytes do not depend on the number of threads or on
// the processor.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <numbers>
#include <span>
#include <stdexcept>
#include <vector>

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

constexpr int kWeightBits = 14;
constexpr int32_t kWeightOne = 1 << kWeightBits;
constexpr int kExtraBits = 6;  // vertical results are levels * 64
constexpr int kVerticalShift = kWeightBits - kExtraBits;
constexpr int kHorizontalShift = kWeightBits + kExtraBits;
// int16 values after the last pixel of a vertical result: the horizontal
// pass reads taps in pairs, each as four values, so the pair that ends a
// window may read one pixel and one value past the row (with weight 0).
constexpr size_t kRowPadding = 8;

// The source indices and weights behind each output index of one axis: a
// window of `count` consecutive source indices from `start`, all inside the
// source (taps past an edge are folded onto the edge pixel). Each window's
// weights are padded with zeros to an even number of taps, as the passes
// take them in pairs.
struct AxisFilter {
  std::vector<int32_t> start;
  std::vector<int32_t> count;
  std::vector<int16_t> weights;  // maxTaps per output index
  int32_t maxTaps = 0;           // even

  const int16_t* WeightsOf(int32_t i) const {
    return weights.data() + static_cast<size_t>(i) * static_cast<size_t>(maxTaps);
  }
  int32_t PairsOf(int32_t i) const { return (count[static_cast<size_t>(i)] + 1) / 2; }
};

// One output index's window with real-valued weights, before quantising.
struct Window {
  int32_t start = 0;
  std::vector<double> weights;
};

enum class Kernel { kLanczos3, kBox, kBilinear };

double Lanczos3(double t) {
  if (t == 0) return 1;
  if (std::fabs(t) >= 3) return 0;
  const double x = std::numbers::pi * t;
  return 3 * std::sin(x) * std::sin(x / 3) / (x * x);
}

// Lanczos-3 for output index i. Enlarging (and at the same size) the kernel
// runs over the source pixels as they are. Shrinking by src / dst, the
// source is seen as blocks of k pixels (their mean), and the kernel,
// stretched by the remaining reduction f = src / (dst k), runs over the
// blocks; block b covers source pixels b k .. b k + k - 1, the last one
// padded with the edge pixel, so its centre is at b k + (k - 1) / 2 and
// output centres land at the same source positions with or without blocks.
void LanczosWindow(int64_t i, int64_t src, int64_t dst, Window& w) {
  const int64_t k = std::max<int64_t>(1, src / (2 * dst));
  const int64_t blocks = (src + k - 1) / k;
  const double f = static_cast<double>(src) / static_cast<double>(dst * k);
  const double stretch = std::max(f, 1.0);
  const double centre = (static_cast<double>(i) + 0.5) * f - 0.5;
  const auto lo = static_cast<int64_t>(std::floor(centre - 3 * stretch));
  const auto hi = static_cast<int64_t>(std::ceil(centre + 3 * stretch));
  const int64_t first = std::clamp<int64_t>(lo, 0, blocks - 1) * k;
  const int64_t last = std::min(std::clamp<int64_t>(hi, 0, blocks - 1) * k + k - 1, src - 1);
  w.start = static_cast<int32_t>(first);
  w.weights.assign(static_cast<size_t>(last - first + 1), 0.0);
  for (int64_t b = lo; b <= hi; ++b) {
    const double weight = Lanczos3((static_cast<double>(b) - centre) / stretch);
    if (weight == 0) continue;
    const int64_t block = std::clamp<int64_t>(b, 0, blocks - 1);
    for (int64_t j = block * k; j < block * k + k; ++j) {
      w.weights[static_cast<size_t>(std::min(j, src - 1) - first)] += weight;
    }
  }
}

// The source pixels from the one where output pixel i starts up to the one
// where the next output pixel starts, equally weighted.
void BoxWindow(int64_t i, int64_t src, int64_t dst, Window& w) {
  const int64_t first = i * src / dst, end = (i + 1) * src / dst;
  w.start = static_cast<int32_t>(first);
  w.weights.assign(static_cast<size_t>(std::max<int64_t>(end - first, 1)), 1.0);
}

// Linear interpolation between the two source pixels around output pixel
// i's centre; past an edge the edge pixel is repeated.
void BilinearWindow(int64_t i, int64_t src, int64_t dst, Window& w) {
  const double centre = (static_cast<double>(i) + 0.5) * static_cast<double>(src) /
                            static_cast<double>(dst) - 0.5;
  const auto base = static_cast<int64_t>(std::floor(centre));
  const int64_t lo = std::clamp<int64_t>(base, 0, src - 1), hi = std::clamp<int64_t>(base + 1, 0, src - 1);
  const double t = centre - static_cast<double>(base);
  w.start = static_cast<int32_t>(lo);
  w.weights.assign(static_cast<size_t>(hi - lo + 1), 0.0);
  w.weights.front() += 1 - t;
  w.weights.back() += t;
}

void MakeWindow(Kernel kernel, int64_t i, int64_t src, int64_t dst, Window& w) {
  switch (kernel) {
    case Kernel::kLanczos3: LanczosWindow(i, src, dst, w); break;
    case Kernel::kBox: BoxWindow(i, src, dst, w); break;
    case Kernel::kBilinear: BilinearWindow(i, src, dst, w); break;
  }
}

// Quantises each window's weights to 14 bits. The running total is rounded
// rather than each weight, so every window sums to exactly kWeightOne and
// each weight is within one step of its real value; zero weights at either
// end of a window are dropped.
AxisFilter MakeAxis(int32_t src, int32_t dst, int32_t mode) {
  Kernel kernel = Kernel::kLanczos3;
  if (mode == 1) kernel = dst <= src ? Kernel::kBox : Kernel::kBilinear;
  AxisFilter axis;
  axis.start.resize(static_cast<size_t>(dst));
  axis.count.resize(static_cast<size_t>(dst));
  std::vector<std::vector<int16_t>> quantised(static_cast<size_t>(dst));
  size_t maxTaps = 2;
  Window w;
  for (int32_t i = 0; i < dst; ++i) {
    MakeWindow(kernel, i, src, dst, w);
    double total = 0;
    for (double v : w.weights) total += v;
    std::vector<int16_t>& q = quantised[static_cast<size_t>(i)];
    q.reserve(w.weights.size());
    double running = 0;
    int32_t previous = 0;
    for (double v : w.weights) {
      running += v;
      const auto rounded = static_cast<int32_t>(std::lround(running / total * kWeightOne));
      q.push_back(static_cast<int16_t>(rounded - previous));
      previous = rounded;
    }
    while (q.size() > 1 && q.back() == 0) q.pop_back();
    size_t lead = 0;
    while (lead + 1 < q.size() && q[lead] == 0) ++lead;
    q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(lead));
    axis.start[static_cast<size_t>(i)] = w.start + static_cast<int32_t>(lead);
    axis.count[static_cast<size_t>(i)] = static_cast<int32_t>(q.size());
    maxTaps = std::max(maxTaps, (q.size() + 1) & ~size_t{1});
  }
  axis.maxTaps = static_cast<int32_t>(maxTaps);
  axis.weights.assign(static_cast<size_t>(dst) * maxTaps, 0);
  for (int32_t i = 0; i < dst; ++i) {
    const std::vector<int16_t>& q = quantised[static_cast<size_t>(i)];
    std::copy(q.begin(), q.end(), axis.weights.begin() + static_cast<std::ptrdiff_t>(i * maxTaps));
  }
  return axis;
}

// Two weights as the two 16-bit halves of one 32-bit lane, the first in the
// low half: what a multiply-add of interleaved value pairs takes.
int32_t WeightPair(const int16_t* w) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(w[0])) |
                              static_cast<uint32_t>(static_cast<uint16_t>(w[1])) << 16);
}

// One output row's vertical pass: values bytes from `rows` (an even number
// of source rows, `weights` each) summed into levels * 64.
void SumRows(const uint8_t* const* rows, const int16_t* weights, int32_t taps, size_t values, int16_t* out) {
  constexpr int32_t kHalf = 1 << (kVerticalShift - 1);
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= values; i += 16) {
    __m128i acc[4] = {_mm_set1_epi32(kHalf), _mm_set1_epi32(kHalf), _mm_set1_epi32(kHalf), _mm_set1_epi32(kHalf)};
    for (int32_t k = 0; k < taps; k += 2) {
      const __m128i pair = _mm_set1_epi32(WeightPair(weights + k));
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i));
      const __m128i lo = _mm_unpacklo_epi8(a, b), hi = _mm_unpackhi_epi8(a, b);  // a0 b0 a1 b1 ...
      acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), pair));
      acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), pair));
      acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), pair));
      acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), pair));
    }
    for (__m128i& v : acc) v = _mm_srai_epi32(v, kVerticalShift);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(acc[0], acc[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_packs_epi32(acc[2], acc[3]));
  }
#endif
  for (; i < values; ++i) {
    int32_t acc = kHalf;
    for (int32_t k = 0; k < taps; ++k) acc += weights[k] * rows[k][i];
    out[i] = static_cast<int16_t>(acc >> kVerticalShift);
  }
}

// One output row's horizontal pass over a vertical result (3 values a
// pixel, padded by kRowPadding), rounded and clamped to bytes.
void SumColumns(const int16_t* in, const AxisFilter& axis, int32_t width, uint8_t* out) {
  constexpr int32_t kHalf = 1 << (kHorizontalShift - 1);
  for (int32_t x = 0; x < width; ++x, out += 3) {
    const int16_t* w = axis.WeightsOf(x);
    const int16_t* p = in + static_cast<size_t>(axis.start[static_cast<size_t>(x)]) * 3;
    const int32_t pairs = axis.PairsOf(x);
#if defined(__SSE2__)
    // Pixels k and k + 1 interleaved, b b g g r r, each pair of lanes
    // multiplied by the two weights and summed into one 32-bit lane.
    __m128i acc = _mm_set1_epi32(kHalf);
    for (int32_t k = 0; k < pairs; ++k, p += 6, w += 2) {
      const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 3));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), _mm_set1_epi32(WeightPair(w))));
    }
    acc = _mm_srai_epi32(acc, kHorizontalShift);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(acc, acc), acc);
    const auto bgr = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
    out[0] = static_cast<uint8_t>(bgr);
    out[1] = static_cast<uint8_t>(bgr >> 8);
    out[2] = static_cast<uint8_t>(bgr >> 16);
#else
    int32_t b = kHalf, g = kHalf, r = kHalf;
    for (int32_t k = 0; k < 2 * pairs; ++k, p += 3) {
      b += w[k] * p[0];
      g += w[k] * p[1];
      r += w[k] * p[2];
    }
    out[0] = static_cast<uint8_t>(std::clamp(b >> kHorizontalShift, 0, 255));
    out[1] = static_cast<uint8_t>(std::clamp(g >> kHorizontalShift, 0, 255));
    out[2] = static_cast<uint8_t>(std::clamp(r >> kHorizontalShift, 0, 255));
#endif
  }
}

// Output rows [begin, end): each a vertical pass over its source rows, then
// a horizontal pass.
void ResampleRows(const dib::ConstImageView& src, const AxisFilter& columns, const AxisFilter& rows,
                  const dib::ImageView& dst, int32_t begin, int32_t end) {
  const size_t values = static_cast<size_t>(src.width()) * 3;
  std::vector<int16_t> summed(values + kRowPadding, 0);
  std::vector<const uint8_t*> taps(static_cast<size_t>(rows.maxTaps));
  for (int32_t y = begin; y < end; ++y) {
    const int32_t first = rows.start[static_cast<size_t>(y)];
    const int32_t n = rows.count[static_cast<size_t>(y)];
    const int32_t even = 2 * rows.PairsOf(y);
    // An odd window's last pair repeats its last row with weight 0.
    for (int32_t k = 0; k < even; ++k) taps[static_cast<size_t>(k)] = src.Row(first + std::min(k, n - 1));
    SumRows(taps.data(), rows.WeightsOf(y), even, values, summed.data());
    SumColumns(summed.data(), columns, dst.width(), dst.Row(y));
  }
}

}  // namespace

int Resize(std::span<const uint8_t> block, int32_t width, int32_t height, int32_t mode,
           BlockAllocator& out) {
  if (width < 1 || height < 1 || (mode != 0 && mode != 1)) return kBadArgument;
  return OutOfMemoryGuarded([&]() -> int {
    if (const auto alpha = OpenAlpha(block)) {
      return ThroughAlphaPlanes(
          *alpha, ColourPlane::kPremultiplied,
          [&](std::span<const uint8_t> plane, BlockAllocator& o) { return Resize(plane, width, height, mode, o); },
          out);
    }
    Source24 source;
    if (int rc = source.Open(block); rc != kOk) return rc;
    if (!dib::PackedDibSize(width, height, 24)) return kTooLarge;
    const dib::ConstImageView src = source.pixels();
    // A 32-bit process cannot always count a row's vertical result in a
    // size_t.
    if (static_cast<uint64_t>(src.width()) * 3 + kRowPadding > PTRDIFF_MAX / sizeof(int16_t)) {
      return kOutOfMemory;
    }

    const AxisFilter columns = MakeAxis(src.width(), width, mode);
    const AxisFilter rows = MakeAxis(src.height(), height, mode);

    NewBlock result;
    if (int rc = MakeBlock24(out, width, height, source.xPelsPerMeter(), source.yPelsPerMeter(), result);
        rc != kOk) {
      return rc;
    }
    // The work of a row grows with the source width and the rows it sums.
    const int64_t grain = qb::work::RowGrain(int64_t{src.width()} * rows.maxTaps / 2, height);
    qb::work::ForEachRange(height, grain, [&](int64_t begin, int64_t end) {
      ResampleRows(src, columns, rows, result.pixels, static_cast<int32_t>(begin), static_cast<int32_t>(end));
    });
    return kOk;
  });
}

}  // namespace rastrum
