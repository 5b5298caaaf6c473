// Resize: a picture resampled to an exact width and height.
//
// The work is separable: each source row is first resampled horizontally,
// then output rows are made as weighted sums of those rows. Each axis has
// its own filter, chosen by whether that axis shrinks or grows, so a picture
// made wider and shorter is enlarged in one direction and reduced in the
// other:
//
//   mode 0 (high quality)  shrinking: area averaging, each output pixel the
//                          mean of the source area it covers, a source pixel
//                          at its edge weighed by the share it covers;
//                          enlarging: Catmull-Rom bicubic (a = -0.5)
//   mode 1 (fast)          shrinking: the plain mean of the whole source
//                          pixels under each output pixel, its edges rounded
//                          down to whole pixels; enlarging: bilinear
//
// Weights are fixed point, 14 bits, precomputed once per output column and
// per output row. They are rounded cumulatively, so each set sums to
// exactly 1: a flat colour stays exactly flat, whatever the filter. The
// horizontal results keep 6 bits below the 8-bit level (16-bit values, room
// for the bicubic overshoot); only the final value is rounded and clamped
// to 0..255.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/raster.h"

namespace rastrum {

namespace dib = qb::dib;

namespace {

constexpr int kWeightBits = 14;
constexpr int32_t kWeightOne = 1 << kWeightBits;
constexpr int kExtraBits = 6;  // horizontal results are levels * 64

// The source indices and weights behind each output index of one axis: a
// window of `count` consecutive source indices from `start`, all inside the
// source (taps past an edge are folded onto the edge pixel).
struct AxisFilter {
  std::vector<int32_t> start;
  std::vector<int32_t> count;
  std::vector<int16_t> weights;  // maxTaps per output index
  int32_t maxTaps = 0;

