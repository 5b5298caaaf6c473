#include "modifiers/portable/color_adjust.h"

#include <emmintrin.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "base/portable/work_pool.h"
#include "base/portable/simd_level.h"

namespace qb::color {
namespace {

// k / 255.0 for every byte value: the same doubles the division gives.
const std::array<double, 256>& UnitLevels() {
  static const std::array<double, 256> levels = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = i / 255.0;
    return t;
  }();
  return levels;
}

std::uint8_t ToByte(double v) {
  return static_cast<std::uint8_t>(std::clamp(static_cast<int>(v * 255.0), 0, 255));
}

}  // namespace

Shifts MakeShifts(std::int32_t hue, std::int32_t lightness, std::int32_t saturation) {
  // Within one turn either way the value is used as it is, so that every
  // hue in -360..360 gives exactly the results it always gave.
  if (hue > 360 || hue < -360) hue %= 360;
  Shifts s;
  s.hue = static_cast<double>(hue);
  if (hue < 0) s.hue += 360.0;
  s.lightness = lightness / 100.0;
  s.saturation = saturation / 100.0;
  return s;
}

Hsl RgbToHsl(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const double r = red / 255.0, g = green / 255.0, b = blue / 255.0;
  const double max = std::max(std::max(r, g), b);
  const double min = std::min(std::min(r, g), b);
  Hsl c;
  c.l = (max + min) / 2.0;
  if (max == min) {
    c.s = 0.0;
    c.h = kUndefinedHue;
    return c;
  }
  const double d = max - min;
  c.s = c.l < 0.5 ? d / (max + min) : d / (2.0 - max - min);
  double h;
  if (r == max) {
    h = (g - b) / d;
  } else if (g == max) {
    h = 2.0 + (b - r) / d;
  } else {
    h = 4.0 + (r - g) / d;
  }
  h *= 60.0;
  if (h < 0.0) {
    h += 360.0;
  } else if (h > 360.0) {
    h -= 360.0;
  }
  c.h = h;
  return c;
}

Hsl ShiftHsl(Hsl c, const Shifts& shifts) {
  if (c.h != kUndefinedHue) {
    c.h += shifts.hue;
    if (c.h > 360.0) c.h -= 360.0;
    if (c.h < 0.0) c.h += 360.0;
  }
  c.l += shifts.lightness;
  if (c.l < 0.0) c.l = 0.0;
  if (c.l > 1.0) c.l = 1.0;
  // Run through the colour formula, a grey's hue of -1 would turn it red.
  if (c.h == kUndefinedHue) return c;
  c.s += shifts.saturation;
  if (c.s < 0.0) c.s = 0.0;
  if (c.s > 1.0) c.s = 1.0;
  return c;
}

double HueToChannel(double m1, double m2, double h) {
  if (h > 360.0) {
    h -= 360.0;
  } else if (h < 0.0) {
    h += 360.0;
  }
  if (h < 60.0) return m1 + (m2 - m1) * h / 60.0;
  if (h < 180.0) return m2;
  if (h < 240.0) return m1 + (m2 - m1) * (240.0 - h) / 60.0;
  return m1;
}

Rgb8 HslToRgb(Hsl c) {
  const double m2 = c.l <= 0.5 ? c.l * (1.0 + c.s) : c.l + c.s - c.l * c.s;
  const double m1 = 2.0 * c.l - m2;
  if (c.h == kUndefinedHue) {
    const std::uint8_t grey = ToByte(c.l);
    return {grey, grey, grey};
  }
  // With S 0 and a defined hue m1 = m2 = L, so this too gives the grey of
  // the lightness.
  return {ToByte(HueToChannel(m1, m2, c.h + 120.0)), ToByte(HueToChannel(m1, m2, c.h)),
          ToByte(HueToChannel(m1, m2, c.h - 120.0))};
}

Rgb8 AdjustColor(Rgb8 colour, const Shifts& shifts) {
  return HslToRgb(ShiftHsl(RgbToHsl(colour.r, colour.g, colour.b), shifts));
}

