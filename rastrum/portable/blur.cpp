// Blur: a Gaussian blur approximated by three box filters along each axis,
// whose cost per pixel is the same at every level.
//
// Strength: level L gives a Gaussian of standard deviation
//
//   sigma = 0.5 * L^1.125   (0.5 px at 1, 3.1 at 5, 6.7 at 10, 41 at 50, 88 at 99)
//
// so the first levels are a faint softening and each step up is a little
// larger than the one before. L^1.125 is L times three square roots of L,
// which every build computes to the same bits.
//
// Boxes: three box passes whose variances add up to sigma^2 have very
// nearly a Gaussian's shape. A plain box of radius r has variance
// r (r + 1) / 3, which moves in steps; so the first two passes are the
// largest plain box that three times fits, and the third also weighs the two
// pixels just outside it by a fraction alpha, which fills the remaining
// variance continuously: every level differs from the next, and level 1,
// whose boxes are one pixel wide, still blurs. Each pass is a running sum,
// one addition and one subtraction per value whatever the radius. Pixels
// past an edge repeat the edge pixel.
//
// Layout: both axes run the same pass over a buffer of floats with 24 lanes
// side by side: for the horizontal passes the three channels of 8 rows at
// once, for the vertical ones the channels of an 8-pixel column strip. The
// running sums of all lanes then move together, which the compiler turns
// into vector code, and the buffer stays in the cache. The passes of an axis
// round only once, when the result goes back to bytes; a flat colour comes
// back exactly.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/portable/simd_level.h"
#include "base/portable/work_pool.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/raster.h"

