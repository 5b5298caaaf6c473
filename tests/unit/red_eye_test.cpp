// Red-eye removal: which pixels a rectangle treats, counted from the top
// as seen, clipped to the picture, in both row orders.
#include "modifiers/portable/red_eye.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <functional>
#include <numeric>

#include "tests/unit/modifier_blocks.h"

namespace qb::redeye {
namespace {

using test_blocks::Bytes;

struct RectCase {
  const char* name;
  PixelRect rect;
  // Treated pixels: columns x0..x1-1 and rows y0..y1-1 from the top.
  std::int32_t x0, x1, y0, y1;
};

class RedEyeRects : public testing::TestWithParam<RectCase> {};

// A 5 x 3 picture (rows padded to 16 bytes) of (B,G,R) = (40, 60, 220):
// treated pixels become (40, 60, 60), all other bytes stay.
TEST_P(RedEyeRects, TreatExactlyTheirPixels) {
  const RectCase& c = GetParam();
  for (std::int32_t height : {3, -3}) {
    Bytes block = test_blocks::MakeBlock(5, height, 24, 1);
    const dib::DibLayout layout = test_blocks::LayoutOf(block);
    const dib::ImageView pixels = dib::PixelsOf(block.data(), layout);
    for (std::int32_t y = 0; y < 3; ++y) {
      for (std::int32_t x = 0; x < 5; ++x) std::copy_n(std::array<std::uint8_t, 3>{40, 60, 220}.begin(), 3, pixels.Row(y) + 3 * x);
    }
    const Bytes before = block;
    ASSERT_EQ(dib::DibStatus::kOk, RemoveRedEyeDib(block, c.rect));
    for (std::int32_t y = 0; y < 3; ++y) {
      for (std::int32_t x = 0; x < 5; ++x) {
        const bool inside = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
        const std::uint8_t* p = pixels.Row(y) + 3 * x;
        EXPECT_EQ(40, p[0]);
        EXPECT_EQ(60, p[1]);
        EXPECT_EQ(inside ? 60 : 220, p[2]) << "pixel " << x << "," << y << " from the top, height " << height;
      }
      EXPECT_EQ(test_blocks::kPaddingMark, pixels.Row(y)[15]);
    }
    const std::size_t changed = std::inner_product(before.begin(), before.end(), block.begin(), std::size_t{0},
                                                   std::plus<>(), std::not_equal_to<>());
    EXPECT_EQ(static_cast<std::size_t>((c.x1 - c.x0) * (c.y1 - c.y0)), changed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    RedEye, RedEyeRects,
    testing::Values(RectCase{"WholePicture", {0, 0, 5, 3}, 0, 5, 0, 3},
                    RectCase{"TopRowAsSeen", {1, 0, 2, 1}, 1, 3, 0, 1},
                    RectCase{"BottomRightCorner", {4, 2, 1, 1}, 4, 5, 2, 3},
                    RectCase{"ClippedTopLeft", {-2, -1, 4, 3}, 0, 2, 0, 2},
                    RectCase{"ClippedBottomRight", {3, 1, 100, 100}, 3, 5, 1, 3},
                    RectCase{"EmptyWidth", {1, 1, 0, 2}, 0, 0, 0, 0},
                    RectCase{"NegativeHeight", {1, 2, 2, -1}, 0, 0, 0, 0},
                    RectCase{"Outside", {5, 0, 3, 3}, 0, 0, 0, 0},
                    RectCase{"RightEdgeOverflows", {INT_MAX, 0, INT_MAX, 3}, 0, 0, 0, 0},
                    RectCase{"HugeRect", {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, 0, 0, 0, 0},
                    RectCase{"NegativeLeftHugeWidth", {-1000, 1, INT_MAX, 1}, 0, 5, 1, 2}),
    [](const testing::TestParamInfo<RectCase>& info) { return info.param.name; });

}  // namespace
}  // namespace qb::redeye