void AdjustPixelsScalar(dib::ImageView pixels, const Shifts& shifts) {
  for (std::int32_t y = 0; y < pixels.height(); ++y) {
    std::uint8_t* p = pixels.Row(y);
    for (std::int32_t x = 0; x < pixels.width(); ++x, p += 3) {
      const Rgb8 out = AdjustColor({p[2], p[1], p[0]}, shifts);
      p[0] = out.b;
      p[1] = out.g;
      p[2] = out.r;
    }
  }
}

namespace {

// The scalar formula on several colours at a time, in generic vectors:
// every branch becomes a comparison mask and a select, every arithmetic
// step the same IEEE double operation on the same operands, so each lane
// ends with the bytes AdjustColor gives. Two lanes a register with SSE2;
// four with AVX2 where the machine has it.
//
// Shortcuts, all exact:
// - HslToRgb's grey branch needs no lane of its own: a grey keeps
//   saturation 0, so m1 = m2 = L, and the ramp formula then gives L.
// - Of the three hues H + 120, H and H - 120 (each wrapped once), at most
//   one lies on a ramp (0..60 or 180..240) unless rounding puts two on
//   ramp edges; each lane divides once, for its ramp channel. A group
//   where some lane has two ramp channels is left to the scalar code.
// - Wraps that the value ranges rule out are left out (see below).
//
// No lane ever divides by zero or compares a NaN: a host may have unmasked
// floating-point exceptions.
#define QB_INLINE inline __attribute__((always_inline))

typedef double V2d __attribute__((vector_size(16)));
typedef long long V2m __attribute__((vector_size(16)));
typedef int V4i __attribute__((vector_size(16)));

// N colours: doubles D, comparison masks M, and one result pixel
// B | G << 8 | R << 16 a lane of I. Vectors go by reference, so no
// function here has a vector argument or result of its own beyond 16
// bytes (all of it is inlined anyway).
template <class DoubleVector, class MaskVector, class IntVector, int Count>
struct Lanes {
  static constexpr int N = Count;
  using D = DoubleVector;
  using M = MaskVector;
  using I = IntVector;

  static QB_INLINE void Splat(D& out, double v) {
    for (int i = 0; i < N; ++i) out[i] = v;
  }

  static QB_INLINE bool Any(const M& m) {
    long long any = 0;
    for (int i = 0; i < N; ++i) any |= m[i];
    return any != 0;
  }

  // x 255.0, truncated toward zero (two lanes: into the low half of I).
  static QB_INLINE I ToByte(const D& v) {
    if constexpr (N == 2) {
      return reinterpret_cast<I>(_mm_cvttpd_epi32(v * 255.0));
    } else {
      return __builtin_convertvector(v * 255.0, I);
    }
  }

