// HEIC and AVIF through libheif: the files of tests/unit/heif (made by
// heif-enc, three of them edited into a 2 x 2 grid and rotations, see
// make_files.py there), each decoded here and compared with heif-convert's
// decode of the same file, and pinned by size, depth and a checksum of the
// block (heif_files.h); a grid that claims more than a 32-bit process holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/portable/dib_format.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/raster.h"
#include "tests/unit/heif_files.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;
using qb::test::Fnv1a;
using Bytes = std::vector<uint8_t>;

const std::string kFiles = [] {
  const std::string here = __FILE__;
  return here.substr(0, here.find_last_of('/')) + "/heif/";
}();

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Colour PSNR and the largest alpha difference of our block against
// heif-convert's PNG (its colours through the PNG decoder, its alpha
// extracted by ImageMagick as a grey PGM).
struct Compared {
  double psnr = 0;
  int alphaDifference = -1;
};

Compared CompareWithHeifConvert(const std::string& name, const Bytes& ours, bool alpha) {
  const std::string dir = testing::TempDir() + "qb_heif";
  const std::string command = "mkdir -p " + dir + " && cd " + dir + " && heif-convert " + kFiles + name +
                              " ref.png >/dev/null && convert-im6.q16 ref.png -depth 8 -type TrueColor ref.ppm" +
                              (alpha ? " && convert-im6.q16 ref.png -alpha extract -depth 8 alpha.pgm" : "");
  Compared c;
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << command;
    return c;
  }
  VectorAllocator reference;
  if (DecodeImage(ReadFile(dir + "/ref.ppm"), reference) != kOk) {
    ADD_FAILURE() << "ref.ppm";
    return c;
  }
  // Colours as stored, alpha aside (the PPM has none): not flattened.
  dib::DibLayout mine;
  Source24 second;
  EXPECT_EQ(dib::Validate(ours, dib::kAllDepths, mine), dib::DibStatus::kOk);
  EXPECT_EQ(second.Open(reference.block), kOk);
  if (mine.width != second.width() || mine.height != second.height()) {
    ADD_FAILURE() << "heif-convert's picture is " << second.width() << " x " << second.height();
    return c;
  }
  const dib::ConstImageView first = dib::PixelsOf(ours.data(), mine);
  const int step = mine.bitCount / 8;
  double squares = 0;
  for (int32_t y = 0; y < first.height(); ++y)
    for (int32_t x = 0; x < first.width(); ++x)
      for (int k = 0; k < 3; ++k) {
        const double d = first.Row(y)[step * x + k] - second.pixels().Row(y)[3 * x + k];
        squares += d * d;
      }
  const double mse = squares / (3.0 * first.width() * first.height());
  c.psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  if (alpha) {
    VectorAllocator grey;
    Source24 levels;
    dib::DibLayout layout;
    if (DecodeImage(ReadFile(dir + "/alpha.pgm"), grey) != kOk || levels.Open(grey.block) != kOk ||
        dib::Validate(ours, dib::kAllDepths, layout) != dib::DibStatus::kOk)
      return c;
    const dib::ConstImageView pixels = dib::PixelsOf(ours.data(), layout);
    c.alphaDifference = 0;
    for (int32_t y = 0; y < first.height(); ++y)
      for (int32_t x = 0; x < first.width(); ++x)
        c.alphaDifference =
            std::max(c.alphaDifference, std::abs(pixels.Row(y)[4 * x + 3] - levels.pixels().Row(y)[3 * x]));
  }
  return c;
}

TEST(HeifFiles, DecodeUprightAsHeifConvertDecodesThem) {
  for (const qb::test::HeifFile& f : qb::test::kHeifFiles) {
    SCOPED_TRACE(f.name);
    const Bytes file = ReadFile(kFiles + f.name);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(DetectFormat(file), f.avif ? FileFormat::kAvif : FileFormat::kHeic);
    VectorAllocator out;
    ASSERT_EQ(DecodeImage(file, out), kOk);
    dib::DibLayout layout;
    ASSERT_EQ(dib::Validate(out.block, dib::kAllDepths, layout), dib::DibStatus::kOk);
    EXPECT_EQ(layout.width, f.width);
    EXPECT_EQ(layout.height, f.height);
    EXPECT_EQ(layout.bitCount, f.bitCount);
    EXPECT_EQ(Fnv1a(out.block), f.checksum) << std::hex << Fnv1a(out.block);
    const Compared c = CompareWithHeifConvert(f.name, out.block, f.bitCount == 32);
    EXPECT_GT(c.psnr, 45.0);
    if (f.bitCount == 32) {
      EXPECT_EQ(c.alphaDifference, 0);
    }
  }
}

// The grid file with its grid and its ispe claiming 60000 x 60000: refused
// while the file is read, before a plane is made; with only its grid's
// canvas claiming 20000 x 20000 under the picture's 122 x 74 (a damaged
// grid libheif would fill a canvas for): refused before the canvas is made.
// (Cut and damaged files: the codec table's hostile-input test.)
TEST(HeifFiles, AGridClaimingMoreThanItsPictureIsTooLarge) {
  const Bytes file = ReadFile(kFiles + "grid.heic");
  Bytes huge = file;
  const uint8_t ispe[] = {'i', 's', 'p', 'e', 0, 0, 0, 0, 0, 0, 0, 122, 0, 0, 0, 74};
  const uint8_t grid[] = {'i', 'd', 'a', 't', 0, 0, 1, 1, 0, 122, 0, 74};
  auto patch = [&](const uint8_t* pattern, size_t n, size_t at, std::initializer_list<uint8_t> bytes) {
    const auto found = std::search(huge.begin(), huge.end(), pattern, pattern + n);
    ASSERT_NE(found, huge.end());
    std::copy(bytes.begin(), bytes.end(), found + at);
  };
  patch(grid, sizeof grid, 8, {0x4E, 0x20, 0x4E, 0x20});
  VectorAllocator canvas;
  EXPECT_EQ(DecodeImage(huge, canvas), kTooLarge);
  EXPECT_TRUE(canvas.block.empty());
  huge = file;
  patch(ispe, sizeof ispe, 8, {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60});
  patch(grid, sizeof grid, 8, {0xEA, 0x60, 0xEA, 0x60});
  VectorAllocator out;
  EXPECT_EQ(DecodeImage(huge, out), kTooLarge);
  EXPECT_TRUE(out.block.empty());
}

}  // namespace
}  // namespace rastrum
