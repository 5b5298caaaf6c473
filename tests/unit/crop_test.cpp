// Crop: the result's size and header, and the copy of the pixels that
// exist under the rectangle.
#include "modifiers/portable/crop.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/unit/modifier_blocks.h"

namespace qb::crop {
namespace {

using test_blocks::Bytes;

Bytes Crop(const Bytes& source, const PixelRect& rect) {
  const auto geometry = CropSize(rect.width, rect.height);
  if (!geometry) return {};
  Bytes out(geometry->blockBytes, 0xEE);
  EXPECT_EQ(dib::DibStatus::kOk, CropDib(source, rect, out));
  return out;
}

TEST(CropSize, StrideAndBlockSize) {
  EXPECT_EQ(16u, CropSize(5, 7)->stride);
  EXPECT_EQ(16u * 7, CropSize(5, 7)->imageBytes);
  EXPECT_EQ(40u + 16 * 7, CropSize(5, 7)->blockBytes);
  EXPECT_EQ(12u, CropSize(4, 1)->stride);
  EXPECT_EQ(4u, CropSize(1, 1)->stride);
  for (auto [w, h] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{-5, 3}, std::pair{3, INT_MIN},
                      std::pair{INT_MAX, 1}, std::pair{30000, 30000}}) {
    EXPECT_FALSE(CropSize(w, h)) << w << "x" << h;
  }
}

TEST(CropDib, WholePictureIsACopy) {
  const Bytes source = test_blocks::MakeBlock(7, 5, 24, 1);
  const Bytes out = Crop(source, {0, 0, 7, 5});
  ASSERT_EQ(source.size(), out.size());
  // The same header, the same pixels; padding 0.
  EXPECT_TRUE(std::equal(source.begin(), source.begin() + 40, out.begin()));
  for (std::size_t row = 0; row < 5; ++row) {
    const std::size_t at = 40 + row * 24;
    EXPECT_TRUE(std::equal(source.begin() + at, source.begin() + at + 21, out.begin() + at)) << row;
    EXPECT_EQ(0, out[at + 21]);
  }
}

TEST(CropDib, OnePixelFromTheTopRowAsSeen) {
  for (std::int32_t height : {4, -4}) {
    const Bytes source = test_blocks::MakeBlock(12, height, 24, 2);
    const Bytes out = Crop(source, {10, 0, 1, 1});
    ASSERT_EQ(44u, out.size());
    EXPECT_EQ(1, dib::LoadI32(out.data() + 4));
    EXPECT_EQ(1, dib::LoadI32(out.data() + 8));
    EXPECT_EQ(4u, dib::LoadU32(out.data() + 20));
    const std::uint8_t* top = dib::PixelsOf(source.data(), test_blocks::LayoutOf(source)).Row(0) + 30;
    EXPECT_EQ(Bytes(top, top + 3), Bytes(out.begin() + 40, out.begin() + 43)) << height;
    EXPECT_EQ(0, out[43]);
  }
}

TEST(CropDib, HeaderDescribesTheResult) {
  Bytes source = test_blocks::MakeBlock(9, -6, 24, 3, 2);  // top-down, two table entries
  const Bytes out = Crop(source, {1, 1, 5, 3});
  ASSERT_EQ(40u + 16 * 3, out.size());
  EXPECT_EQ(40u, dib::LoadU32(out.data()));
  EXPECT_EQ(5, dib::LoadI32(out.data() + 4));
  EXPECT_EQ(3, dib::LoadI32(out.data() + 8));  // bottom-up
  EXPECT_EQ(24, dib::LoadU16(out.data() + 14));
  EXPECT_EQ(48u, dib::LoadU32(out.data() + 20));
  EXPECT_EQ(2835, dib::LoadI32(out.data() + 24));
  EXPECT_EQ(2834, dib::LoadI32(out.data() + 28));
  EXPECT_EQ(0u, dib::LoadU32(out.data() + 32));
  dib::DibLayout layout;
  EXPECT_EQ(dib::DibStatus::kOk, dib::Validate(out, dib::kDepth24, layout));
}

// Only pixels that exist are copied; the rest of the result is 0.
TEST(CropDib, RectangleReachingOutsideCopiesWhatExists) {
  const Bytes source = test_blocks::MakeBlock(4, 3, 24, 4);
  const dib::ConstImageView from = dib::PixelsOf(source.data(), test_blocks::LayoutOf(source));
  for (const PixelRect rect : {PixelRect{-2, -1, 5, 3}, PixelRect{2, 2, 4, 4}, PixelRect{10, 0, 2, 2},
                               PixelRect{INT_MIN, INT_MIN, 3, 3}, PixelRect{INT_MAX - 1, 1, 2, 2}}) {
    const Bytes out = Crop(source, rect);
    const dib::ConstImageView to = dib::PixelsOf(out.data(), test_blocks::LayoutOf(out));
    for (std::int32_t y = 0; y < rect.height; ++y) {
      for (std::int32_t x = 0; x < rect.width; ++x) {
        const std::int64_t sx = std::int64_t{rect.left} + x, sy = std::int64_t{rect.top} + y;
        const bool exists = sx >= 0 && sx < 4 && sy >= 0 && sy < 3;
        for (int ch = 0; ch < 3; ++ch) {
          const std::uint8_t want = exists ? from.Row(static_cast<std::int32_t>(sy))[3 * sx + ch] : 0;
          ASSERT_EQ(want, to.Row(y)[3 * x + ch]) << "rect " << rect.left << "," << rect.top << " pixel " << x << "," << y;
        }
      }
      for (std::uint32_t i = 3 * rect.width; i < to.stride(); ++i) ASSERT_EQ(0, to.Row(y)[i]);
    }
  }
}

TEST(CropDib, RefusesWhatItCannotBuild) {
  const Bytes source = test_blocks::MakeBlock(4, 3, 24, 5);
  Bytes out(100, 0xEE);
  EXPECT_EQ(dib::DibStatus::kBadWidth, CropDib(source, {0, 0, 0, 2}, out));
  EXPECT_EQ(dib::DibStatus::kBadHeight, CropDib(source, {0, 0, 2, -1}, out));
  EXPECT_EQ(dib::DibStatus::kRowsPastBlock, CropDib(source, {0, 0, 4, 6}, out));  // needs 40 + 12 x 6
  EXPECT_EQ(dib::DibStatus::kDepthNotHandled, CropDib(test_blocks::MakeBlock(4, 3, 8, 5), {0, 0, 2, 2}, out));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0xEE; }));
}

}  // namespace
}  // namespace qb::crop