  // The new pixels of the colours r, g, b (channel / 255.0); `scalar` set
  // when the group needs the scalar code.
  static QB_INLINE I Compute(const D& r, const D& g, const D& b, const Shifts& shifts, bool& scalar) {
    D zero, one, two, four, d360, grey119, grey359, grey239;
    Splat(zero, 0.0);
    Splat(one, 1.0);
    Splat(two, 2.0);
    Splat(four, 4.0);
    Splat(d360, 360.0);
    Splat(grey119, 119.0);
    Splat(grey359, 359.0);
    Splat(grey239, 239.0);

    // RgbToHsl. A grey divides by 1 instead of by zero: its d and its
    // numerator are 0, so S comes out 0 as it should, and its hue is set
    // below.
    D max = r > g ? r : g;
    max = max > b ? max : b;
    D min = r < g ? r : g;
    min = min < b ? min : b;
    const D sum = max + min;
    const D l = sum * 0.5;  // the same value as sum / 2
    const M grey = max == min;
    const D d = max - min;
    const D s = d / (grey ? one : (l < 0.5 ? sum : two - max - min));
    const M redMax = r == max;
    const M greenMax = ~redMax & (g == max);
    const D num = redMax ? g - b : (greenMax ? b - r : r - g);
    const D quotient = num / (grey ? one : d);
    D h = redMax ? quotient : (greenMax ? two : four) + quotient;
    // |numerator| <= d, so H x 60 lies in -60..300: only red's negative
    // side needs the wrap.
    h = h * 60.0;
    h = h < 0.0 ? h + 360.0 : h;

    // ShiftHsl, with a hue shift in 0..360: the sum is never negative.
    // Neither l nor s is ever -0, so max/min clamp exactly as the tests do.
    h = h + shifts.hue;
    h = h > d360 ? h - 360.0 : h;
    D ls = l + shifts.lightness;
    ls = ls > zero ? ls : zero;
    ls = ls < one ? ls : one;
    D ss = s + shifts.saturation;
    ss = ss > zero ? ss : zero;
    ss = ss < one ? ss : one;
    ss = grey ? zero : ss;  // a grey takes no saturation

    // HslToRgb. For a defined hue (0..360) red's H + 120 only wraps down
    // and blue's H - 120 only up; a grey's undefined hue -1 wraps to 119,
    // 359 and 239.
    const D m2 = ls <= 0.5 ? ls * (1.0 + ss) : ls + ss - ls * ss;
    const D m1 = 2.0 * ls - m2;
    D hr = h + 120.0;
    hr = hr > d360 ? hr - 360.0 : hr;
    hr = grey ? grey119 : hr;
    const D hg = grey ? grey359 : h;
    D hb = h - 120.0;
    hb = hb < 0.0 ? hb + 360.0 : hb;
    hb = grey ? grey239 : hb;

    // A hue h is on a ramp when h < 60 or 180 <= h < 240, that is when
    // w < 60 with w = h - 180 for h >= 180 (exact there) and w = h below.
    const M upperR = hr >= 180.0, upperG = hg >= 180.0, upperB = hb >= 180.0;
    const M rampR = (upperR ? hr - 180.0 : hr) < 60.0;
    const M rampG = (upperG ? hg - 180.0 : hg) < 60.0;
    const M rampB = (upperB ? hb - 180.0 : hb) < 60.0;
    scalar = Any((rampR & rampG) | (rampR & rampB) | (rampG & rampB));
    const D hRamp = rampR ? hr : (rampG ? hg : hb);
    const D t = hRamp < 60.0 ? hRamp : 240.0 - hRamp;
    const D ramp = m1 + (m2 - m1) * t / 60.0;
    // Off the ramps: 60 <= h < 180 gives m2, h >= 240 gives m1.
    const D red = rampR ? ramp : (upperR ? m1 : m2);
    const D green = rampG ? ramp : (upperG ? m1 : m2);
    const D blue = rampB ? ramp : (upperB ? m1 : m2);

    // m1, m2 and the ramps between them lie within a few units in the last
    // place of 0..1, so x 255 truncates to 0..255 without a clamp.
    return ToByte(blue) | (ToByte(green) << 8) | (ToByte(red) << 16);
  }

  // 2N pixels (two groups) read from and written back to px with plain
  // loads and stores.
  static QB_INLINE void Load(const std::uint8_t* px, D (&r)[2], D (&g)[2], D (&b)[2]) {
    const std::array<double, 256>& unit = UnitLevels();
    for (int k = 0; k < 2; ++k) {
      double rs[N], gs[N], bs[N];
      for (int i = 0; i < N; ++i) {
        const std::uint8_t* p = px + 3 * (N * k + i);
        bs[i] = unit[p[0]];
        gs[i] = unit[p[1]];
        rs[i] = unit[p[2]];
      }
      std::memcpy(&r[k], rs, sizeof rs);
      std::memcpy(&g[k], gs, sizeof gs);
      std::memcpy(&b[k], bs, sizeof bs);
    }
  }