  const int16_t* WeightsOf(int32_t i) const {
    return weights.data() + static_cast<size_t>(i) * static_cast<size_t>(maxTaps);
  }
};

// One output index's window with real-valued weights, before quantising.
struct Window {
  int32_t start = 0;
  std::vector<double> weights;
};

enum class Kernel { kArea, kBox, kBicubic, kBilinear };

double CatmullRom(double t) {
  t = std::fabs(t);
  if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
  if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
  return 0;
}

// Output pixel i of dst covers source positions [i * src / dst, (i + 1) *
// src / dst). Counted in units of 1/dst of a source pixel, that is
// [i * src, (i + 1) * src) against source pixel j's [j * dst, (j + 1) * dst),
// so the coverage of every source pixel is an exact integer.
void AreaWindow(int64_t i, int64_t src, int64_t dst, Window& w) {
  const int64_t from = i * src, to = (i + 1) * src;
  const int64_t first = from / dst, last = (to - 1) / dst;
  w.start = static_cast<int32_t>(first);
  for (int64_t j = first; j <= last; ++j) {
    const int64_t overlap = std::min((j + 1) * dst, to) - std::max(j * dst, from);
    w.weights.push_back(static_cast<double>(overlap));
  }
}

// The source pixels from the one where output pixel i starts up to the one
// where the next output pixel starts, equally weighted.
void BoxWindow(int64_t i, int64_t src, int64_t dst, Window& w) {
  const int64_t first = i * src / dst, end = (i + 1) * src / dst;
  w.start = static_cast<int32_t>(first);
  w.weights.assign(static_cast<size_t>(std::max<int64_t>(end - first, 1)), 1.0);
}

// An interpolating kernel of the given radius centred where output pixel i's
// centre falls in the source; taps past an edge repeat the edge pixel.
template <class Fn>
void InterpolatingWindow(int64_t i, int64_t src, int64_t dst, int radius, Fn kernel, Window& w) {
  const double centre = (static_cast<double>(i) + 0.5) * static_cast<double>(src) /
                            static_cast<double>(dst) - 0.5;
  const int64_t base = static_cast<int64_t>(std::floor(centre));
  const int64_t lo = std::clamp<int64_t>(base - radius + 1, 0, src - 1);
  const int64_t hi = std::clamp<int64_t>(base + radius, 0, src - 1);
  w.start = static_cast<int32_t>(lo);
  w.weights.assign(static_cast<size_t>(hi - lo + 1), 0.0);
  for (int64_t t = base - radius + 1; t <= base + radius; ++t) {
    const int64_t j = std::clamp<int64_t>(t, lo, hi);
    w.weights[static_cast<size_t>(j - lo)] += kernel(centre - static_cast<double>(t));
  }
}

void MakeWindow(Kernel kernel, int64_t i, int64_t src, int64_t dst, Window& w) {
  w.weights.clear();
  switch (kernel) {
    case Kernel::kArea: AreaWindow(i, src, dst, w); break;
    case Kernel::kBox: BoxWindow(i, src, dst, w); break;
    case Kernel::kBicubic: InterpolatingWindow(i, src, dst, 2, CatmullRom, w); break;
    case Kernel::kBilinear:
      InterpolatingWindow(i, src, dst, 1, [](double t) { return std::max(0.0, 1 - std::fabs(t)); }, w);
      break;
  }
}

// Quantises each window's weights to 14 bits. The running total is rounded
// rather than each weight, so every window sums to exactly kWeightOne and
// each weight is within one step of its real value; zero weights at either
// end of a window are dropped.
AxisFilter MakeAxis(int32_t src, int32_t dst, int32_t mode) {
  Kernel kernel;
  if (dst <= src) {
    kernel = mode == 0 ? Kernel::kArea : Kernel::kBox;
  } else {
    kernel = mode == 0 ? Kernel::kBicubic : Kernel::kBilinear;
  }
  std::vector<Window> windows(static_cast<size_t>(dst));
  size_t maxTaps = 1;
  for (int32_t i = 0; i < dst; ++i) {
    Window& w = windows[static_cast<size_t>(i)];
    MakeWindow(kernel, i, src, dst, w);
    double total = 0;
    for (double v : w.weights) total += v;
    double running = 0;
    int32_t previous = 0;
    for (double& v : w.weights) {
      running += v;
      const auto rounded = static_cast<int32_t>(std::lround(running / total * kWeightOne));
      v = rounded - previous;
      previous = rounded;
    }
    while (w.weights.size() > 1 && w.weights.back() == 0) w.weights.pop_back();
    size_t lead = 0;
    while (lead + 1 < w.weights.size() && w.weights[lead] == 0) ++lead;
    w.weights.erase(w.weights.begin(), w.weights.begin() + static_cast<std::ptrdiff_t>(lead));
    w.start += static_cast<int32_t>(lead);
    maxTaps = std::max(maxTaps, w.weights.size());
  }

  AxisFilter axis;
  axis.maxTaps = static_cast<int32_t>(maxTaps);
  axis.start.resize(static_cast<size_t>(dst));
  axis.count.resize(static_cast<size_t>(dst));
  axis.weights.assign(static_cast<size_t>(dst) * maxTaps, 0);
  for (int32_t i = 0; i < dst; ++i) {
    const Window& w = windows[static_cast<size_t>(i)];
    axis.start[static_cast<size_t>(i)] = w.start;
    axis.count[static_cast<size_t>(i)] = static_cast<int32_t>(w.weights.size());
    int16_t* out = axis.weights.data() + static_cast<size_t>(i) * maxTaps;
    for (size_t k = 0; k < w.weights.size(); ++k) out[k] = static_cast<int16_t>(w.weights[k]);
  }
  return axis;
}

// One source row resampled to the output width, as levels * 64.
void ResampleRow(const uint8_t* in, const AxisFilter& axis, int32_t width, int16_t* out) {
  constexpr int32_t kShift = kWeightBits - kExtraBits;
  constexpr int32_t kHalf = 1 << (kShift - 1);
  for (int32_t x = 0; x < width; ++x, out += 3) {
    const int16_t* w = axis.WeightsOf(x);
    const uint8_t* p = in + static_cast<size_t>(axis.start[static_cast<size_t>(x)]) * 3;
    const int32_t n = axis.count[static_cast<size_t>(x)];
    int32_t b = kHalf, g = kHalf, r = kHalf;
    for (int32_t k = 0; k < n; ++k, p += 3) {
      b += w[k] * p[0];
      g += w[k] * p[1];
      r += w[k] * p[2];
    }
    out[0] = static_cast<int16_t>(b >> kShift);
    out[1] = static_cast<int16_t>(g >> kShift);
    out[2] = static_cast<int16_t>(r >> kShift);
  }
}

// Horizontally resampled source rows, kept for the output rows that share
// them: a slot per row number modulo the cache size, tagged with its row.
class RowCache {
 public:
  RowCache(const dib::ConstImageView& src, const AxisFilter& axis, int32_t width, int32_t slots)
      : m_src(src), m_axis(axis), m_width(width), m_values(static_cast<size_t>(width) * 3),
        m_rows(static_cast<size_t>(slots) * m_values), m_tags(static_cast<size_t>(slots), -1) {}

