// WebP and TIFF: files written by the formats' own tools (cwebp, img2webp,
// tiffcp) and by ImageMagick in every layout the decoders promise, each
// decoded here and compared with the tools' decode of the same file; the
// library's saved files as libtiff reads them; files that claim more than
// they hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tiffio.h>

#include "base/portable/dib_format.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/raster.h"
#include "rastrum/portable/cmyk_profile.h"
#include "tests/unit/cmyk_test_profile.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;
using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// How close our decode must come to the tool's. Through a colour profile
// the two sRGB ends differ (Little CMS's own against the sRGB.icc file,
// about 36 dB); the plain ink formula would be near 15 dB.
enum class Match { kExact, kWithinOne, kPsnr45, kPsnr30 };

struct ToolFile {
  const char* file;
  const char* make;       // shell command, run in the folder of the sources
  const char* reference;  // the tool's decode of `file` as a PPM, ref.ppm
  Match match;
};

// The folder of the test's files: src.png (61 x 37, seeded plasma), its
// negative neg.png, rgba.png with an alpha ramp, squared.icc, a CMYK
// profile, and press.icc, the library's press profile.
const std::string& Folder() {
  static const std::string dir = [] {
    const std::string d = testing::TempDir() + "qb_webp_tiff";
    const std::string command = "rm -rf " + d + " && mkdir -p " + d + " && cd " + d +
                                " && convert-im6.q16 -seed 5 -size 61x37 plasma:red-blue -depth 8 src.png"
                                " && convert-im6.q16 src.png -negate neg.png"
                                " && convert-im6.q16 src.png -alpha set -channel A -fx 'i/w' +channel rgba.png";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<uint8_t> icc = qb::test::SquaredInksProfile();
    std::ofstream(d + "/squared.icc", std::ios::binary)
        .write(reinterpret_cast<const char*>(icc.data()), std::streamsize(icc.size()));
    const std::span<const uint8_t> press = rastrum::PressProfile();
    std::ofstream(d + "/press.icc", std::ios::binary)
        .write(reinterpret_cast<const char*>(press.data()), std::streamsize(press.size()));
    return d;
  }();
  return dir;
}

struct Compared {
  int maxDifference = 0;
  double psnr = 0;
};

// Colours as they are: the tools' PPMs drop alpha.
Compared Compare(const Bytes& a, const Bytes& b) {
  Source24 first, second;
  EXPECT_EQ(first.Open(a, dib::AlphaRule::kDrop), kOk);
  EXPECT_EQ(second.Open(b, dib::AlphaRule::kDrop), kOk);
  EXPECT_EQ(first.width(), second.width());
  EXPECT_EQ(first.height(), second.height());
  Compared c;
  double squares = 0;
  for (int32_t y = 0; y < first.height(); ++y)
    for (int32_t i = 0; i < first.width() * 3; ++i) {
      const int d = std::abs(first.pixels().Row(y)[i] - second.pixels().Row(y)[i]);
      c.maxDifference = std::max(c.maxDifference, d);
      squares += double(d) * d;
    }
  const double mse = squares / (3.0 * first.width() * first.height());
  c.psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  return c;
}