  // The same for 2N colours packed B | G << 8 | R << 16.
  static QB_INLINE void LoadPacked(const std::uint32_t* in, D (&r)[2], D (&g)[2], D (&b)[2]) {
    const std::array<double, 256>& unit = UnitLevels();
    for (int k = 0; k < 2; ++k) {
      double rs[N], gs[N], bs[N];
      for (int i = 0; i < N; ++i) {
        const std::uint32_t c = in[N * k + i];
        bs[i] = unit[c & 0xFF];
        gs[i] = unit[(c >> 8) & 0xFF];
        rs[i] = unit[c >> 16];
      }
      std::memcpy(&r[k], rs, sizeof rs);
      std::memcpy(&g[k], gs, sizeof gs);
      std::memcpy(&b[k], bs, sizeof bs);
    }
  }

  // Overlapping 4-byte writes, each next one rewriting the byte the
  // previous wrote past its pixel, and the last pixel's three bytes.
  static QB_INLINE void Store(std::uint8_t* px, const I& first, const I& second) {
    for (int i = 0; i < 2 * N; ++i) {
      const std::uint32_t w = static_cast<std::uint32_t>(i < N ? first[i] : second[i - N]);
      if (i < 2 * N - 1) {
        std::memcpy(px + 3 * i, &w, 4);
      } else {
        px[3 * i] = static_cast<std::uint8_t>(w);
        px[3 * i + 1] = static_cast<std::uint8_t>(w >> 8);
        px[3 * i + 2] = static_cast<std::uint8_t>(w >> 16);
      }
    }
  }
};

using Sse2Lanes = Lanes<V2d, V2m, V4i, 2>;

__attribute__((noinline)) void AdjustPixel(std::uint8_t* p, const Shifts& shifts) {
  const Rgb8 out = AdjustColor({p[2], p[1], p[0]}, shifts);
  p[0] = out.b;
  p[1] = out.g;
  p[2] = out.r;
}

__attribute__((noinline)) std::uint32_t AdjustPacked(std::uint32_t c, const Shifts& shifts) {
  const Rgb8 out = AdjustColor(
      {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)}, shifts);
  return out.b | std::uint32_t{out.g} << 8 | std::uint32_t{out.r} << 16;
}

// 2N packed colours in, their results out.
template <class L>
QB_INLINE void AdjustPackedPair(const std::uint32_t* in, std::uint32_t* out, const Shifts& shifts) {
  typename L::D r[2], g[2], b[2];
  L::LoadPacked(in, r, g, b);
  bool scalar1 = false, scalar2 = false;
  const typename L::I first = L::Compute(r[0], g[0], b[0], shifts, scalar1);
  const typename L::I second = L::Compute(r[1], g[1], b[1], shifts, scalar2);
  if (__builtin_expect(scalar1 | scalar2, 0)) {
    for (int i = 0; i < 2 * L::N; ++i) out[i] = AdjustPacked(in[i], shifts);
  } else {
    for (int i = 0; i < L::N; ++i) {
      out[i] = static_cast<std::uint32_t>(first[i]);
      out[L::N + i] = static_cast<std::uint32_t>(second[i]);
    }
  }
}

// `count` packed colours; a last short pair is filled up with copies of
// the last colour.
template <class L>
QB_INLINE void AdjustPackedColours(const std::uint32_t* in, std::uint32_t* out, int count, const Shifts& shifts) {
  constexpr int kStep = 2 * L::N;
  int i = 0;
  for (; i + kStep <= count; i += kStep) AdjustPackedPair<L>(in + i, out + i, shifts);
  if (i < count) {
    std::uint32_t padded[kStep], results[kStep];
    for (int k = 0; k < kStep; ++k) padded[k] = in[std::min(i + k, count - 1)];
    AdjustPackedPair<L>(padded, results, shifts);
    for (int k = 0; i + k < count; ++k) out[i + k] = results[k];
  }
}

// The memory of colours met: a direct-mapped table of results. A colour
// is first scrambled by a bijection of the 24-bit values (multiplication
// by an odd number modulo 2^24); the high bits of the scrambled value
// choose the slot and the low ones, its tag, are kept in the slot's top
// byte above the result, so that slot and tag give back the colour. An
// empty slot's top byte is one no tag has. Every result in it came from
// the formula, so a hit gives the same bytes as working the colour out
// again.
constexpr int kMemoryBits = 18;             // 2^18 slots of 4 bytes: 1 MiB
constexpr int kTagBits = 24 - kMemoryBits;  // 6
constexpr std::uint32_t kEmptySlot = 0xFF000000u;
static_assert(kTagBits <= 7, "a tag must fit below the empty slot's top byte");

