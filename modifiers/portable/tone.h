// Brightness and contrast: per-channel tone curves applied to 24-bit rows.
//
// Both curves act on each of blue, green and red alike, so each reduces to
// one 256-entry table; the walks below evaluate them with SSE2 arithmetic
// that reproduces the table exactly, and touch only the 3 x width pixel
// bytes of each row (padding stays as it is).
#pragma once

#include <array>
#include <cstdint>

#include "base/portable/dib_format.h"

namespace qb::tone {

using Curve = std::array<uint8_t, 256>;

// ch + offset clamped to 0..255.
uint8_t ShiftChannel(int ch, int offset);

// The contrast curve for a in -50..50. a >= 0: lo = a, hi = 255 - a,
// f = (hi - lo) / 255 in single precision; ch <= lo gives 0, ch >= hi gives
// 255, otherwise trunc((ch - lo) / f) with the division in double
// precision. a < 0: f = 255 / ((a + 255) + a) in single precision and the
// result is trunc(ch / f) - a. A level outside -50..50 counts as the nearer
// end (ClampLevel).
uint8_t StretchChannel(int ch, int a);

Curve ShiftCurve(int offset);
Curve StretchCurve(int a);

// Clamp a property value to -50..50.
int32_t ClampLevel(int32_t value);

// In place over the rows of a 24-bit picture.
void ShiftChannels(dib::ImageView pixels, int offset);
void StretchChannels(dib::ImageView pixels, int a);

// The plain table walk, for any curve.
void ApplyCurve(dib::ImageView pixels, const Curve& curve);

}  // namespace qb::tone