const ToolFile kToolFiles[] = {
    // WebP from libwebp's own tools; dwebp's decode is the reference.
    {"lossy.webp", "cwebp -quiet -q 80 src.png -o lossy.webp", "dwebp -quiet lossy.webp -ppm -o ref.ppm",
     Match::kPsnr45},
    {"lossless.webp", "cwebp -quiet -lossless src.png -o lossless.webp", "convert-im6.q16 src.png ref.ppm",
     Match::kExact},
    {"alpha.webp", "cwebp -quiet -q 80 rgba.png -o alpha.webp", "dwebp -quiet alpha.webp -ppm -o ref.ppm",
     Match::kPsnr45},
    {"alpha-lossless.webp", "cwebp -quiet -lossless -exact rgba.png -o alpha-lossless.webp",
     "dwebp -quiet alpha-lossless.webp -ppm -o ref.ppm", Match::kExact},
    {"animated.webp", "img2webp -lossless src.png neg.png -o animated.webp", "convert-im6.q16 src.png ref.ppm",
     Match::kExact},
    // TIFF from ImageMagick and tiffcp; ImageMagick's decode (libtiff) is
    // the reference (16-bit samples: it rounds, libtiff's RGBA reader cuts).
    {"none.tif", "convert-im6.q16 src.png -compress None none.tif", "convert-im6.q16 'none.tif[0]' ref.ppm",
     Match::kExact},
    {"lzw.tif", "convert-im6.q16 src.png -compress LZW lzw.tif", "convert-im6.q16 'lzw.tif[0]' ref.ppm",
     Match::kExact},
    {"deflate.tif", "convert-im6.q16 src.png -compress Zip deflate.tif", "convert-im6.q16 'deflate.tif[0]' ref.ppm",
     Match::kExact},
    {"packbits.tif", "convert-im6.q16 src.png -compress RLE packbits.tif",
     "convert-im6.q16 'packbits.tif[0]' ref.ppm", Match::kExact},
    {"jpeg.tif", "convert-im6.q16 src.png -compress JPEG -quality 90 jpeg.tif",
     "convert-im6.q16 'jpeg.tif[0]' ref.ppm", Match::kPsnr45},
    {"rgb16.tif", "convert-im6.q16 src.png -depth 16 -compress Zip rgb16.tif",
     "convert-im6.q16 'rgb16.tif[0]' -depth 8 ref.ppm", Match::kWithinOne},
    {"grey.tif", "convert-im6.q16 src.png -colorspace Gray -compress LZW grey.tif",
     "convert-im6.q16 'grey.tif[0]' -type TrueColor ref.ppm", Match::kExact},
    {"grey16.tif", "convert-im6.q16 src.png -colorspace Gray -depth 16 -compress None grey16.tif",
     "convert-im6.q16 'grey16.tif[0]' -depth 8 -type TrueColor ref.ppm", Match::kWithinOne},
    {"bilevel.tif", "convert-im6.q16 src.png -monochrome -compress None bilevel.tif",
     "convert-im6.q16 'bilevel.tif[0]' -type TrueColor ref.ppm", Match::kExact},
    {"fax.tif", "convert-im6.q16 src.png -monochrome -compress Group4 fax.tif",
     "convert-im6.q16 'fax.tif[0]' -type TrueColor ref.ppm", Match::kExact},
    // ImageMagick reads a 4-bit palette's colours at 4 bits: libtiff's
    // tiff2rgba is the reference.
    {"palette.tif", "convert-im6.q16 src.png -colors 16 -type Palette -compress LZW palette.tif",
     "tiff2rgba palette.tif rgba.tif && convert-im6.q16 rgba.tif -alpha off -depth 8 ref.ppm", Match::kExact},
    // Without a profile of its own, through the press profile (Little CMS
    // compensates the black point towards the built-in sRGB, a version 4
    // profile; ImageMagick's sRGB.icc is version 2 and needs telling).
    {"cmyk.tif", "convert-im6.q16 src.png -colorspace CMYK -compress LZW cmyk.tif",
     "convert-im6.q16 'cmyk.tif[0]' -profile press.icc -black-point-compensation "
     "-profile /usr/share/color/icc/sRGB.icc ref.ppm",
     Match::kPsnr45},
    {"cmyk-profile.tif",
     "convert-im6.q16 src.png -colorspace CMYK -compress LZW cmyk-plain.tif && "
     "convert-im6.q16 cmyk-plain.tif -profile squared.icc cmyk-profile.tif",
     "convert-im6.q16 'cmyk-profile.tif[0]' -profile /usr/share/color/icc/sRGB.icc ref.ppm", Match::kPsnr30},
    {"tiled.tif", "convert-im6.q16 src.png -define tiff:tile-geometry=16x16 -compress Zip tiled.tif",
     "convert-im6.q16 'tiled.tif[0]' ref.ppm", Match::kExact},
    {"planar.tif", "convert-im6.q16 src.png -interlace Plane -compress LZW planar.tif",
     "convert-im6.q16 'planar.tif[0]' ref.ppm", Match::kExact},
    {"pages.tif", "convert-im6.q16 src.png neg.png -compress Zip pages.tif", "convert-im6.q16 src.png ref.ppm",
     Match::kExact},
    {"strips.tif", "convert-im6.q16 src.png -compress None plain.tif && tiffcp -c lzw:2 -r 3 plain.tif strips.tif",
     "convert-im6.q16 'strips.tif[0]' ref.ppm", Match::kExact},
    // The strip reader's JPEG, RGB as ImageMagick writes it and YCbCr as
    // tiffcp does: libtiff's own RGBA reader is the reference, to the bit.
    {"jpeg-rgb.tif", "convert-im6.q16 src.png -compress JPEG -quality 90 jpeg-rgb.tif",
     "tiff2rgba jpeg-rgb.tif rgba.tif && convert-im6.q16 rgba.tif -alpha off -depth 8 ref.ppm", Match::kExact},
    {"strips-jpeg.tif",
     "convert-im6.q16 src.png -compress None plain3.tif && tiffcp -c jpeg:90 -r 16 plain3.tif strips-jpeg.tif",
     "tiff2rgba strips-jpeg.tif rgba.tif && convert-im6.q16 rgba.tif -alpha off -depth 8 ref.ppm", Match::kExact},
    {"tiled-jpeg.tif",
     "convert-im6.q16 src.png -compress None plain2.tif && tiffcp -c jpeg:90 -t -w 16 -l 16 plain2.tif tiled-jpeg.tif",
     "convert-im6.q16 'tiled-jpeg.tif[0]' ref.ppm", Match::kPsnr45},
};

