// Crop: the result's size and header, and the copy of the pixels that
// exist under the rectangle.
#include "modifiers/portable/crop.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/unit/modifier_blocks.h"

namespace qb::crop {
namespace {

using test_blocks::Bytes;

TEST(CropSize, StrideAndBlockSize) {
  EXPECT_EQ(16u, CropSize(5, 7)->stride);  // 15 pixel bytes, 1 of padding
  EXPECT_EQ(16u * 7, CropSize(5, 7)->imageBytes);
  EXPECT_EQ(40u + 16 * 7, CropSize(5, 7)->blockBytes);
  EXPECT_EQ(12u, CropSize(4, 1)->stride);
  for (auto [w, h] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{-5, 3}, std::pair{INT_MAX, 1}, std::pair{30000, 30000}}) {
    EXPECT_FALSE(CropSize(w, h)) << w << "x" << h;
  }
}

// Every result pixel is the source pixel under it, or 0 where the source
// has none; padding is 0. Both source row orders; the whole picture, one
// pixel of the top row as seen, rectangles reaching out on every side.
TEST(CropDib, CopiesThePixelsThatExist) {
  for (std::int32_t height : {4, -4}) {
    const Bytes source = test_blocks::MakeBlock(12, height, 24, 4);
    const dib::ConstImageView from = dib::PixelsOf(source.data(), test_blocks::LayoutOf(source));
    for (const PixelRect rect : {PixelRect{0, 0, 12, 4}, PixelRect{10, 0, 1, 1}, PixelRect{-2, -1, 5, 3},
                                 PixelRect{9, 2, 5, 4}, PixelRect{20, 0, 2, 2}, PixelRect{INT_MIN, INT_MIN, 3, 3},
                                 PixelRect{INT_MAX - 1, 1, 2, 2}}) {
      Bytes out(CropSize(rect.width, rect.height)->blockBytes, 0xEE);
      ASSERT_EQ(dib::DibStatus::kOk, CropDib(source, rect, out));
      const dib::ConstImageView to = dib::PixelsOf(out.data(), test_blocks::LayoutOf(out));
      for (std::int32_t y = 0; y < rect.height; ++y) {
        for (std::uint32_t i = 0; i < to.stride(); ++i) {
          const std::int64_t sx = std::int64_t{rect.left} + i / 3, sy = std::int64_t{rect.top} + y;
          const bool exists = i < 3u * rect.width && sx >= 0 && sx < 12 && sy >= 0 && sy < 4;
          ASSERT_EQ(exists ? from.Row(static_cast<std::int32_t>(sy))[3 * sx + i % 3] : 0, to.Row(y)[i])
              << "rect at " << rect.left << "," << rect.top << ", row " << y << " byte " << i;
        }
      }
    }
  }
}

// The source's header fields with the cut-out's size, describing a plain
// bottom-up block even when the source is top-down with a colour table.
TEST(CropDib, HeaderDescribesTheResult) {
  Bytes out(40 + 16 * 3);
  ASSERT_EQ(dib::DibStatus::kOk, CropDib(test_blocks::MakeBlock(9, -6, 24, 3, 2), {1, 1, 5, 3}, out));
  const std::uint32_t want[10] = {40, 5, 3, 0x180001, 0, 48, 2835, 2834, 0, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(want[i], dib::LoadU32(out.data() + 4 * i)) << "header word " << i;
}

TEST(CropDib, RefusesWhatItCannotBuild) {
  const Bytes source = test_blocks::MakeBlock(4, 3, 24, 5);
  Bytes out(100, 0xEE);
  EXPECT_EQ(dib::DibStatus::kBadWidth, CropDib(source, {0, 0, 0, 2}, out));
  EXPECT_EQ(dib::DibStatus::kBadHeight, CropDib(source, {0, 0, 2, -1}, out));
  EXPECT_EQ(dib::DibStatus::kRowsPastBlock, CropDib(source, {0, 0, 4, 6}, out));  // needs 40 + 12 x 6
  EXPECT_EQ(dib::DibStatus::kDepthNotHandled, CropDib(test_blocks::MakeBlock(4, 3, 8, 5), {0, 0, 2, 2}, out));
  EXPECT_EQ(Bytes(100, 0xEE), out);
}

}  // namespace
}  // namespace qb::crop
