// Sharpen: the worked sums and blends (a dark point stays dark), borders,
// padding and small pictures kept, and the vector rows against the
// pixel-by-pixel reference.
#include "modifiers/portable/sharpen.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "tests/unit/modifier_blocks.h"

namespace qb::sharpen {
namespace {

using test_blocks::Bytes;
using test_blocks::MakeBlock;

// One pixel differs from its eight neighbours (one grey level each), in a
// picture wide enough for the vector rows of both instruction sets.
TEST(SharpenWorked, CentreAmongEqualNeighbours) {
  struct BlendCase {
    int centre, neighbours, level, want;
  };
  const BlendCase cases[] = {
      {110, 100, 10, 190}, {110, 100, 5, 150},  // sum 190
      {150, 100, 10, 255},                      // 550
      {50, 100, 10, 0},                         // -350 counts as 0: a dark point stays dark
      {50, 100, 5, 25},                         // 50 + (0 - 50) x 5 / 10
      {0, 255, 10, 0}, {0, 255, 1, 0},          // a black point among white ones
      {91, 100, 3, 70},                         // 91 + (-216 / 10)
      {100, 100, 3, 100}, {100, 100, 17, 100},  // flat
      {60, 100, 17, 0},                         // -260 counts as 0: 60 + (0 - 60) x 17 / 10
      {110, 100, INT_MAX, 255}, {91, 100, INT_MAX, 0},
  };
  for (const BlendCase& c : cases) {
    Bytes source(52 * 3, static_cast<std::uint8_t>(c.neighbours)), result(52 * 3, 0xEE);
    std::fill_n(source.begin() + 52 + 3 * 8, 3, static_cast<std::uint8_t>(c.centre));
    Sharpen(dib::ConstImageView(source.data(), 17, 3, 52, false), dib::ImageView(result.data(), 17, 3, 52, false), c.level);
    EXPECT_EQ(Bytes(3, static_cast<std::uint8_t>(c.want)), Bytes(result.begin() + 52 + 24, result.begin() + 52 + 27))
        << c.centre << " among " << c.neighbours << " at level " << c.level;
  }
}

// Borders, padding and pictures too small to have an interior keep the
// source's bytes.
TEST(SharpenWorked, BordersAndPaddingKeepTheSource) {
  for (auto [w, h] : {std::pair{5, 4}, std::pair{2, 5}, std::pair{5, 2}, std::pair{1, 1}, std::pair{19, 3},
                      std::pair{40, 3}}) {
    const Bytes source = MakeBlock(w, h, 24, 9);
    const std::uint32_t stride = *dib::RowStride(24, w);
    const dib::ConstImageView in(source.data() + 40, w, h, stride, false);
    test_blocks::ForEachSimdLevel([&](const char* simd) {
      Bytes result(source.size(), 0xEE);
      const dib::ImageView out(result.data() + 40, w, h, stride, false);
      Sharpen(in, out, 3);
      for (std::int32_t y = 0; y < h; ++y) {
        for (std::uint32_t i = 0; i < stride; ++i) {
          const bool interior = y > 0 && y < h - 1 && i >= 3 && i < 3u * (w - 1);
          if (!interior) {
            ASSERT_EQ(in.Row(y)[i], out.Row(y)[i]) << w << "x" << h << " row " << y << " byte " << i << " " << simd;
          }
        }
      }
    });
  }
}

// A flat picture stays flat to its edges at every level (the weights sum
// to 1, and the edges keep their pixels).
TEST(SharpenWorked, FlatPictureStaysFlatAtEveryLevel) {
  for (std::uint8_t grey : {0, 1, 128, 254, 255}) {
    for (auto [w, h] : {std::pair{3, 3}, std::pair{7, 5}, std::pair{41, 4}}) {
      Bytes source = MakeBlock(w, h, 24, 0);
      const dib::DibLayout layout = test_blocks::LayoutOf(source);
      for (std::int32_t y = 0; y < h; ++y) std::fill_n(dib::PixelsOf(source.data(), layout).Row(y), 3 * w, grey);
      for (std::int32_t level : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 17, 100, 2560, INT_MAX}) {
        test_blocks::ForEachSimdLevel([&](const char* simd) {
          Bytes result = source;
          ASSERT_EQ(dib::DibStatus::kOk, SharpenDib(source, result, level));
          ASSERT_EQ(source, result) << +grey << " " << w << "x" << h << " level " << level << " " << simd;
        });
      }
    }
  }
}

// The vector rows give the reference's bytes for every width class (the
// scalar row, one vector, the overlapping last vector), at levels around
// every cap, and on a picture whose row passes 65535 bytes.
TEST(SharpenFast, EqualsReferenceOnRandomPictures) {
  const std::int32_t levels[] = {INT_MIN, -1, 1, 3, 9, 10, 11, 17, 255, 2559, 2560, 2561, 100000, INT_MAX};
  for (auto size : {std::pair{3, 3}, std::pair{7, 5}, std::pair{12, 4}, std::pair{13, 4}, std::pair{40, 6},
                    std::pair{101, 3}, std::pair{22000, 3}}) {
    const int w = size.first, h = size.second;
    const Bytes source = MakeBlock(w, h, 24, static_cast<std::uint32_t>(w + h));
    const std::uint32_t stride = *dib::RowStride(24, w);
    const dib::ConstImageView in(source.data() + 40, w, h, stride, true);
    for (std::int32_t level : levels) {
      Bytes reference(source.size(), 0x11);
      SharpenReference(in, dib::ImageView(reference.data() + 40, w, h, stride, true), level);
      test_blocks::ForEachSimdLevel([&](const char* simd) {
        Bytes fast(source.size(), 0xEE);
        Sharpen(in, dib::ImageView(fast.data() + 40, w, h, stride, true), level);
        ASSERT_TRUE(std::equal(reference.begin() + 40, reference.end(), fast.begin() + 40))
            << w << "x" << h << " level " << level << " " << simd;
      });
    }
  }
}

TEST(SharpenDib, RewritesThePixelsOfTheWorkingCopyOnly) {
  for (std::int32_t height : {4, -4}) {
    const Bytes source = MakeBlock(6, height, 24, 12, 0, 8);
    Bytes working = source;
    ASSERT_EQ(dib::DibStatus::kOk, SharpenDib(source, working, 7));
    Bytes expected = source;
    Sharpen(dib::ConstImageView(source.data() + 40, 6, 4, 20, false),
            dib::ImageView(expected.data() + 40, 6, 4, 20, false), 7);
    EXPECT_EQ(expected, working) << height;  // header and slack as they were

    working = source;
    ASSERT_EQ(dib::DibStatus::kOk, SharpenDib(source, working, 0));
    EXPECT_EQ(source, working);
  }
}

TEST(SharpenDib, RefusesAWorkingCopyOfAnotherPicture) {
  const Bytes source = MakeBlock(6, 4, 24, 13);
  for (Bytes other : {MakeBlock(5, 4, 24, 13), MakeBlock(6, -4, 24, 13), Bytes(source.begin(), source.end() - 1)}) {
    const Bytes before = other;
    EXPECT_EQ(dib::DibStatus::kRowsPastBlock, SharpenDib(source, other, 5));
    EXPECT_EQ(before, other);
  }
}

}  // namespace
}  // namespace qb::sharpen