TEST(WebpTiffToolFiles, DecodeAsTheToolsDecodeThem) {
  const std::string& dir = Folder();
  for (const ToolFile& t : kToolFiles) {
    SCOPED_TRACE(t.file);
    const std::string make = "cd " + dir + " && " + t.make + " && " + t.reference;
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    const Bytes file = ReadFile(dir + "/" + t.file);
    const FileFormat format = DetectFormat(file);
    EXPECT_TRUE(format == FileFormat::kWebp || format == FileFormat::kTiff);
    VectorAllocator ours, reference;
    ASSERT_EQ(DecodeImage(file, ours), kOk);
    ASSERT_EQ(DecodeImage(ReadFile(dir + "/ref.ppm"), reference), kOk);
    const Compared c = Compare(ours.block, reference.block);
    switch (t.match) {
      case Match::kExact: EXPECT_EQ(c.maxDifference, 0); break;
      case Match::kWithinOne: EXPECT_LE(c.maxDifference, 1); break;
      case Match::kPsnr45: EXPECT_GT(c.psnr, 45.0) << "max difference " << c.maxDifference; break;
      case Match::kPsnr30: EXPECT_GT(c.psnr, 30.0) << "max difference " << c.maxDifference; break;
    }
  }
}

// The TIFF the library saves, as libtiff reads it: Deflate always, and the
// kind the block has.
TEST(TiffSave, KeepsGreyPaletteAndColourBlocksAsTheyAre) {
  auto paletteBlock = [](uint16_t bits, bool grey) {
    Bytes table;
    const unsigned entries = 1u << bits;
    for (unsigned i = 0; i < entries; ++i) {
      const uint8_t level = uint8_t(i * 255 / (entries - 1));
      table.insert(table.end(), {grey ? level : uint8_t(i * 7), level, grey ? level : uint8_t(255 - level), 0});
    }
    VectorAllocator out;
    NewBlock made;
    EXPECT_EQ(MakePaletteBlock(out, 13, 5, bits, table, 0, 0, made), kOk);
    for (int32_t y = 0; y < 5; ++y)
      for (uint32_t i = 0; i < made.pixels.stride(); ++i) made.pixels.Row(y)[i] = uint8_t(y * 37 + i * 11);
    return out.block;
  };
  VectorAllocator colour;
  NewBlock made;
  ASSERT_EQ(MakeBlock24(colour, 13, 5, 3780, 3780, made), kOk);
  for (int32_t y = 0; y < 5; ++y)
    for (int i = 0; i < 39; ++i) made.pixels.Row(y)[i] = uint8_t(y * 50 + i);
  struct Case {
    const char* name;
    Bytes block;
    uint16_t photometric, bits, samples;
  };
  const Case cases[] = {
      {"grey 8", paletteBlock(8, true), PHOTOMETRIC_MINISBLACK, 8, 1},
      {"grey 1", paletteBlock(1, true), PHOTOMETRIC_MINISBLACK, 1, 1},
      {"palette 4", paletteBlock(4, false), PHOTOMETRIC_PALETTE, 4, 1},
      {"palette 8", paletteBlock(8, false), PHOTOMETRIC_PALETTE, 8, 1},
      {"colour", colour.block, PHOTOMETRIC_RGB, 8, 3},
  };
  const std::string path = testing::TempDir() + "qb_saved.tif";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file;
    ASSERT_EQ(EncodeImage(c.block, FileFormat::kTiff, 90, file), kOk);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint16_t compression = 0, photometric = 0, bits = 0, samples = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFClose(tif);
    EXPECT_EQ(compression, COMPRESSION_ADOBE_DEFLATE);
    EXPECT_EQ(photometric, c.photometric);
    EXPECT_EQ(bits, c.bits);
    EXPECT_EQ(samples, c.samples);
    // And back: the same pixels, the resolution kept.
    VectorAllocator back;
    ASSERT_EQ(DecodeImage(file, back), kOk);
    EXPECT_EQ(Compare(c.block, back.block).maxDifference, 0);
    dib::DibLayout layout;
    ASSERT_EQ(dib::Validate(c.block, dib::kAllDepths, layout), dib::DibStatus::kOk);
    EXPECT_EQ(dib::LoadI32(back.block.data() + 24), dib::LoadI32(c.block.data() + 24));
  }
}