  const int16_t* Row(int32_t y) {
    const size_t slot = static_cast<size_t>(y) % m_tags.size();
    int16_t* row = m_rows.data() + slot * m_values;
    if (m_tags[slot] != y) {
      ResampleRow(m_src.Row(y), m_axis, m_width, row);
      m_tags[slot] = y;
    }
    return row;
  }

 private:
  dib::ConstImageView m_src;
  const AxisFilter& m_axis;
  int32_t m_width;
  size_t m_values;
  std::vector<int16_t> m_rows;
  std::vector<int32_t> m_tags;
};

}  // namespace

int Resize(std::span<const uint8_t> block, int32_t width, int32_t height, int32_t mode,
           BlockAllocator& out) {
  if (width < 1 || height < 1 || (mode != 0 && mode != 1)) return kBadArgument;
  try {
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

    const AxisFilter columns = MakeAxis(src.width(), width, mode);
    const AxisFilter rows = MakeAxis(src.height(), height, mode);
    // An enlarged axis needs a few rows at a time, all reused by the next
    // output rows; a reduced one reads each source row once or twice. A
    // 32-bit process cannot always count the cache in a size_t.
    const int32_t slots = std::min(rows.maxTaps, 8);
    if (static_cast<uint64_t>(slots) * static_cast<uint64_t>(width) * 3 > PTRDIFF_MAX / sizeof(int16_t)) {
      return kOutOfMemory;
    }
    RowCache cache(src, columns, width, slots);
    std::vector<int32_t> sums(static_cast<size_t>(width) * 3);

    NewBlock result;
    if (int rc = MakeBlock24(out, width, height, source.xPelsPerMeter(), source.yPelsPerMeter(), result);
        rc != kOk) {
      return rc;
    }

    constexpr int kShift = kWeightBits + kExtraBits;
    const size_t values = sums.size();
    for (int32_t y = 0; y < height; ++y) {
      const int16_t* w = rows.WeightsOf(y);
      const int32_t first = rows.start[static_cast<size_t>(y)];
      const int32_t n = rows.count[static_cast<size_t>(y)];
      std::fill(sums.begin(), sums.end(), int32_t{1} << (kShift - 1));
      int32_t* acc = sums.data();
      for (int32_t k = 0; k < n; ++k) {
        const int16_t* in = cache.Row(first + k);
        const int32_t weight = w[k];
        for (size_t i = 0; i < values; ++i) acc[i] += weight * in[i];
      }
      uint8_t* dst = result.pixels.Row(y);
      for (size_t i = 0; i < values; ++i) {
        dst[i] = static_cast<uint8_t>(std::clamp(acc[i] >> kShift, 0, 255));
      }
    }
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

}  // namespace rastrum