namespace rastrum {

namespace dib = qb::dib;

namespace {

constexpr int32_t kPixelsPerLaneBlock = 8;
constexpr int32_t kLanes = kPixelsPerLaneBlock * 3;
// The vertical passes gather strips of 8 lane blocks (64 pixels) at once, so
// that each row of the picture is visited once per 64 columns.
constexpr int32_t kBlocksPerStrip = 8;

// One box pass: radius r, and the weight alpha (0..1) of the two pixels at
// distance r + 1, as factors of the sum of the 2r + 1 pixels inside and of
// the two outside.
struct Box {
  int32_t radius = 0;
  float inner = 1;
  float outer = 0;
};

// The three passes of an axis. The first two are plain boxes, the cheapest
// pass; the third has whatever radius and alpha make up the Gaussian's
// variance exactly.
struct Passes {
  Box plain;
  Box last;
};

double SigmaOfLevel(int32_t level) {
  const double l = level;
  return 0.5 * l * std::sqrt(std::sqrt(std::sqrt(l)));
}

double PlainBoxVariance(int32_t r) { return r * (r + 1.0) / 3; }

// The extended box of variance v: the largest plain box not above it, and
// alpha from
//   (r (r + 1) (2r + 1) / 3 + 2 alpha (r + 1)^2) / (2r + 1 + 2 alpha) = v,
// which runs from 0 at that box to 1 at the next one.
Box BoxOfVariance(double v) {
  auto r = static_cast<int32_t>((std::sqrt(12 * v + 1) - 1) / 2);
  while (PlainBoxVariance(r + 1) <= v) ++r;
  while (r > 0 && PlainBoxVariance(r) > v) --r;
  const double n = 2.0 * r + 1;
  const double alpha =
      std::clamp((v - PlainBoxVariance(r)) * n / (2.0 * (r + 1) * (r + 1) - 2 * v), 0.0, 1.0);
  Box box;
  box.radius = r;
  box.inner = static_cast<float>(1 / (n + 2 * alpha));
  box.outer = static_cast<float>(alpha / (n + 2 * alpha));
  return box;
}

Passes PassesForSigma(double sigma) {
  const double variance = sigma * sigma;
  int32_t r = 0;
  while (3 * PlainBoxVariance(r + 1) <= variance) ++r;
  Passes passes;
  passes.plain = BoxOfVariance(PlainBoxVariance(r));
  passes.last = BoxOfVariance(variance - 2 * PlainBoxVariance(r));
  return passes;
}

// One pass of `box` along n positions of kLanes values each, in place. An
// output needs inputs up to r + 1 positions back, which by then are
// overwritten: `history` keeps the last r + 2 inputs, position p in slot
// p mod (r + 2), so that p - r - 1 and p - r sit in the two slots after p's.
// Each output is sum * inner + (before + after) * outer, where sum runs over
// the 2r + 1 inputs around it; a plain box has no outer term.
template <bool kOuter>
inline __attribute__((always_inline)) void BoxPass(float* data, int32_t n, const Box& box,
                                                   std::vector<float>& history) {
  const int32_t r = box.radius;
  const int32_t slots = r + 2;
  float* const kept = history.data();
  auto row = [data, n](int64_t p) {
    return data + static_cast<size_t>(std::clamp<int64_t>(p, 0, n - 1)) * kLanes;
  };

  alignas(16) float sum[kLanes] = {};
  for (int32_t p = -r; p <= r; ++p) {
    const float* v = row(p);
    for (int l = 0; l < kLanes; ++l) sum[l] += v[l];
  }
  const float inner = box.inner, outer = box.outer;
  int32_t own = 0;  // p mod slots
  for (int32_t p = 0; p < n; ++p) {
    float* here = data + static_cast<size_t>(p) * kLanes;
    float* ownKept = kept + static_cast<size_t>(own) * kLanes;
    for (int l = 0; l < kLanes; ++l) ownKept[l] = here[l];
    // Before the left edge, position 0, which stays in slot 0 until p = r + 2.
    const int32_t next = own + 1 == slots ? 0 : own + 1;
    const int32_t afterNext = next + 1 == slots ? 0 : next + 1;
    const float* before = kept + static_cast<size_t>(p > r ? next : 0) * kLanes;
    const float* leaving = kept + static_cast<size_t>(p >= r ? afterNext : 0) * kLanes;
    const float* after = row(static_cast<int64_t>(p) + r + 1);  // `here` at the last position
    for (int l = 0; l < kLanes; ++l) {
      const float a = after[l];
      if constexpr (kOuter) {
        here[l] = sum[l] * inner + (before[l] + a) * outer;
      } else {
        here[l] = sum[l] * inner;
      }
      sum[l] += a - leaving[l];
    }
    own = next;
  }
}

inline __attribute__((always_inline)) void ThreePassesInline(float* data, int32_t n, const Passes& passes,
                                                              std::vector<float>& history) {
  // A plain box of radius 0 leaves its input as it is.
  if (passes.plain.radius > 0) {
    BoxPass<false>(data, n, passes.plain, history);
    BoxPass<false>(data, n, passes.plain, history);
  }
  if (passes.last.outer == 0) {
    if (passes.last.radius > 0) BoxPass<false>(data, n, passes.last, history);
  } else {
    BoxPass<true>(data, n, passes.last, history);
  }
}

// The passes as the build's baseline (SSE2) has them, and as AVX2 has them
// where the processor offers it: the same operations on each lane in the
// same order, twice as many lanes at once, so the same floats.
using ThreePassesFn = void (*)(float* data, int32_t n, const Passes& passes, std::vector<float>& history);

void ThreePassesBaseline(float* data, int32_t n, const Passes& passes, std::vector<float>& history) {
  ThreePassesInline(data, n, passes, history);
}

#if defined(__x86_64__) || defined(__i386__)
QB_AVX2_ENTRY void ThreePassesAvx2(float* data, int32_t n, const Passes& passes, std::vector<float>& history) {
  ThreePassesInline(data, n, passes, history);
}
#endif

ThreePassesFn ChosenThreePasses() {
#if defined(__x86_64__) || defined(__i386__)
  if (qb::simd::Current() == qb::simd::Level::kAvx2) return ThreePassesAvx2;
#endif
  return ThreePassesBaseline;
}

// Box averages of bytes stay within 0..255 but for float rounding, which
// cannot reach half a level.
uint8_t ToByte(float v) { return static_cast<uint8_t>(static_cast<int32_t>(v + 0.5f)); }

// Asks for memory that the next rows will read: the vertical passes walk
// down the picture a strip at a time, a stride the hardware does not guess.
inline void Prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

using RowGroup = std::array<uint8_t*, kPixelsPerLaneBlock>;

#if defined(__SSE2__)
// Eight 16-byte vectors seen as one 128-byte array: byte j*16+b moves to the
// place whose index is the old one turned left by one bit (vector k is
// interleaved with vector k + 4). Three turns make 8 rows of 16 bytes into
// 16 columns of 8, four turn them back.
inline void InterleaveStep(__m128i v[8]) {
  __m128i w[8];
  for (int k = 0; k < 4; ++k) {
    w[2 * k] = _mm_unpacklo_epi8(v[k], v[k + 4]);
    w[2 * k + 1] = _mm_unpackhi_epi8(v[k], v[k + 4]);
  }
  for (int k = 0; k < 8; ++k) v[k] = w[k];
}
#endif

// The bytes of 8 rows side by side: out[i * 8 + g] = rows[g][i]. Pixel x of
// the group is then position x, its lanes channel * 8 + row.
void InterleaveRows(const RowGroup& rows, int32_t bytes, float* out) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= bytes; i += 16, out += 128) {
    __m128i v[8];
    for (int g = 0; g < 8; ++g) v[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[g] + i));
    for (int step = 0; step < 3; ++step) InterleaveStep(v);
    for (int j = 0; j < 8; ++j) {  // bytes i + 2j and i + 2j + 1 of all 8 rows
      const __m128i lo = _mm_unpacklo_epi8(v[j], zero), hi = _mm_unpackhi_epi8(v[j], zero);
      _mm_storeu_ps(out + 16 * j, _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero)));
      _mm_storeu_ps(out + 16 * j + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero)));
      _mm_storeu_ps(out + 16 * j + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero)));
      _mm_storeu_ps(out + 16 * j + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero)));
    }
  }