// ---- files that claim more than they hold ------------------------------------

Bytes LE16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes LE32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A little-endian 8-bit grey TIFF of one IFD: one strip offset and byte
// count whatever the strips, then `data`. Compressed (LZW), so that libtiff
// does not mend a byte count the way it mends an uncompressed one.
Bytes GreyTiff(uint32_t width, uint32_t height, uint32_t rowsPerStrip, uint32_t stripBytes,
               const Bytes& data, uint16_t compression = 5) {
  const uint32_t tags = 8, ifdBytes = 2 + tags * 12 + 4, dataOffset = 8 + ifdBytes;
  auto tag = [](uint16_t id, uint16_t type, uint32_t count, uint32_t value) {
    return LE16(id) + LE16(type) + LE32(count) + LE32(value);
  };
  return Bytes{'I', 'I', 42, 0} + LE32(8) + LE16(uint16_t(tags)) + tag(256, 4, 1, width) + tag(257, 4, 1, height) +
         tag(258, 3, 1, 8) + tag(259, 3, 1, compression) + tag(262, 3, 1, 1) + tag(273, 4, 1, dataOffset) +
         tag(278, 4, 1, rowsPerStrip) + tag(279, 4, 1, stripBytes) + LE32(0) + data;
}

class CountingAllocator final : public BlockAllocator {
 public:
  uint8_t* Allocate(size_t bytes) override {
    ++calls;
    return inner.Allocate(bytes);
  }
  int calls = 0;
  VectorAllocator inner;
};

TEST(WebpTiffHostileFiles, RefusedBeforeTheBlockIsMade) {
  const Bytes pixels(12, 0x80);
  // A lossy WebP header (VP8 key frame of 16383 x 16383) behind 40 bytes.
  const Bytes vp8 = Bytes{0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A} + LE16(16383) + LE16(16383) + Bytes(22, 0);
  const Bytes hugeWebp = Bytes{'R', 'I', 'F', 'F'} + LE32(uint32_t(12 + vp8.size())) +
                         Bytes{'W', 'E', 'B', 'P', 'V', 'P', '8', ' '} + LE32(uint32_t(vp8.size())) + vp8;
  const struct {
    const char* name;
    Bytes file;
    int expected;
  } cases[] = {
      {"sound grey TIFF", GreyTiff(4, 3, 3, 12, pixels, 1), kOk},
      {"strip longer than the file", GreyTiff(4, 3, 3, 0x7FFFFFF0, pixels), kCorruptData},
      {"a million strips", GreyTiff(4, 1000000, 1, 4, pixels), kCorruptData},
      {"60000 x 60000", GreyTiff(60000, 60000, 60000, 12, pixels), kTooLarge},
      // 12 PackBits bytes can give at most 768 pixels, not 8000 x 3000.
      {"PackBits claiming 64 times its bytes", GreyTiff(8000, 3000, 3000, 12, pixels, 32773), kCorruptData},
      {"PackBits at 64 to 1", GreyTiff(16, 48, 48, 12, Bytes(12, 0x81), 32773), kOk},
      {"lossy WebP of 16383 x 16383 in 40 bytes", hugeWebp, kCorruptData},
  };
  for (const auto& c : cases) {
    CountingAllocator out;
    EXPECT_EQ(DecodeImage(c.file, out), c.expected) << c.name;
    EXPECT_EQ(out.calls, c.expected == kOk ? 1 : 0) << c.name;
  }
}

}  // namespace
}  // namespace rastrum
