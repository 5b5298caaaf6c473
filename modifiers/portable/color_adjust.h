// Colour adjustment: hue, lightness and saturation shifts of every colour of
// a picture, through the hue/lightness/saturation model in double
// precision.
//
// One colour goes R,G,B -> RgbToHsl -> ShiftHsl -> HslToRgb -> R,G,B; every
// step below is evaluated exactly as written (same operations, same order,
// truncation toward zero), so results are reproducible to the bit in both
// builds. Hue is in degrees 0..360, kUndefinedHue (-1) for a grey;
// lightness and saturation are in 0..1.
//
// Two ways to walk 24-bit pixels give the same bytes: AdjustPixelsScalar,
// the plain per-pixel formula, and AdjustPixels, the same formula on
// several pixels at a time in vectors of doubles (SSE2, or AVX2 where the
// processor has it; see simd_level.h), on the process's worker pool for a
// large picture, remembering the results of the colours it has met (a
// photo repeats its colours many times over). Palette pictures have their
// colour table adjusted instead (AdjustColorTable); their pixel indices
// stay.
#pragma once

#include <cstdint>
#include <span>

#include "base/portable/dib_format.h"

namespace qb::color {

inline constexpr double kUndefinedHue = -1.0;

struct Hsl {
  double h = kUndefinedHue;
  double l = 0.0;
  double s = 0.0;
};

struct Rgb8 {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb8&, const Rgb8&) = default;
};

// The three shifts of one adjustment, prepared from the property values.
struct Shifts {
  double hue = 0.0;         // degrees, 0..360
  double lightness = 0.0;   // lightness / 100
  double saturation = 0.0;  // saturation / 100
};

// hue: degrees, any value; a value beyond one turn either way is first
// reduced by whole turns (720 acts as 0, -480 as -120), then a negative one
// has 360 added. lightness and saturation: percent, any value (the shifted
// values are clamped to 0..1, so beyond +-100 nothing more happens).
Shifts MakeShifts(std::int32_t hue, std::int32_t lightness, std::int32_t saturation);

// r = R / 255.0 and so on; L = (max + min) / 2. A grey (max == min) has S 0
// and hue kUndefinedHue. Otherwise d = max - min, S = d / (max + min) when
// L < 0.5 else d / (2 - max - min); H = (g - b) / d when red is the largest
// (red wins ties, then green), 2 + (b - r) / d when green is, else
// 4 + (r - g) / d; H x 60, then +360 if negative or -360 if above 360.
Hsl RgbToHsl(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// A defined hue + shift (one wrap into 0..360); L + shift and S + shift,
// each clamped to 0..1. A grey (undefined hue) keeps S 0: it has no hue that
// more saturation could bring out, so it stays a grey at any shift.
Hsl ShiftHsl(Hsl hsl, const Shifts& shifts);

// h wrapped once (above 360: -360, negative: +360); then h < 60 gives
// m1 + (m2 - m1) x h / 60, h < 180 gives m2, h < 240 gives
// m1 + (m2 - m1) x (240 - h) / 60, otherwise m1.
double HueToChannel(double m1, double m2, double h);

// m2 = L x (1 + S) when L <= 0.5, else L + S - L x S; m1 = 2 L - m2. An
// undefined hue is the grey (L, L, L), whatever S says; every other colour
// is HueToChannel at H + 120, H and H - 120 for red, green and blue. A
// colour whose saturation became 0 keeps the grey of its lightness
// (m1 = m2 = L). Each value x 255.0, truncated toward zero and clamped to
// 0..255.
Rgb8 HslToRgb(Hsl hsl);

// The whole round trip for one colour.
Rgb8 AdjustColor(Rgb8 colour, const Shifts& shifts);

// How AdjustPixels uses its memory of colours met: kAuto consults it on a
// picture large enough to repay filling it and stops consulting it, for a
// while, where too few colours come again (random pixels); kNever and
// kAlways force either way (tests and benchmarks). The bytes are the same
// whichever is chosen: a remembered result is the one the formula gave.
enum class ColourMemory { kAuto, kNever, kAlways };

// In place over the 3 x width pixel bytes (blue, green, red) of every row;
// padding and rows outside the view are not touched.
void AdjustPixelsScalar(dib::ImageView pixels, const Shifts& shifts);
void AdjustPixels(dib::ImageView pixels, const Shifts& shifts, ColourMemory memory = ColourMemory::kAuto);

// In place over `entries` colour-table entries of entrySize bytes each
// (blue, green, red first; a fourth byte stays as it is). entrySize is 3 or
// 4; the caller has checked that entries x entrySize bytes exist.
void AdjustColorTable(std::uint8_t* table, std::uint32_t entries, std::uint32_t entrySize,
                      const Shifts& shifts);

// Adjusts a whole block in place: a 1-, 4- or 8-bit picture through its
// colour table (the entries the block really holds, after the header's own
// size), a 24-bit picture through its pixels in its own row order. Returns
// Validate's failure for any other block, which is left untouched
// (kDepthNotHandled for 16- and 32-bit pictures: convert them first).
dib::DibStatus AdjustColors(std::span<std::uint8_t> block, const Shifts& shifts);

}  // namespace qb::color