#endif
  for (; i < bytes; ++i, out += 8) {
    for (int g = 0; g < 8; ++g) out[g] = rows[g][i];
  }
}

// The inverse, rounding to bytes.
void DeinterleaveRows(const float* in, int32_t bytes, const RowGroup& rows) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128 half = _mm_set1_ps(0.5f);
  auto rounded = [half](const float* p) { return _mm_cvttps_epi32(_mm_add_ps(_mm_loadu_ps(p), half)); };
  for (; i + 16 <= bytes; i += 16, in += 128) {
    __m128i v[8];
    for (int j = 0; j < 8; ++j) {
      const float* p = in + 16 * j;
      const __m128i lo = _mm_packs_epi32(rounded(p), rounded(p + 4));
      const __m128i hi = _mm_packs_epi32(rounded(p + 8), rounded(p + 12));
      v[j] = _mm_packus_epi16(lo, hi);
    }
    for (int step = 0; step < 4; ++step) InterleaveStep(v);
    for (int g = 0; g < 8; ++g) _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[g] + i), v[g]);
  }
#endif
  for (; i < bytes; ++i, in += 8) {
    for (int g = 0; g < 8; ++g) rows[g][i] = ToByte(in[g]);
  }
}

// Working memory of one thread: the first one's is taken before the result
// block; each further thread that shares the work takes its own.
struct Scratch {
  std::vector<float> lanes;    // the positions of a row group or a strip
  std::vector<float> history;  // the inputs a pass has overwritten
  std::vector<uint8_t> spare;  // a row for the missing rows of a short group
};