QB_INLINE std::uint32_t Scrambled(std::uint32_t colour) { return (colour * 0x9E3779B1u) & 0xFFFFFFu; }

// One row through the memory, in chunks: the chunk's colours are looked
// up, those not found worked out together (in vectors) and remembered,
// then the chunk written back. Returns how many pixels were found.
template <class L>
QB_INLINE std::int32_t AdjustRowRemembering(std::uint8_t* row, std::int32_t width, const Shifts& shifts,
                                           std::uint32_t* memory) {
  constexpr int kChunk = 256;
  std::uint32_t colours[kChunk], results[kChunk], missed[kChunk], missedResults[kChunk];
  int missedAt[kChunk];
  std::int32_t found = 0;
  for (std::int32_t x = 0; x < width; x += kChunk) {
    std::uint8_t* p = row + 3 * x;
    const int n = static_cast<int>(std::min<std::int32_t>(kChunk, width - x));
    // Four-byte reads with the byte of the next pixel dropped; the row's
    // last pixel has no next one.
    const int wide = x + n < width ? n : n - 1;
    for (int i = 0; i < wide; ++i) {
      std::uint32_t w;
      std::memcpy(&w, p + 3 * i, 4);
      colours[i] = w & 0xFFFFFFu;
    }
    if (wide < n) colours[n - 1] = p[3 * n - 3] | p[3 * n - 2] << 8 | p[3 * n - 1] << 16;
    // Without a branch on the outcome: a miss is listed, a hit's result
    // kept (a miss's stand-in is overwritten below). A hit's tag byte
    // stays on top of its result: the writes below never leave that byte
    // in the picture.
    int misses = 0;
    for (int i = 0; i < n; ++i) {
      const std::uint32_t key = Scrambled(colours[i]);
      const std::uint32_t slot = memory[key >> kTagBits];
      results[i] = slot;
      missedAt[misses] = i;
      missed[misses] = colours[i];
      misses += (slot >> 24) != (key & ((1u << kTagBits) - 1));
    }
    found += n - misses;
    AdjustPackedColours<L>(missed, missedResults, misses, shifts);
    for (int j = 0; j < misses; ++j) {
      results[missedAt[j]] = missedResults[j];
      const std::uint32_t key = Scrambled(missed[j]);
      memory[key >> kTagBits] = (key & ((1u << kTagBits) - 1)) << 24 | missedResults[j];
    }
    // Overlapping four-byte writes in order, each rewriting the byte the
    // previous one wrote past its pixel; the chunk's last pixel in three.
    for (int i = 0; i + 1 < n; ++i) std::memcpy(p + 3 * i, &results[i], 4);
    p[3 * n - 3] = static_cast<std::uint8_t>(results[n - 1]);
    p[3 * n - 2] = static_cast<std::uint8_t>(results[n - 1] >> 8);
    p[3 * n - 1] = static_cast<std::uint8_t>(results[n - 1] >> 16);
  }
  return found;
}

// A memory of colours and whether it is paying. Filled only for a
// picture large enough to repay it (kAuto); after kWarmPixels, consulted
// until a stretch of kJudgedPixels finds fewer than half its colours
// there, then left alone for kRestPixels before it is tried again, so
// that random pixels lose little to it. Its slots are allocated at the
// first row that uses it; without the memory for them, rows go without.
class RowMemory {
 public:
  RowMemory(ColourMemory use, std::int64_t pixels)
      : use_(use == ColourMemory::kAuto && pixels < kWorthPixels ? ColourMemory::kNever : use) {}

