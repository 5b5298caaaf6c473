// The imaging library on several threads gives what it gives on one: a
// large picture's JPEG, encoded in bands joined at restart markers, decodes
// to exactly the pixels of the single-threaded file and is hardly larger;
// a TIFF's strips read on several threads give the picture saved; a
// resize gives the same bytes on any number of threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <tuple>
#include <vector>

#include "base/portable/work_pool.h"
#include "rastrum/portable/raster.h"
#include "tests/unit/modifier_blocks.h"

namespace {

using Bytes = std::vector<uint8_t>;

size_t CountRestartMarkers(const Bytes& f) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < f.size(); ++i) n += f[i] == 0xFF && f[i + 1] >= 0xD0 && f[i + 1] <= 0xD7;
  return n;
}

Bytes Decoded(const Bytes& file) {
  rastrum::VectorAllocator out;
  EXPECT_EQ(rastrum::kOk, rastrum::DecodeImage(file, out));
  return out.block;
}

TEST(JpegOnThreads, DecodesToTheSingleThreadedPixels) {
  // Sizes: bands of whole MCU rows with a short last band, a height that is
  // no multiple of the MCU, and one just over the size that is split.
  for (auto [w, h] : {std::pair{1500, 1003}, std::pair{2048, 1536}, std::pair{1030, 1025}}) {
    const Bytes block = qb::test_blocks::MakeBlock(w, h, 24, static_cast<uint32_t>(w + h));
    Bytes single, banded;
    qb::work::SetThreadCount(1);
    ASSERT_EQ(rastrum::kOk, rastrum::EncodeImage(block, rastrum::FileFormat::kJpeg, 85, single));
    for (int threads : {2, 3}) {
      qb::work::SetThreadCount(threads);
      banded.clear();
      ASSERT_EQ(rastrum::kOk, rastrum::EncodeImage(block, rastrum::FileFormat::kJpeg, 85, banded));
      EXPECT_EQ(0u, CountRestartMarkers(single));
      EXPECT_EQ(static_cast<size_t>(threads - 1), CountRestartMarkers(banded)) << w << "x" << h;
      EXPECT_LE(banded.size(), single.size() + 8u * threads) << w << "x" << h;
      EXPECT_EQ(Decoded(single), Decoded(banded)) << w << "x" << h << " on " << threads << " threads";
    }
  }
  qb::work::SetThreadCount(0);
}

TEST(TiffOnThreads, StripsReadOnEveryThreadGiveThePictureSaved) {
  for (uint16_t bits : {24, 8}) {
    const Bytes block = qb::test_blocks::MakeBlock(1500, 1003, bits, 77);
    Bytes file;
    ASSERT_EQ(rastrum::kOk, rastrum::EncodeImage(block, rastrum::FileFormat::kTiff, 100, file));
    qb::work::SetThreadCount(1);
    const Bytes single = Decoded(file);
    qb::work::SetThreadCount(3);
    EXPECT_EQ(single, Decoded(file)) << bits;
    // Lossless: the saved colours, row for row (the source's padding bytes
    // are marked, the decoded block's are not).
    const auto source = qb::test_blocks::LayoutOf(block), decoded = qb::test_blocks::LayoutOf(single);
    const qb::dib::ConstImageView in = qb::dib::PixelsOf(block.data(), source);
    const qb::dib::ConstImageView back = qb::dib::PixelsOf(single.data(), decoded);
    int differing = 0;
    for (int32_t y = 0; y < 1003; ++y)
      for (int32_t x = 0; x < 1500; ++x) {
        const uint8_t* p = bits == 24 ? in.Row(y) + 3 * x : block.data() + 40 + 4 * in.Row(y)[x];
        differing += std::memcmp(p, back.Row(y) + 3 * x, 3) != 0;
      }
    EXPECT_EQ(0, differing) << bits;
  }
  qb::work::SetThreadCount(0);
}

TEST(ResizeOnThreads, GivesTheSingleThreadedBytes) {
  // Shrinking (by less than 4, and by more: block means first), enlarging,
  // narrower and taller, and the fast mode.
  const Bytes block = qb::test_blocks::MakeBlock(1500, 1003, 24, 11);
  for (auto [w, h, mode] : {std::tuple{700, 501, 0}, {300, 200, 0}, {2100, 1333, 0}, {333, 1100, 0}, {160, 107, 1}}) {
    Bytes single;
    for (int threads : {1, 2, 3}) {
      qb::work::SetThreadCount(threads);
      rastrum::VectorAllocator out;
      ASSERT_EQ(rastrum::kOk, rastrum::Resize(block, w, h, mode, out));
      if (threads == 1) single = out.block;
      EXPECT_EQ(single, out.block) << w << "x" << h << " mode " << mode << " on " << threads << " threads";
    }
  }
  qb::work::SetThreadCount(0);
}

}  // namespace