// Groups of 8 rows y0 = 8 * group for the groups in [firstGroup, endGroup);
// a last short group reads its first row again in place of the missing ones
// and writes them to the spare row.
void BlurRows(const dib::ConstImageView& src, const dib::ImageView& dst, const Passes& passes,
              ThreePassesFn threePasses, Scratch& scratch, int32_t firstGroup, int32_t endGroup) {
  const int32_t w = src.width(), h = src.height();
  const int32_t bytes = w * 3;
  std::vector<float>& buffer = scratch.lanes;
  std::vector<float>& history = scratch.history;
  for (int32_t y0 = firstGroup * kPixelsPerLaneBlock; y0 < h && y0 < endGroup * kPixelsPerLaneBlock;
       y0 += kPixelsPerLaneBlock) {
    const int32_t rows = std::min(kPixelsPerLaneBlock, h - y0);
    RowGroup in{}, out{};
    for (int32_t g = 0; g < kPixelsPerLaneBlock; ++g) {
      in[g] = const_cast<uint8_t*>(src.Row(y0 + (g < rows ? g : 0)));
      out[g] = g < rows ? dst.Row(y0 + g) : scratch.spare.data();
    }
    InterleaveRows(in, bytes, buffer.data());
    threePasses(buffer.data(), w, passes, history);
    DeinterleaveRows(buffer.data(), bytes, out);
  }
}

// Strips of up to 64 pixels, x0 = 64 * strip for the strips in
// [firstStrip, endStrip), in place: lane block k of the strip holds pixels
// 8k..8k+7 of every row, one row per position; a short last block is padded
// with zeros.
void BlurColumns(const dib::ImageView& pixels, const Passes& passes, ThreePassesFn threePasses, Scratch& scratch,
                 int32_t firstStrip, int32_t endStrip) {
  const int32_t w = pixels.width(), h = pixels.height();
  std::vector<float>& buffer = scratch.lanes;
  std::vector<float>& history = scratch.history;
  const size_t blockSize = static_cast<size_t>(h) * kLanes;
  constexpr int32_t kAhead = 16;  // rows
  constexpr int32_t kStripPixels = kPixelsPerLaneBlock * kBlocksPerStrip;
  for (int32_t x0 = firstStrip * kStripPixels; x0 < w && x0 < endStrip * kStripPixels; x0 += kStripPixels) {
    const int32_t values = std::min(kPixelsPerLaneBlock * kBlocksPerStrip, w - x0) * 3;
    const int32_t blocks = (values + kLanes - 1) / kLanes;
    for (int32_t y = 0; y < h; ++y) {
      if (y + kAhead < h) {
        const uint8_t* ahead = pixels.Row(y + kAhead) + static_cast<size_t>(x0) * 3;
        for (int32_t b = 0; b < values; b += 64) Prefetch(ahead + b);
        Prefetch(ahead + values - 1);
      }
      const uint8_t* in = pixels.Row(y) + static_cast<size_t>(x0) * 3;
      for (int32_t k = 0; k < blocks; ++k, in += kLanes) {
        float* lane = buffer.data() + k * blockSize + static_cast<size_t>(y) * kLanes;
        const int32_t used = std::min(kLanes, values - k * kLanes);
        if (used == kLanes) {
          for (int32_t i = 0; i < kLanes; ++i) lane[i] = in[i];
        } else {
          for (int32_t i = 0; i < kLanes; ++i) lane[i] = i < used ? in[i] : 0;
        }
      }
    }
    for (int32_t k = 0; k < blocks; ++k) threePasses(buffer.data() + k * blockSize, h, passes, history);
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* out = pixels.Row(y) + static_cast<size_t>(x0) * 3;
      for (int32_t k = 0; k < blocks; ++k, out += kLanes) {
        const float* lane = buffer.data() + k * blockSize + static_cast<size_t>(y) * kLanes;
        const int32_t used = std::min(kLanes, values - k * kLanes);
        if (used == kLanes) {
          for (int32_t i = 0; i < kLanes; ++i) out[i] = ToByte(lane[i]);
        } else {
          for (int32_t i = 0; i < used; ++i) out[i] = ToByte(lane[i]);
        }
      }
    }
  }
}

}  // namespace