  // The memory for the next row of `width` pixels, or none.
  std::uint32_t* ForRow(std::int32_t width) {
    if (use_ == ColourMemory::kNever) return nullptr;
    if (resting_ > 0) {
      resting_ -= width;
      return nullptr;
    }
    if (!slots_) {
      slots_.reset(new (std::nothrow) std::uint32_t[std::size_t{1} << kMemoryBits]);
      if (!slots_) {
        use_ = ColourMemory::kNever;
        return nullptr;
      }
      std::fill_n(slots_.get(), std::size_t{1} << kMemoryBits, kEmptySlot);
    }
    return slots_.get();
  }

  // What the row ForRow gave the memory to found.
  void Count(std::int32_t width, std::int32_t found) {
    if (use_ != ColourMemory::kAuto) return;
    if (warming_ > 0) {
      warming_ -= width;
      return;
    }
    looked_ += width;
    found_ += found;
    if (looked_ < kJudgedPixels) return;
    if (found_ * 2 < looked_) resting_ = kRestPixels;
    looked_ = found_ = 0;
  }

 private:
  static constexpr std::int64_t kWorthPixels = std::int64_t{1} << 18;
  static constexpr std::int64_t kWarmPixels = std::int64_t{1} << 16;
  static constexpr std::int64_t kJudgedPixels = std::int64_t{1} << 15;
  static constexpr std::int64_t kRestPixels = std::int64_t{1} << 21;

  ColourMemory use_;
  std::unique_ptr<std::uint32_t[]> slots_;
  std::int64_t warming_ = kWarmPixels, looked_ = 0, found_ = 0, resting_ = 0;
};

// The memories of one call: a range takes a free one, warm from the ranges
// before it, and gives it back for the next, so that there are only as
// many as ranges that run at once.
class Memories {
 public:
  Memories(ColourMemory use, std::int64_t pixels) : use_(use), pixels_(pixels) {}

  std::unique_ptr<RowMemory> Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<RowMemory> memory = std::move(free_.back());
        free_.pop_back();
        return memory;
      }
    }
    return std::make_unique<RowMemory>(use_, pixels_);
  }

  void Give(std::unique_ptr<RowMemory> memory) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(memory));
  }

 private:
  const ColourMemory use_;
  const std::int64_t pixels_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<RowMemory>> free_;
};

// One row (p, width): two groups at a time, independent work enough to
// hide the latency of the divisions, then the rest one by one. The pixels
// of a pair of groups that needs the scalar code stay as they were until
// it runs. A macro, not a template, so that the AVX2 copy can inline
// AVX2 helpers.
#define QB_ADJUST_ROW(L, Load, Store)                                         \
  do {                                                                        \
    constexpr int kStep = 2 * L::N;                                           \
    std::int32_t x = 0;                                                       \
    for (; x + kStep <= width; x += kStep, p += 3 * kStep) {                  \
      L::D r[2], g[2], b[2];                                                  \
      Load(p, r, g, b);                                                       \
      bool scalar1 = false, scalar2 = false;                                  \
      const L::I first = L::Compute(r[0], g[0], b[0], shifts, scalar1);       \
      const L::I second = L::Compute(r[1], g[1], b[1], shifts, scalar2);      \
      if (__builtin_expect(scalar1 | scalar2, 0)) {                           \
        for (int i = 0; i < kStep; ++i) AdjustPixel(p + 3 * i, shifts);       \
      } else {                                                                \
        Store(p, first, second);                                              \
      }                                                                       \
    }                                                                         \
    for (; x < width; ++x, p += 3) AdjustPixel(p, shifts);                    \
  } while (false)

// Rows [first, end), each through the memory when it offers itself.
#define QB_ADJUST_ROWS(L, Store)                                                           \
  do {                                                                                     \
    const std::int32_t width = pixels.width();                                             \
    for (std::int32_t y = first; y < end; ++y) {                                           \
      std::uint8_t* p = pixels.Row(y);                                                     \
      if (std::uint32_t* slots = memory.ForRow(width)) {                                   \
        memory.Count(width, AdjustRowRemembering<L>(p, width, shifts, slots));             \
      } else {                                                                             \
        QB_ADJUST_ROW(L, L::Load, Store);                                                  \
      }                                                                                    \
    }                                                                                      \
  } while (false)

