// Mirror: both flips at every depth, the worked rows, directions that
// change nothing, and what the new block keeps.
#include "modifiers/portable/mirror.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/portable/simd_level.h"
#include "tests/unit/modifier_blocks.h"

namespace qb::mirror {
namespace {

using test_blocks::Bytes;
using test_blocks::MakeBlock;

// A one-row block at `bits` with the given row bytes.
Bytes OneRow(std::int32_t width, std::uint16_t bits, const Bytes& row) {
  Bytes block = MakeBlock(width, 1, bits, 1);
  const dib::DibLayout layout = test_blocks::LayoutOf(block);
  std::fill(block.begin() + layout.pixelOffset, block.end(), 0);
  std::copy(row.begin(), row.end(), block.begin() + layout.pixelOffset);
  return block;
}

Bytes RowOf(const Bytes& block) {
  const dib::DibLayout layout = test_blocks::LayoutOf(block);
  return Bytes(block.begin() + layout.pixelOffset, block.begin() + layout.pixelOffset + layout.stride);
}

// Worked rows, left to right: p0 p1 p2 -> p2 p1 p0 with each pixel's byte
// order kept; the first of ten 1-bit pixels set gives the tenth (bit 6 of
// byte 1); 4-bit pixels 1, 2, 3 give 3, 2, 1. Padding comes out 0.
TEST(Mirror, WorkedRows) {
  struct RowCase {
    std::int32_t width;
    std::uint16_t bits;
    Bytes in, out;
  };
  const RowCase cases[] = {
      {3, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA5, 0xA5, 0xA5}, {7, 8, 9, 4, 5, 6, 1, 2, 3, 0, 0, 0}},
      {10, 1, {0x80, 0x00, 0xFF, 0xFF}, {0x00, 0x40, 0, 0}},
      {10, 1, {0xB1, 0x40}, {0xA3, 0x40, 0, 0}},
      {3, 4, {0x12, 0x3F, 0xFF, 0xFF}, {0x32, 0x10, 0, 0}},
      {9, 8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA5, 0xA5, 0xA5}, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0}},
      {3, 16, {1, 2, 3, 4, 5, 6, 0xA5, 0xA5}, {5, 6, 3, 4, 1, 2, 0, 0}},
      {2, 32, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 6, 7, 8, 1, 2, 3, 4}},
  };
  for (const RowCase& c : cases) {
    const Bytes source = OneRow(c.width, c.bits, c.in);
    Bytes result(source.size(), 0xEE);
    ASSERT_EQ(dib::DibStatus::kOk, MirrorDib(source, result, kLeftRight));
    EXPECT_EQ(c.out, RowOf(result)) << c.bits << " bits, width " << c.width;
  }
}

