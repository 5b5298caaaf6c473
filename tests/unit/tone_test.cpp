// The tone curves of brightness and contrast, and the vector walks that
// apply them, compared with the plain per-channel formulas.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "modifiers/portable/tone.h"

namespace tone = qb::tone;
namespace dib = qb::dib;

namespace {

// A bottom-up 24-bit picture in plain memory with marked padding bytes.
struct Picture {
  Picture(int32_t w, int32_t h, uint32_t seed) : width(w), height(h) {
    stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
    bytes.assign(static_cast<size_t>(stride) * h, 0xA5);
    std::mt19937 random(seed);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t i = 0; i < 3 * w; ++i) bytes[y * stride + i] = static_cast<uint8_t>(random());
  }
  dib::ImageView view() { return dib::ImageView(bytes.data(), width, height, stride, true); }
  int32_t width, height;
  uint32_t stride;
  std::vector<uint8_t> bytes;
};

}  // namespace

TEST(ToneCurve, BrightnessExamples) {
  // (B, G, R) = (10, 230, 250) brightened by 50, (30, 60, 255) darkened by 50.
  EXPECT_EQ(60, tone::ShiftChannel(10, 50));
  EXPECT_EQ(255, tone::ShiftChannel(230, 50));
  EXPECT_EQ(255, tone::ShiftChannel(250, 50));
  EXPECT_EQ(0, tone::ShiftChannel(30, -50));
  EXPECT_EQ(10, tone::ShiftChannel(60, -50));
  EXPECT_EQ(205, tone::ShiftChannel(255, -50));
}

TEST(ToneCurve, ContrastExamples) {
  for (int ch = 0; ch <= 50; ++ch) EXPECT_EQ(0, tone::StretchChannel(ch, 50)) << ch;
  for (int ch = 205; ch <= 255; ++ch) EXPECT_EQ(255, tone::StretchChannel(ch, 50)) << ch;
  EXPECT_EQ(128, tone::StretchChannel(128, 50));
  EXPECT_EQ(82, tone::StretchChannel(100, 50));
  EXPECT_EQ(50, tone::StretchChannel(81, 50)) << "the single-precision factor is a little above 155/255";
  EXPECT_EQ(50, tone::StretchChannel(0, -50));
  EXPECT_EQ(205, tone::StretchChannel(255, -50));
  EXPECT_EQ(127, tone::StretchChannel(128, -50));
  EXPECT_EQ(206, tone::StretchChannel(255, -48));
  for (int ch = 0; ch < 256; ++ch) EXPECT_EQ(ch, tone::StretchChannel(ch, 0));
}

TEST(ToneCurve, LevelsAreClampedToFifty) {
  EXPECT_EQ(50, tone::ClampLevel(80));
  EXPECT_EQ(-50, tone::ClampLevel(-200));
  EXPECT_EQ(-50, tone::ClampLevel(INT32_MIN));
  EXPECT_EQ(17, tone::ClampLevel(17));
}

// Levels at the ends of int: the shift saturates, the contrast takes the
// nearer end of its range; the walks agree with the curves.
TEST(ToneCurve, ExtremeLevelsSaturate) {
  for (int ch : {0, 10, 200, 255}) {
    EXPECT_EQ(255, tone::ShiftChannel(ch, INT32_MAX)) << ch;
    EXPECT_EQ(0, tone::ShiftChannel(ch, INT32_MIN)) << ch;
    EXPECT_EQ(tone::StretchChannel(ch, 50), tone::StretchChannel(ch, INT32_MAX)) << ch;
    EXPECT_EQ(tone::StretchChannel(ch, -50), tone::StretchChannel(ch, INT32_MIN)) << ch;
  }
  for (int32_t level : {INT32_MIN, -256, 256, INT32_MAX}) {
    Picture shifted(17, 3, 5), stretched = shifted, shiftedRef = shifted, stretchedRef = shifted;
    tone::ShiftChannels(shifted.view(), level);
    tone::ApplyCurve(shiftedRef.view(), tone::ShiftCurve(level));
    tone::StretchChannels(stretched.view(), level);
    tone::ApplyCurve(stretchedRef.view(), tone::StretchCurve(level));
    EXPECT_EQ(shiftedRef.bytes, shifted.bytes) << level;
    EXPECT_EQ(stretchedRef.bytes, stretched.bytes) << level;
  }
}

// Every level, on odd widths (row tails shorter than a vector) and wide
// rows: the vector walk equals the table walk byte for byte, and the
// padding bytes keep their marks.
TEST(ToneWalk, VectorWalkEqualsTheCurveForEveryLevel) {
  for (int32_t width : {1, 5, 6, 17, 64}) {
    Picture original(width, 7, static_cast<uint32_t>(width));
    for (int level = -50; level <= 50; ++level) {
      Picture shifted = original, shiftedRef = original, stretched = original, stretchedRef = original;
      tone::ShiftChannels(shifted.view(), level);
      tone::ApplyCurve(shiftedRef.view(), tone::ShiftCurve(level));
      tone::StretchChannels(stretched.view(), level);
      tone::ApplyCurve(stretchedRef.view(), tone::StretchCurve(level));
      ASSERT_EQ(shiftedRef.bytes, shifted.bytes) << "brightness " << level << " width " << width;
      ASSERT_EQ(stretchedRef.bytes, stretched.bytes) << "contrast " << level << " width " << width;
    }
  }
}

TEST(ToneWalk, OnlyPixelBytesChange) {
  Picture p(5, 3, 7);  // 15 pixel bytes, 1 padding byte a row
  tone::ShiftChannels(p.view(), 50);
  tone::StretchChannels(p.view(), -30);
  for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(0xA5, p.bytes[y * p.stride + 15]);
}