int Blur(std::span<const uint8_t> block, int32_t level, BlockAllocator& out) {
  if (level < 1 || level > 99) return kBadArgument;
  return OutOfMemoryGuarded([&]() -> int {
    if (const auto alpha = OpenAlpha(block)) {
      // Edges of a picture with alpha blur into transparency.
      return ThroughAlphaPlanes(
          *alpha, ColourPlane::kPremultiplied,
          [&](std::span<const uint8_t> plane, BlockAllocator& o) { return Blur(plane, level, o); }, out);
    }
    Source24 source;
    if (int rc = source.Open(block); rc != kOk) return rc;
    const dib::ConstImageView src = source.pixels();
    const Passes passes = PassesForSigma(SigmaOfLevel(level));
    const ThreePassesFn threePasses = ChosenThreePasses();
    // A row group holds every pixel of 8 rows; a strip up to 8 lane blocks of
    // every row, fewer when the picture is narrower. A 32-bit process cannot
    // always count these in a size_t.
    const uint64_t rowBytes = static_cast<uint64_t>(src.width()) * 3;
    const uint64_t blocks = std::min<uint64_t>(kBlocksPerStrip, (rowBytes + kLanes - 1) / kLanes);
    const uint64_t positions = std::max<uint64_t>(src.width(), src.height() * blocks);
    if (positions > PTRDIFF_MAX / (kLanes * sizeof(float))) return kOutOfMemory;
    const int32_t radius = std::max(passes.plain.radius, passes.last.radius);
    auto makeScratch = [&](Scratch& scratch) {
      scratch.lanes.resize(static_cast<size_t>(positions) * kLanes);
      scratch.history.resize(static_cast<size_t>(radius + 2) * kLanes);
      scratch.spare.resize(static_cast<size_t>(rowBytes));
    };
    Scratch first;
    makeScratch(first);

    NewBlock result;
    if (int rc = MakeBlock24(out, src.width(), src.height(), source.xPelsPerMeter(),
                             source.yPelsPerMeter(), result);
        rc != kOk) {
      return rc;
    }
    // Row groups and column strips are independent of one another, so a
    // large picture's are shared among the pool's threads: a range takes a
    // free scratch, and makes one when every scratch is in use.
    std::mutex spareLock;
    std::vector<std::unique_ptr<Scratch>> idle;
    idle.push_back(std::make_unique<Scratch>(std::move(first)));
    auto withScratch = [&](auto&& work) {
      std::unique_ptr<Scratch> scratch;
      {
        std::lock_guard<std::mutex> lock(spareLock);
        if (!idle.empty()) {
          scratch = std::move(idle.back());
          idle.pop_back();
        }
      }
      if (!scratch) {
        scratch = std::make_unique<Scratch>();
        makeScratch(*scratch);
      }
      work(*scratch);
      std::lock_guard<std::mutex> lock(spareLock);
      idle.push_back(std::move(scratch));
    };
    const int32_t w = src.width(), h = src.height();
    const int32_t groups = (h + kPixelsPerLaneBlock - 1) / kPixelsPerLaneBlock;
    const int64_t rowGrain = qb::work::RowGrain(w, h);
    const int64_t groupGrain = rowGrain >= h ? groups : std::max<int64_t>(1, rowGrain / kPixelsPerLaneBlock);
    qb::work::ForEachRange(groups, groupGrain, [&](int64_t begin, int64_t end) {
      withScratch([&](Scratch& scratch) {
        BlurRows(src, result.pixels, passes, threePasses, scratch, static_cast<int32_t>(begin),
                 static_cast<int32_t>(end));
      });
    });
    constexpr int32_t kStripPixels = kPixelsPerLaneBlock * kBlocksPerStrip;
    const int32_t strips = (w + kStripPixels - 1) / kStripPixels;
    const int64_t stripGrain = static_cast<int64_t>(w) * h < qb::work::kParallelPixels
                                   ? strips
                                   : std::max<int64_t>(1, qb::work::kParallelPixels / 4 / (int64_t{h} * kStripPixels));
    qb::work::ForEachRange(strips, stripGrain, [&](int64_t begin, int64_t end) {
      withScratch([&](Scratch& scratch) {
        BlurColumns(result.pixels, passes, threePasses, scratch, static_cast<int32_t>(begin),
                    static_cast<int32_t>(end));
      });
    });
    return kOk;
  });
}

}  // namespace rastrum
