// Colour adjustment: the worked colours (a colour losing its saturation
// keeps the grey of its lightness), the full hue wrap, the palette and
// pixel walks, and the vector walk against the per-pixel formula on random
// colours and a real photo.
#include "modifiers/portable/color_adjust.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/portable/work_pool.h"
#include "rastrum/portable/codecs.h"
#include "tests/unit/modifier_blocks.h"

namespace qb::color {

void PrintTo(const Rgb8& c, std::ostream* os) { *os << "(r" << +c.r << " g" << +c.g << " b" << +c.b << ")"; }

namespace {

using test_blocks::Bytes;
using test_blocks::MakeBlock;

constexpr Rgb8 kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

struct ColourCase {
  const char* name;
  std::int32_t hue, lightness, saturation;
  Rgb8 in, out;
};

class WorkedColours : public testing::TestWithParam<ColourCase> {};

TEST_P(WorkedColours, GiveTheirResult) {
  const ColourCase& c = GetParam();
  EXPECT_EQ(c.out, AdjustColor(c.in, MakeShifts(c.hue, c.lightness, c.saturation)));
}

INSTANTIATE_TEST_SUITE_P(
    ColorAdjust, WorkedColours,
    testing::Values(
        // The round trip truncates: (B,G,R) = (50,100,200) comes back as (49,100,200).
        ColourCase{"RoundTripTruncates", 0, 0, 0, {200, 100, 50}, {200, 100, 49}},
        ColourCase{"GreyKept", 0, 0, 0, {51, 51, 51}, {51, 51, 51}},
        ColourCase{"RedKept", 0, 0, 0, kRed, kRed},
        ColourCase{"GreenKept", 0, 0, 0, kGreen, kGreen},
        ColourCase{"BlueKept", 0, 0, 0, kBlue, kBlue},
        ColourCase{"Hue120RedToGreen", 120, 0, 0, kRed, kGreen},
        ColourCase{"HueMinus120RedToBlue", -120, 0, 0, kRed, kBlue},
        ColourCase{"Hue240RedToBlue", 240, 0, 0, kRed, kBlue},
        ColourCase{"HueLeavesGrey", 77, 0, 0, {90, 90, 90}, {90, 90, 90}},
        ColourCase{"LightnessMinus100Black", 0, -100, 0, {200, 100, 50}, {0, 0, 0}},
        ColourCase{"LightnessMinus100OnWhite", 0, -100, 0, {255, 255, 255}, {0, 0, 0}},
        ColourCase{"LightnessPlus100White", 0, 100, 0, {200, 100, 50}, {255, 255, 255}},
        ColourCase{"SaturationMinus100KeepsGrey", 0, 0, -100, {51, 51, 51}, {51, 51, 51}},
        // Its lightness is (200 + 50) / 2 / 255: the grey 125, not black.
        ColourCase{"SaturationMinus100GivesGreyOfLightness", 0, 0, -100, {200, 100, 50}, {125, 125, 125}},
        ColourCase{"SaturationMinus100OnRed", 0, 0, -100, kRed, {127, 127, 127}},
        // A grey has no hue for more saturation to bring out: it stays
        // grey (the formula's hue -1 would tint it red).
        ColourCase{"SaturationPlus40OnGrey", 0, 0, 40, {51, 51, 51}, {51, 51, 51}},
        ColourCase{"SaturationPlus10OnMidGrey", 0, 0, 10, {128, 128, 128}, {128, 128, 128}},
        ColourCase{"SaturationPlus50OnMidGrey", 0, 0, 50, {128, 128, 128}, {128, 128, 128}},
        ColourCase{"SaturationPlus100OnMidGrey", 0, 0, 100, {128, 128, 128}, {128, 128, 128}},
        ColourCase{"SaturationPlus100OnWhite", 0, 0, 100, {255, 255, 255}, {255, 255, 255}},
        // Lightness still moves a grey: (51 / 255 + 0.2) x 255 = 102.
        ColourCase{"SaturationAndLightnessOnGrey", 90, 20, 100, {51, 51, 51}, {102, 102, 102}},
        // A near-grey has a hue, so saturation does bring it out.
        ColourCase{"SaturationPlus50OnNearGrey", 0, 0, 50, {129, 128, 128}, {192, 64, 64}}),
    [](const testing::TestParamInfo<ColourCase>& info) { return info.param.name; });

// Hue values a whole number of turns apart give the same shift, however
// large; within one turn either way a value is taken as it is.
TEST(ColorAdjust, HueWrapsWholeTurns) {
  const std::int32_t pairs[][2] = {{720, 0},   {-480, -120},      {-720, 0},          {370, 10},
                                   {360, 360}, {INT32_MIN, -128}, {INT32_MAX, 127}, {-360, 0}};
  for (const auto& pair : pairs) EXPECT_EQ(MakeShifts(pair[1], 0, 0).hue, MakeShifts(pair[0], 0, 0).hue) << pair[0];
  EXPECT_EQ(240.0, MakeShifts(-480, 0, 0).hue);
}

// The vector walk gives the per-pixel formula's bytes, padding untouched,
// with and without the memory of colours: odd widths (the tail done one by
// one, a memory chunk cut short), both row orders, extreme and ordinary
// shifts, and a colour two of whose hues land on ramp edges with hue 1
// (done by the formula).
TEST(ColorAdjust, VectorWalkEqualsFormulaOnRandomPictures) {
  const std::int32_t settings[][3] = {{0, 0, 0},       {120, 0, 0},      {-120, 20, -30}, {37, -13, 55},
                                      {359, 100, -100}, {720, -100, 100}, {-1, 1, 1},      {1, 0, 0}};
  for (std::int32_t width : {1, 7, 8, 9, 33, 300}) {
    for (std::int32_t height : {5, -3}) {
      Bytes original = MakeBlock(width, height, 24, static_cast<std::uint32_t>(width * 10 + height));
      const std::uint8_t edge[3] = {6, 65, 66};  // B, G, R
      std::copy(edge, edge + 3, original.begin() + 40 + 3 * (width / 2));
      for (const auto& s : settings) {
        const Shifts shifts = MakeShifts(s[0], s[1], s[2]);
        Bytes plain = original;
        AdjustPixelsScalar(dib::PixelsOf(plain.data(), test_blocks::LayoutOf(plain)), shifts);
        test_blocks::ForEachSimdLevel([&](const char* simd) {
          for (const ColourMemory memory : {ColourMemory::kNever, ColourMemory::kAlways}) {
            Bytes fast = original;
            AdjustPixels(dib::PixelsOf(fast.data(), test_blocks::LayoutOf(fast)), shifts, memory);
            ASSERT_EQ(plain, fast) << width << "x" << height << " hue " << s[0] << " " << simd << " memory "
                                   << static_cast<int>(memory);
          }
        });
      }
    }
  }
}

// Every grey stays itself at any saturation shift, in every walk.
TEST(ColorAdjust, GreysStayGreyAtEverySaturation) {
  Bytes greys = MakeBlock(256, 1, 24, 1);  // the ramp of all 256 greys
  const dib::DibLayout layout = test_blocks::LayoutOf(greys);
  for (int v = 0; v < 256; ++v) std::fill_n(greys.begin() + layout.pixelOffset + 3 * v, 3, static_cast<std::uint8_t>(v));
  for (std::int32_t saturation : {10, 50, 100, 1000}) {
    const Shifts shifts = MakeShifts(33, 0, saturation);
    Bytes plain = greys;
    AdjustPixelsScalar(dib::PixelsOf(plain.data(), layout), shifts);
    EXPECT_EQ(greys, plain) << "saturation " << saturation;
    test_blocks::ForEachSimdLevel([&](const char* simd) {
      Bytes fast = greys;
      AdjustPixels(dib::PixelsOf(fast.data(), layout), shifts);
      EXPECT_EQ(greys, fast) << "saturation " << saturation << " " << simd;
    });
  }
}

// The bundled photo as a 24-bit block; empty when no folder of samples is
// named or the photo cannot be read or decoded.
Bytes DecodedSample() {
#ifdef _WIN32
  const char* dir = std::getenv("QB_SAMPLES_WIN");  // the same folder as Windows names it
#else
  const char* dir = std::getenv("QB_GOEXIF_DIR");
#endif
  if (dir == nullptr) return {};
  std::ifstream in(std::filesystem::path(dir) / "sample1.jpg", std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  rastrum::VectorAllocator decoded;
  if (file.empty() || rastrum::DecodeJpeg(file, decoded) != rastrum::kOk) return {};
  return decoded.block;
}

// A picture large enough for the worker pool: the photo tiled, under 100
// rows of random pixels (where the memory stops paying; it is tried again,
// and pays, in the photo). Every level, use of the memory and thread count gives
// the formula's bytes.
TEST(ColorAdjust, SameBytesAtEveryThreadCountAndMemoryUse) {
  Bytes sample = DecodedSample();
  if (sample.empty()) GTEST_SKIP() << "no sample photo (QB_GOEXIF_DIR)";
  const dib::ImageView photo = dib::PixelsOf(sample.data(), test_blocks::LayoutOf(sample));
  Bytes original = MakeBlock(2000, 1200, 24, 5);
  const dib::ImageView big = dib::PixelsOf(original.data(), test_blocks::LayoutOf(original));
  for (std::int32_t y = 100; y < big.height(); ++y) {
    for (std::int32_t x = 0; x < big.width(); ++x) {
      std::copy_n(photo.Row(y % photo.height()) + 3 * (x % photo.width()), 3, big.Row(y) + 3 * x);
    }
  }
  const Shifts shifts = MakeShifts(-37, 15, -40);
  Bytes plain = original;
  AdjustPixelsScalar(dib::PixelsOf(plain.data(), test_blocks::LayoutOf(plain)), shifts);
  test_blocks::ForEachSimdLevel([&](const char* simd) {
    for (const ColourMemory memory : {ColourMemory::kNever, ColourMemory::kAuto, ColourMemory::kAlways}) {
      for (int threads : {1, 2, 3}) {
        work::SetThreadCount(threads);
        Bytes fast = original;
        AdjustPixels(dib::PixelsOf(fast.data(), test_blocks::LayoutOf(fast)), shifts, memory);
        work::SetThreadCount(0);
        ASSERT_EQ(plain, fast) << simd << " memory " << static_cast<int>(memory) << " threads " << threads;
      }
    }
  });
}

TEST(ColorAdjust, VectorWalkEqualsFormulaOnAPhoto) {
  const Bytes sample = DecodedSample();
  if (sample.empty()) GTEST_SKIP() << "no sample photo (QB_GOEXIF_DIR)";
  for (const auto& s : {std::array<std::int32_t, 3>{0, 0, 0}, {45, 10, 30}, {-90, -20, -60}}) {
    Bytes plain = sample;
    AdjustPixelsScalar(dib::PixelsOf(plain.data(), test_blocks::LayoutOf(plain)), MakeShifts(s[0], s[1], s[2]));
    test_blocks::ForEachSimdLevel([&](const char* simd) {
      Bytes fast = sample;
      ASSERT_EQ(dib::DibStatus::kOk, AdjustColors(fast, MakeShifts(s[0], s[1], s[2])));
      ASSERT_EQ(plain, fast) << "hue " << s[0] << " " << simd;
    });
  }
}

// Palette pictures: the entries the block holds change, the indices and
// everything after the table stay.
TEST(ColorAdjust, PaletteBlocksChangeTheirTableOnly) {
  struct Case {
    std::uint16_t bits;
    std::uint32_t clrUsed;
  };
  for (const Case c : {Case{1, 0}, Case{4, 0}, Case{4, 5}, Case{8, 0}, Case{8, 3}, Case{8, 300}}) {
    Bytes block = MakeBlock(5, 3, c.bits, c.bits + c.clrUsed, c.clrUsed <= (1u << c.bits) ? c.clrUsed : 0u);
    if (c.clrUsed > (1u << c.bits)) dib::StoreU32(block.data() + 32, c.clrUsed);  // more than the depth has
    const Bytes before = block;
    const dib::DibLayout layout = test_blocks::LayoutOf(block);
    ASSERT_EQ(dib::DibStatus::kOk, AdjustColors(block, MakeShifts(120, 0, 0)));
    const std::uint32_t tableEnd = layout.colorTableOffset + 4 * layout.colorTableEntries;
    EXPECT_TRUE(std::equal(before.begin() + tableEnd, before.end(), block.begin() + tableEnd))
        << c.bits << " bits, " << c.clrUsed << " colours";
    for (std::uint32_t i = 0; i < layout.colorTableEntries; ++i) {
      const std::uint8_t* was = before.data() + 40 + 4 * i;
      const std::uint8_t* now = block.data() + 40 + 4 * i;
      const Rgb8 want = AdjustColor({was[2], was[1], was[0]}, MakeShifts(120, 0, 0));
      ASSERT_EQ(want, (Rgb8{now[2], now[1], now[0]})) << "entry " << i;
      ASSERT_EQ(was[3], now[3]);
    }
  }
}

}  // namespace
}  // namespace qb::color