void AdjustRowsSse2(dib::ImageView pixels, std::int32_t first, std::int32_t end, const Shifts& shifts,
                    RowMemory& memory) {
  QB_ADJUST_ROWS(Sse2Lanes, Sse2Lanes::Store);
}

#if defined(__x86_64__) || defined(__i386__)
#define QB_HAVE_AVX2_PATH 1

typedef double V4d __attribute__((vector_size(32)));
typedef long long V4m __attribute__((vector_size(32)));
using Avx2Lanes = Lanes<V4d, V4m, V4i, 4>;

// Eight results packed to 24 bytes with byte shuffles and written with
// three stores. (Gathering the levels with AVX2 gathers instead of the
// plain loads is slower.)
__attribute__((always_inline, target("avx2"))) inline void StoreAvx2(std::uint8_t* px, const V4i& first,
                                                                      const V4i& second) {
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m128i a = _mm_shuffle_epi8(reinterpret_cast<__m128i>(first), pack);
  const __m128i b = _mm_shuffle_epi8(reinterpret_cast<__m128i>(second), pack);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(px), a);  // bytes 12..15 rewritten next
  _mm_storel_epi64(reinterpret_cast<__m128i*>(px + 12), b);
  const std::uint32_t tail = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(b, 8)));
  std::memcpy(px + 20, &tail, 4);
}

QB_AVX2_ENTRY void AdjustRowsAvx2(dib::ImageView pixels, std::int32_t first, std::int32_t end,
                                  const Shifts& shifts, RowMemory& memory) {
  QB_ADJUST_ROWS(Avx2Lanes, StoreAvx2);
}
#endif

}  // namespace

void AdjustPixels(dib::ImageView pixels, const Shifts& shifts, ColourMemory memory) {
  // The vector code relies on the ranges MakeShifts gives.
  if (!(shifts.hue >= 0.0 && shifts.hue <= 360.0) || !std::isfinite(shifts.lightness) ||
      !std::isfinite(shifts.saturation)) {
    AdjustPixelsScalar(pixels, shifts);
    return;
  }
  [[maybe_unused]] const bool avx2 = simd::Current() == simd::Level::kAvx2;
  const std::int64_t width = pixels.width(), height = pixels.height();
  // Whichever memory a range takes, every result in it is the formula's,
  // so the bytes do not depend on how the rows were cut and shared.
  Memories memories(memory, width * height);
  work::ForEachRange(height, work::RowGrain(width, height), [&](std::int64_t begin, std::int64_t end) {
    std::unique_ptr<RowMemory> rows = memories.Take();
    const auto first = static_cast<std::int32_t>(begin), last = static_cast<std::int32_t>(end);
#ifdef QB_HAVE_AVX2_PATH
    if (avx2) {
      AdjustRowsAvx2(pixels, first, last, shifts, *rows);
    } else
#endif
    {
      AdjustRowsSse2(pixels, first, last, shifts, *rows);
    }
    memories.Give(std::move(rows));
  });
}

void AdjustColorTable(std::uint8_t* table, std::uint32_t entries, std::uint32_t entrySize,
                      const Shifts& shifts) {
  for (std::uint32_t i = 0; i < entries; ++i, table += entrySize) {
    const Rgb8 out = AdjustColor({table[2], table[1], table[0]}, shifts);
    table[0] = out.b;
    table[1] = out.g;
    table[2] = out.r;
  }
}

dib::DibStatus AdjustColors(std::span<std::uint8_t> block, const Shifts& shifts) {
  dib::DibLayout layout;
  const dib::DibStatus status = dib::Validate(block, dib::kPaletteDepths | dib::kDepth24, layout);
  if (status != dib::DibStatus::kOk) return status;
  if (layout.bitCount <= 8) {
    AdjustColorTable(block.data() + layout.colorTableOffset, layout.colorTableEntries,
                     layout.colorEntrySize, shifts);
  } else {
    AdjustPixels(dib::PixelsOf(block.data(), layout), shifts);
  }
  return dib::DibStatus::kOk;
}

}  // namespace qb::color