// A 24-bit row reversed pixel by pixel, with the vector form (sixteen
// pixels at a time) and without, written through the caches and past them
// (from rows at every alignment), at widths on both sides of its steps.
TEST(Mirror, TrueColourRowsReverseOnEveryLevel) {
  for (const simd::Level level : {simd::Level::kSse2, simd::Available()}) {
    simd::Limit(level);
    for (std::int32_t width : {15, 16, 17, 31, 48, 70}) {
      const size_t bytes = static_cast<size_t>(width) * 3;
      Bytes row(bytes);
      for (size_t i = 0; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(i * 7 + 1);
      for (const Stores stores : {Stores::kCached, Stores::kStreamed})
        for (size_t at : {0, 1, 5, 12}) {
          Bytes out(bytes + 32, 0xEE);
          MirrorLeftRight(dib::ConstImageView(row.data(), width, 1, static_cast<std::uint32_t>(bytes), false),
                          dib::ImageView(out.data() + at, width, 1, static_cast<std::uint32_t>(bytes), false), 24, stores);
          for (std::int32_t x = 0; x < width; ++x)
            ASSERT_EQ(0, std::memcmp(&out[at + size_t(x) * 3], &row[size_t(width - 1 - x) * 3], 3))
                << width << " at " << x << " from " << at;
          EXPECT_EQ(0xEE, out[at + bytes]) << width;
        }
    }
  }
  simd::Limit(simd::Available());
}

// A picture large enough to be written past the caches flips to the same
// bytes with the vector forms as without them, and back to its pixels.
TEST(Mirror, LargePicturesFlipAlikeOnEveryLevel) {
  const Bytes source = MakeBlock(1501, 2000, 24, 9);  // 9 MB of rows, each with padding
  Bytes flipped[2];
  for (int i = 0; i < 2; ++i) {
    simd::Limit(i == 0 ? simd::Level::kSse2 : simd::Available());
    flipped[i].assign(source.size(), 0xEE);
    ASSERT_EQ(dib::DibStatus::kOk, MirrorDib(source, flipped[i], kLeftRight));
  }
  simd::Limit(simd::Available());
  EXPECT_TRUE(flipped[0] == flipped[1]);
  Bytes back(source.size());
  ASSERT_EQ(dib::DibStatus::kOk, MirrorDib(flipped[1], back, kLeftRight));
  const dib::DibLayout layout = test_blocks::LayoutOf(source);
  for (std::int32_t y = 0; y < 2000; ++y) {
    const size_t row = layout.pixelOffset + size_t(y) * layout.stride;
    ASSERT_EQ(0, std::memcmp(&back[row], &source[row], 1501 * 3)) << "row " << y;
  }
}

// Flipping twice gives the picture back, at every depth and width class
// (the four-pixel steps of 24 bits and the eight-byte steps of 8 bits
// with their tails), for both row orders. The new block keeps the header
// and the colour table as the source holds them (a short one stays
// short) and has zero slack.
TEST(Mirror, TwiceIsTheIdentityOnThePixels) {
  for (std::uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    for (std::int32_t width : {1, 3, 4, 7, 8, 9, 17, 33}) {
      for (std::int32_t height : {3, -2}) {
        const Bytes source = MakeBlock(width, height, bits, bits * 100 + width, bits >= 4 ? 3 : 0, 5);
        const dib::DibLayout layout = test_blocks::LayoutOf(source);
        for (std::int32_t direction : {kLeftRight, kTopBottom}) {
          Bytes once(source.size(), 0xEE), twice(source.size());
          ASSERT_EQ(dib::DibStatus::kOk, MirrorDib(source, once, direction));
          ASSERT_EQ(dib::DibStatus::kOk, MirrorDib(once, twice, direction));
          EXPECT_TRUE(std::equal(source.begin(), source.begin() + layout.pixelOffset, once.begin()));
          EXPECT_EQ(Bytes(5, 0), Bytes(once.end() - 5, once.end()));
          const std::size_t rowBytes = (static_cast<std::size_t>(width) * bits + 7) / 8;
          for (std::int32_t y = 0; y < layout.height; ++y) {
            const std::uint8_t* was = dib::PixelsOf(source.data(), layout).Row(y);
            const std::uint8_t* now = dib::PixelsOf(twice.data(), layout).Row(y);
            ASSERT_TRUE(std::equal(was, was + rowBytes, now))
                << bits << " bits, width " << width << ", height " << height << ", direction " << direction;
          }
          if (width >= 8) {
            EXPECT_NE(source, once) << bits << " bits, width " << width << ", direction " << direction;
          }
        }
      }
    }
  }
}

// Direction 2 swaps the stored rows, padding included; pictures past the
// caches' size take another copy loop (with rows of every alignment: a
// stride of 4508 bytes).
TEST(Mirror, TopToBottomSwapsTheStoredRows) {
  for (auto size : {std::pair{5, 3}, std::pair{1502, 1900}}) {
    const int width = size.first, height = size.second;
    const Bytes source = MakeBlock(width, height, 24, 11);
    const std::size_t stride = *dib::RowStride(24, width);
    test_blocks::ForEachSimdLevel([&](const char* simd) {
      Bytes result(source.size());
      ASSERT_EQ(dib::DibStatus::kOk, MirrorDib(source, result, kTopBottom));
      for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        ASSERT_EQ(0, std::memcmp(source.data() + 40 + y * stride, result.data() + 40 + (height - 1 - y) * stride, stride))
            << width << " wide, row " << y << " " << simd;
      }
    });
  }
}

// Other directions copy the block as it is; a result of another size is
// refused untouched.
TEST(Mirror, OtherDirectionsGiveACopy) {
  const Bytes source = MakeBlock(5, 3, 8, 8, 0, 6);
  for (std::int32_t direction : {0, 3, -1, 1000}) {
    Bytes result(source.size(), 0);
    ASSERT_EQ(dib::DibStatus::kOk, MirrorDib(source, result, direction));
    EXPECT_EQ(source, result) << direction;
  }
  for (std::int32_t direction : {0, kLeftRight, kTopBottom}) {
    Bytes result(source.size() + 1, 0xEE);
    EXPECT_EQ(dib::DibStatus::kRowsPastBlock, MirrorDib(source, result, direction));
    EXPECT_EQ(Bytes(source.size() + 1, 0xEE), result);
  }
}

}  // namespace
}  // namespace qb::mirror
