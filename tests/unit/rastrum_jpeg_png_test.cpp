// The JPEG and PNG codecs: what files of every kind decode to, what the
// encoders write, and how damaged or hostile files fail. Test files are made
// here with libjpeg and libpng directly, and our decodes are compared with
// libjpeg's own output or with the samples the file was made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include "base/portable/dib_format.h"
#include "tests/unit/libjpeg_writer.h"
#include "base/portable/work_pool.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/cmyk_profile.h"
#include "rastrum/portable/codecs.h"
#include "tests/unit/cmyk_test_profile.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;
using Bytes = std::vector<uint8_t>;
using Decoder = int (*)(std::span<const uint8_t>, BlockAllocator&);
using PixelFn = std::function<void(int x, int y, uint8_t* bgr)>;

// Smooth gradients with a fine deterministic texture, like a photograph.
void PhotoLike(int x, int y, uint8_t* bgr) {
  for (int c = 0; c < 3; ++c) {
    double v = 128 + 80 * std::sin(x * 0.031 + c) * std::cos(y * 0.023 - 0.5 * c) +
               25 * std::sin((x + 2 * y) * 0.007 + c);
    const uint32_t h =
        (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ (uint32_t(c) * 83492791u);
    v += int(h % 9) - 4;
    bgr[c] = uint8_t(std::lround(std::fmin(255, std::fmax(0, v))));
  }
}

Bytes Block24(int w, int h, const PixelFn& fill, int32_t xPpm = 0, int32_t yPpm = 0) {
  VectorAllocator out;
  NewBlock nb;
  EXPECT_EQ(MakeBlock24(out, w, h, xPpm, yPpm, nb), kOk);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) fill(x, y, nb.pixels.Row(y) + 3 * x);
  return out.block;
}

struct Picture {
  Bytes block;
  dib::DibLayout layout;
  // Blue, green, red (and alpha in a picture with alpha).
  const uint8_t* At(int x, int y) const {
    return dib::PixelsOf(block.data(), layout).Row(y) + layout.bitCount / 8 * x;
  }
  int32_t XPpm() const { return dib::LoadI32(block.data() + 24); }
  int32_t YPpm() const { return dib::LoadI32(block.data() + 28); }
};

int Decode(Decoder decoder, const Bytes& file, Picture& pic) {
  VectorAllocator out;
  const int r = decoder(file, out);
  pic.block = std::move(out.block);
  if (r == kOk) {
    // Plain 24 bits, or 32 with alpha in the same form.
    EXPECT_EQ(dib::Validate(pic.block, dib::kDepth24 | dib::kDepth32, pic.layout), dib::DibStatus::kOk);
    EXPECT_EQ(pic.layout.headerSize, dib::kInfoHeaderSize);
    EXPECT_TRUE(pic.layout.bottomUp);
    EXPECT_EQ(pic.layout.pixelOffset, dib::kInfoHeaderSize);
  } else {
    // Whatever the allocator got must not pass for a picture.
    EXPECT_NE(dib::Validate(pic.block, dib::kAllDepths, pic.layout), dib::DibStatus::kOk);
  }
  return r;
}

// Mean absolute difference per channel, the worst of the three.
double WorstChannelError(const Picture& pic, const Bytes& sourceBlock) {
  dib::DibLayout src;
  EXPECT_EQ(dib::Validate(sourceBlock, dib::kDepth24, src), dib::DibStatus::kOk);
  double sum[3] = {};
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x)
      for (int c = 0; c < 3; ++c)
        sum[c] +=
            std::abs(pic.At(x, y)[c] - dib::PixelsOf(sourceBlock.data(), src).Row(y)[3 * x + c]);
  return std::fmax(sum[0], std::fmax(sum[1], sum[2])) / (double(src.width) * src.height);
}

// ---- JPEG files made with libjpeg ----

struct JpegSpec {
  J_COLOR_SPACE input = JCS_RGB;       // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
  J_COLOR_SPACE stored = JCS_UNKNOWN;  // for CMYK input: JCS_CMYK or JCS_YCCK
  bool progressive = false;
  bool adobe = true;
  UINT8 unit = 0;
  UINT16 xDensity = 1, yDensity = 1;
};

// `fill` writes the input's components (RGB, grey or CMYK) of one pixel.
// `icc`, when not empty, goes into APP2 segments.
Bytes WriteJpeg(const JpegSpec& spec, int w, int h, const PixelFn& fill, const Bytes& icc = {}) {
  const auto setUp = [&](jpeg_compress_struct& cinfo) {
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (spec.input == JCS_CMYK) jpeg_set_colorspace(&cinfo, spec.stored);
    cinfo.write_Adobe_marker = spec.adobe ? cinfo.write_Adobe_marker : FALSE;
    if (spec.progressive) jpeg_simple_progression(&cinfo);
    cinfo.density_unit = spec.unit;
    cinfo.X_density = spec.xDensity;
    cinfo.Y_density = spec.yDensity;
  };
  const int components = spec.input == JCS_GRAYSCALE ? 1 : spec.input == JCS_CMYK ? 4 : 3;
  return qb::test::WriteWithLibjpeg(w, h, spec.input, setUp, [&](int y, uint8_t* row) {
    for (int x = 0; x < w; ++x) fill(x, y, &row[size_t(x) * components]);
  }, icc);
}

// libjpeg's own RGB decode of a file, top row first.
Bytes LibjpegRgb(const Bytes& file, int& w, int& h) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  w = cinfo.output_width;
  h = cinfo.output_height;
  Bytes rgb(size_t(w) * h * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW p = &rgb[size_t(cinfo.output_scanline) * w * 3];
    jpeg_read_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return rgb;
}

void RgbPhoto(int x, int y, uint8_t* rgb) {
  uint8_t bgr[3];
  PhotoLike(x, y, bgr);
  rgb[0] = bgr[2], rgb[1] = bgr[1], rgb[2] = bgr[0];
}

struct JpegKind {
  const char* name;
  JpegSpec spec;
  int w, h;
};

class JpegDecode : public testing::TestWithParam<JpegKind> {};

// Same pixels as libjpeg's own decode, top row at the top, blue first.
TEST_P(JpegDecode, MatchesLibjpegExactly) {
  const JpegKind& k = GetParam();
  const Bytes file = WriteJpeg(k.spec, k.w, k.h, [&](int x, int y, uint8_t* px) {
    uint8_t rgb[3];
    RgbPhoto(x, y, rgb);
    std::memcpy(px, rgb, k.spec.input == JCS_GRAYSCALE ? 1 : 3);
  });
  Picture pic;
  ASSERT_EQ(Decode(DecodeJpeg, file, pic), kOk);
  int w = 0, h = 0;
  const Bytes rgb = LibjpegRgb(file, w, h);
  ASSERT_EQ(pic.layout.width, k.w);
  ASSERT_EQ(pic.layout.height, k.h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* want = &rgb[(size_t(y) * w + x) * 3];
      const uint8_t* got = pic.At(x, y);
      ASSERT_TRUE(got[0] == want[2] && got[1] == want[1] && got[2] == want[0])
          << "pixel " << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JpegDecode,
    testing::Values(JpegKind{"Baseline", {}, 64, 48}, JpegKind{"OddSize", {}, 37, 21},
                    JpegKind{"OnePixel", {}, 1, 1},
                    JpegKind{"Progressive", {JCS_RGB, JCS_UNKNOWN, true}, 45, 31},
                    JpegKind{"Grey", {JCS_GRAYSCALE}, 19, 23},
                    JpegKind{"GreyProgressive", {JCS_GRAYSCALE, JCS_UNKNOWN, true}, 33, 17}),
    [](const auto& info) { return std::string(info.param.name); });

// Four-ink files without a profile of their own become RGB through the
// press profile, as ImageMagick converts them when given it: Adobe's
// inverted inks and plain ones alike.
struct InkCase {
  const char* name;
  J_COLOR_SPACE stored;
  bool adobe;
};
class JpegInks : public testing::TestWithParam<InkCase> {};

// ImageMagick's decode of a JPEG through `profile` into sRGB.
bool MagickThrough(const Bytes& jpeg, const std::string& profile, Picture& out) {
  const std::string dir = testing::TempDir(), path = dir + "qb_inks.jpg", icc = dir + "qb_inks.icc",
                    ref = dir + "qb_inks.ppm";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
  const std::span<const uint8_t> press = rastrum::PressProfile();
  std::ofstream(icc, std::ios::binary).write(reinterpret_cast<const char*>(press.data()), std::streamsize(press.size()));
  // Black point compensation, as Little CMS does towards its built-in
  // sRGB (version 4) in the perceptual intent.
  const std::string command = "convert-im6.q16 " + path + (profile.empty() ? "" : " -profile " + icc) +
                              " -black-point-compensation -profile /usr/share/color/icc/sRGB.icc -depth 8 " + ref;
  if (std::system(command.c_str()) != 0) return false;
  std::ifstream in(ref, std::ios::binary);
  const Bytes ppm(std::istreambuf_iterator<char>(in), {});
  return Decode(DecodePnm, ppm, out) == kOk;
}

TEST_P(JpegInks, BecomeRgbThroughThePressProfile) {
  // Flat patches (cyan, magenta, yellow, half black, paper) in columns of
  // 16 pixels, and a ramp of each ink and of black below them.
  const uint8_t inks[5][4] = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {0, 0, 0, 128}, {0, 0, 0, 0}};
  const auto write = [&](bool adobe) {
    return WriteJpeg({JCS_CMYK, GetParam().stored, false, adobe}, 80, 48, [&](int x, int y, uint8_t* px) {
      uint8_t v[4] = {0, 0, 0, 0};
      if (y < 16) std::memcpy(v, inks[x / 16], 4);
      else v[(y - 16) / 8 % 4] = uint8_t(x * 255 / 79);
      for (int n = 0; n < 4; ++n) px[n] = adobe ? 255 - v[n] : v[n];
    });
  };
  const Bytes file = write(GetParam().adobe);
  Picture pic, magick;
  ASSERT_EQ(Decode(DecodeJpeg, file, pic), kOk);
  // ImageMagick takes every CMYK JPEG's inks as Adobe's: it is shown the
  // same inks in an Adobe file.
  ASSERT_TRUE(MagickThrough(write(true), "press", magick));
  EXPECT_LT(WorstChannelError(pic, magick.block), 3.0);
  // Printed cyan is no screen cyan: the press's own colours, not the plain
  // formula's (0, 255, 255).
  const uint8_t* cyan = pic.At(8, 8);
  EXPECT_LT(cyan[1], 200);
  EXPECT_LT(cyan[0], 250);
}

INSTANTIATE_TEST_SUITE_P(Kinds, JpegInks,
                         testing::Values(InkCase{"AdobeCmyk", JCS_CMYK, true},
                                         InkCase{"AdobeYcck", JCS_YCCK, true},
                                         InkCase{"PlainCmyk", JCS_CMYK, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// CMYK and YCCK files with a CMYK profile read as ImageMagick reads them
// through it (-profile sRGB.icc), and far from the plain formula.
TEST(JpegCmykProfile, ColoursComeThroughTheEmbeddedProfile) {
  const std::vector<uint8_t> icc = qb::test::SquaredInksProfile();
  ASSERT_GT(icc.size(), 1000u);
  const std::string dir = testing::TempDir();
  for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
    SCOPED_TRACE(stored == JCS_CMYK ? "CMYK" : "YCCK");
    // Adobe's inverted inks, as ImageMagick and Photoshop write them: a
    // ramp of each ink and of black.
    auto fill = [](int x, int y, uint8_t* px) {
      for (int n = 0; n < 4; ++n) px[n] = 255;
      px[y / 8] = uint8_t(255 - x * 4);
    };
    const Bytes withProfile = WriteJpeg({JCS_CMYK, stored, false, true}, 64, 32, fill, icc);
    const Bytes plain = WriteJpeg({JCS_CMYK, stored, false, true}, 64, 32, fill);
    const std::string path = dir + "qb_cmyk_profile.jpg", ref = dir + "qb_cmyk_profile.ppm";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(withProfile.data()), std::streamsize(withProfile.size()));
    const std::string command =
        "convert-im6.q16 " + path + " -profile /usr/share/color/icc/sRGB.icc -depth 8 " + ref;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(ref, std::ios::binary);
    const Bytes ppm(std::istreambuf_iterator<char>(in), {});
    Picture ours, formula, magick;
    ASSERT_EQ(Decode(DecodeJpeg, withProfile, ours), kOk);
    ASSERT_EQ(Decode(DecodeJpeg, plain, formula), kOk);
    ASSERT_EQ(Decode(DecodePnm, ppm, magick), kOk);
    EXPECT_LT(WorstChannelError(ours, magick.block), 3.0);
    EXPECT_GT(WorstChannelError(ours, formula.block), 15.0);
  }
}

struct DensityCase {
  UINT8 unit;
  UINT16 x, y;
  int32_t xPpm, yPpm;
};
class JpegDensity : public testing::TestWithParam<DensityCase> {};

TEST_P(JpegDensity, BecomesPelsPerMeter) {
  const DensityCase& d = GetParam();
  JpegSpec spec;
  spec.unit = d.unit, spec.xDensity = d.x, spec.yDensity = d.y;
  Picture pic;
  ASSERT_EQ(Decode(DecodeJpeg, WriteJpeg(spec, 8, 8, RgbPhoto), pic), kOk);
  EXPECT_EQ(pic.XPpm(), d.xPpm);
  EXPECT_EQ(pic.YPpm(), d.yPpm);
}

INSTANTIATE_TEST_SUITE_P(Units, JpegDensity,
                         testing::Values(DensityCase{1, 72, 72, 2835, 2835},
                                         DensityCase{1, 96, 300, 3780, 11811},
                                         DensityCase{1, 65535, 1, 2580118, 39},
                                         DensityCase{2, 118, 40, 11800, 4000},
                                         DensityCase{0, 2, 1, 0, 0}));

struct RoundTripCase {
  int w, h;
  double maxError;  // mean absolute difference, worst channel
};
class JpegRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(JpegRoundTrip, KeepsSizeAndLooksTheSame) {
  const RoundTripCase& c = GetParam();
  const Bytes block = Block24(c.w, c.h, PhotoLike);
  Bytes file;
  ASSERT_EQ(EncodeJpeg(block, 90, file), kOk);
  Picture pic;
  ASSERT_EQ(Decode(DecodeJpeg, file, pic), kOk);
  ASSERT_EQ(pic.layout.width, c.w);
  ASSERT_EQ(pic.layout.height, c.h);
  EXPECT_LT(WorstChannelError(pic, block), c.maxError);
}

// Pictures smaller than one 16 x 16 block lose more to the halved chroma
// resolution than a photograph does.
INSTANTIATE_TEST_SUITE_P(Sizes, JpegRoundTrip,
                         testing::Values(RoundTripCase{1, 1, 3}, RoundTripCase{3, 2, 6},
                                         RoundTripCase{17, 9, 3}, RoundTripCase{255, 129, 3},
                                         RoundTripCase{641, 479, 3}));

// The encoder reads blocks of any depth: here a palette block, red at the
// top and blue at the bottom.
TEST(JpegEncode, TakesAPaletteBlock) {
  const uint8_t table[] = {0, 0, 255, 0, 255, 0, 0, 0};  // red, blue
  VectorAllocator palette;
  NewBlock nb;
  ASSERT_EQ(MakePaletteBlock(palette, 16, 16, 8, table, 0, 0, nb), kOk);
  for (int y = 0; y < 16; ++y) std::memset(nb.pixels.Row(y), y < 8 ? 0 : 1, 16);
  Bytes file;
  ASSERT_EQ(EncodeJpeg(palette.block, 90, file), kOk);
  Picture pic;
  ASSERT_EQ(Decode(DecodeJpeg, file, pic), kOk);
  EXPECT_NEAR(pic.At(8, 2)[2], 255, 6);
  EXPECT_NEAR(pic.At(8, 2)[0], 0, 6);
  EXPECT_NEAR(pic.At(8, 13)[2], 0, 6);
  EXPECT_NEAR(pic.At(8, 13)[0], 255, 6);
}

struct ResolutionCase {
  int32_t xPpm, yPpm;
  UINT8 unit;
  UINT16 xDpi, yDpi;  // JFIF density as libjpeg reads it
};
class JpegResolution : public testing::TestWithParam<ResolutionCase> {};

TEST_P(JpegResolution, WrittenAsDotsPerInch) {
  const ResolutionCase& r = GetParam();
  Bytes file;
  ASSERT_EQ(EncodeJpeg(Block24(8, 8, PhotoLike, r.xPpm, r.yPpm), 90, file), kOk);
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  EXPECT_TRUE(cinfo.saw_JFIF_marker);
  EXPECT_EQ(cinfo.density_unit, r.unit);
  if (r.unit) {
    EXPECT_EQ(cinfo.X_density, r.xDpi);
    EXPECT_EQ(cinfo.Y_density, r.yDpi);
  }
  jpeg_destroy_decompress(&cinfo);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JpegResolution,
    testing::Values(ResolutionCase{2835, 5906, 1, 72, 150}, ResolutionCase{3779, 3779, 1, 96, 96},
                    ResolutionCase{0, 0, 0, 0, 0},
                    ResolutionCase{2835, 0, 0, 0, 0},  // half a resolution is none
                    ResolutionCase{19, 19, 0, 0, 0},   // below half a dot per inch
                    ResolutionCase{-2835, 2835, 0, 0, 0},
                    ResolutionCase{INT32_MAX, 3000000, 1, 65535, 65535}));

// ---- damaged and hostile files, both decoders ----

// Records what a decoder asks of its allocator; can refuse.
struct RecordingAllocator final : BlockAllocator {
  uint8_t* Allocate(size_t bytes) override {
    ++calls;
    return refuse ? nullptr : inner.Allocate(bytes);
  }
  VectorAllocator inner;
  int calls = 0;
  bool refuse = false;
};

struct PngSpec {
  int colorType = PNG_COLOR_TYPE_RGB;
  int depth = 8;
  bool interlaced = false;
  bool trns = false;
  int physUnit = -1;  // none
  png_uint_32 xRes = 0, yRes = 0;
};

int Channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
  }
}

unsigned Sample(int x, int y, int ch, int depth) {
  if (depth == 16) return (x * 2671u + y * 40503u + ch * 9973u) & 0xffff;
  return (x * 7u + y * 13u + ch * 29u + (x * y) % 11u) % (1u << depth);
}

png_color PaletteEntry(unsigned i) { return {png_byte(i * 3), png_byte(255 - i), png_byte(i * 7)}; }

// The blue, green, red a decoder must give for pixel (x, y) of WritePng's
// file: samples scaled to 8 bits (16-bit ones cut to their high byte), grey
// repeated, palette looked up (alpha is ExpectedAlpha's).
void ExpectedBgr(const PngSpec& s, int x, int y, uint8_t* bgr) {
  const auto scale = [&](unsigned v) {
    return uint8_t(s.depth == 16 ? v >> 8 : v * 255 / ((1u << s.depth) - 1));
  };
  if (s.colorType == PNG_COLOR_TYPE_PALETTE) {
    const png_color c = PaletteEntry(Sample(x, y, 0, s.depth));
    bgr[0] = c.blue, bgr[1] = c.green, bgr[2] = c.red;
  } else if ((s.colorType & PNG_COLOR_MASK_COLOR) == 0) {
    bgr[0] = bgr[1] = bgr[2] = scale(Sample(x, y, 0, s.depth));
  } else {
    for (int c = 0; c < 3; ++c) bgr[2 - c] = scale(Sample(x, y, c, s.depth));
  }
}

// The alpha of pixel (x, y) of WritePng's file, or -1 for a file without
// alpha: its alpha sample; with tRNS, the palette entry's (i * 16 for the
// first 16) or 0 for the key colour (the sample of pixel (1, 0), channel 0,
// in every channel) and 255 for every other.
int ExpectedAlpha(const PngSpec& s, int x, int y) {
  const int channels = Channels(s.colorType);
  if (s.colorType & PNG_COLOR_MASK_ALPHA) {
    const unsigned a = Sample(x, y, channels - 1, s.depth);
    return int(s.depth == 16 ? a >> 8 : a);
  }
  if (!s.trns) return -1;
  if (s.colorType == PNG_COLOR_TYPE_PALETTE) {
    const unsigned i = Sample(x, y, 0, s.depth);
    return i < 16 ? int(i * 16) : 255;
  }
  const unsigned key = Sample(1, 0, 0, s.depth);
  for (int c = 0; c < channels; ++c)
    if (Sample(x, y, c, s.depth) != key) return 255;
  return 0;
}

void AppendToVector(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

Bytes WritePng(const PngSpec& s, int w, int h) {
  Bytes file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &file, AppendToVector, nullptr);
  png_set_IHDR(png, info, w, h, s.depth, s.colorType,
               s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  std::vector<png_byte> alphas;
  if (s.colorType == PNG_COLOR_TYPE_PALETTE) {
    for (unsigned i = 0; i < (1u << s.depth); ++i) palette.push_back(PaletteEntry(i));
    png_set_PLTE(png, info, palette.data(), int(palette.size()));
  }
  if (s.trns) {
    png_color_16 key{};
    key.gray = key.red = key.green = key.blue = png_uint_16(Sample(1, 0, 0, s.depth));
    for (size_t i = 0; i < palette.size() && i < 16; ++i) alphas.push_back(png_byte(i * 16));
    png_set_tRNS(png, info, alphas.data(), int(alphas.size()), &key);
  }
  if (s.physUnit >= 0) png_set_pHYs(png, info, s.xRes, s.yRes, s.physUnit);
  png_write_info(png, info);
  const int channels = Channels(s.colorType);
  std::vector<Bytes> rows(h, Bytes((size_t(w) * channels * s.depth + 7) / 8));
  std::vector<png_bytep> pointers;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const unsigned v = Sample(x, y, c, s.depth);
        const size_t bit = (size_t(x) * channels + c) * s.depth;
        if (s.depth == 16) {
          rows[y][bit / 8] = png_byte(v >> 8), rows[y][bit / 8 + 1] = png_byte(v);
        } else {
          rows[y][bit / 8] |= png_byte(v << (8 - s.depth - bit % 8));
        }
      }
    pointers.push_back(rows[y].data());
  }
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return file;
}

uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Offset of the length field of the first chunk of this type.
size_t FindChunk(const Bytes& file, const char* type) {
  for (size_t at = 8; at + 8 <= file.size(); at += 12 + LoadBigEndian(&file[at]))
    if (std::memcmp(&file[at + 4], type, 4) == 0) return at;
  ADD_FAILURE() << "no " << type << " chunk";
  return 0;
}

// Offset of the first byte after the first FF code marker.
size_t FindMarker(const Bytes& file, uint8_t code) {
  for (size_t at = 0; at + 1 < file.size(); ++at)
    if (file[at] == 0xFF && file[at + 1] == code) return at + 2;
  ADD_FAILURE() << "no marker " << int(code);
  return 0;
}

Bytes Cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}
Bytes Flip(Bytes b, size_t at) {
  b.at(at) ^= 0x5a;
  return b;
}
Bytes Random(size_t n, unsigned seed) {
  Bytes b(n);
  for (auto& v : b) v = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
  return b;
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct DamageCase {
  std::string name;
  Decoder decoder;
  Bytes file;
  int want;
};
class JpegPngDamaged : public testing::TestWithParam<DamageCase> {};

// The failure value, and nothing in the allocator that passes for a block
// (checked by Decode).
TEST_P(JpegPngDamaged, FailsWithoutAPicture) {
  Picture pic;
  EXPECT_EQ(Decode(GetParam().decoder, GetParam().file, pic), GetParam().want);
}

std::vector<DamageCase> DamageCases() {
  std::vector<DamageCase> cases;
  for (const bool progressive : {false, true}) {
    const Bytes j = WriteJpeg({JCS_RGB, JCS_UNKNOWN, progressive}, 48, 40, RgbPhoto);
    const std::string kind = progressive ? "Progressive" : "Baseline";
    const size_t scan = FindMarker(j, 0xDA);
    cases.push_back({"JpegSoiOnly" + kind, DecodeJpeg, Cut(j, 2), kCorruptData});
    cases.push_back({"JpegCutInTables" + kind, DecodeJpeg, Cut(j, 30), kCorruptData});
    cases.push_back({"JpegCutAfterScanHeader" + kind, DecodeJpeg, Cut(j, scan + 12), kCorruptData});
    cases.push_back(
        {"JpegCutInScan" + kind, DecodeJpeg, Cut(j, (scan + j.size()) / 2), kCorruptData});
    cases.push_back({"JpegWithoutEoi" + kind, DecodeJpeg, Cut(j, j.size() - 2), kCorruptData});
  }
  const Bytes p = WritePng({}, 40, 30);
  const size_t idat = FindChunk(p, "IDAT");
  cases.push_back({"PngSignatureOnly", DecodePng, Cut(p, 8), kCorruptData});
  cases.push_back({"PngCutInHeader", DecodePng, Cut(p, 20), kCorruptData});
  cases.push_back({"PngCutInData", DecodePng, Cut(p, idat + 30), kCorruptData});
  cases.push_back({"PngWithoutEnd", DecodePng, Cut(p, p.size() - 12), kCorruptData});
  cases.push_back({"PngHeaderCrc", DecodePng, Flip(p, 29), kCorruptData});
  cases.push_back(
      {"PngDataCrc", DecodePng, Flip(p, idat + 8 + LoadBigEndian(&p[idat])), kCorruptData});
  cases.push_back({"PngDataByte", DecodePng, Flip(p, idat + 20), kCorruptData});
  const Bytes j = WriteJpeg({}, 16, 16, RgbPhoto);
  for (const Decoder d : {DecodeJpeg, DecodePng}) {
    const std::string name = d == DecodeJpeg ? "Jpeg" : "Png";
    cases.push_back({name + "Empty", d, {}, kCorruptData});
    cases.push_back({name + "OneByte", d, {0xFF}, kCorruptData});
    cases.push_back({name + "Garbage", d, Random(4000, 7), kCorruptData});
    cases.push_back({name + "OtherFormat", d, d == DecodeJpeg ? p : j, kCorruptData});
  }
  cases.push_back(
      {"JpegSoiThenGarbage", DecodeJpeg, Bytes{0xFF, 0xD8, 0xFF} + Random(4000, 9), kCorruptData});
  cases.push_back(
      {"PngSignatureThenGarbage", DecodePng, Cut(p, 8) + Random(4000, 11), kCorruptData});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Files, JpegPngDamaged, testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return info.param.name; });

// Bytes changed anywhere after the headers: each decode either fails or
// gives a sound block, never reads or writes out of bounds (sanitizers).
TEST(JpegPngMangled, DecodesOrFailsCleanly) {
  const Bytes files[] = {WriteJpeg({}, 40, 24, RgbPhoto),
                         WriteJpeg({JCS_RGB, JCS_UNKNOWN, true}, 40, 24, RgbPhoto),
                         WritePng({}, 40, 24), WritePng({PNG_COLOR_TYPE_PALETTE, 4, true}, 40, 24)};
  for (int f = 0; f < 4; ++f) {
    const Decoder decoder = f < 2 ? DecodeJpeg : DecodePng;
    const Bytes noise = Random(200 * 4, unsigned(f));
    for (int trial = 0; trial < 200; ++trial) {
      Bytes file = files[f];
      for (int n = 0; n < 4; ++n)
        file[40 + noise[trial * 4 + n] * (file.size() - 40) / 256] ^= noise[trial * 4 + n] | 1;
      Picture pic;
      const int r = Decode(decoder, file, pic);
      EXPECT_TRUE(r == kOk || r == kCorruptData || r == kTooLarge)
          << "file " << f << " trial " << trial << ": " << r;
    }
  }
}

// A header that claims a picture past what a 32-bit process can hold fails
// before anything is allocated.
TEST(JpegPngTooLarge, FailsBeforeAllocating) {
  Bytes jpeg = WriteJpeg({}, 16, 16, RgbPhoto);
  const size_t sof = FindMarker(jpeg, 0xC0);
  jpeg[sof + 3] = jpeg[sof + 5] = 60000 >> 8;  // height, width: 60000
  jpeg[sof + 4] = jpeg[sof + 6] = 60000 & 0xFF;
  Bytes png = WritePng({}, 16, 16);
  for (int at : {16, 20})
    png[at] = 0, png[at + 1] = 0, png[at + 2] = 0x75, png[at + 3] = 0x30;  // 30000
  const uLong crc = crc32(0, &png[12], 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));

  for (auto [decoder, file] :
       {std::pair{Decoder(DecodeJpeg), &jpeg}, std::pair{Decoder(DecodePng), &png}}) {
    RecordingAllocator out;
    EXPECT_EQ(decoder(*file, out), kTooLarge);
    EXPECT_EQ(out.calls, 0);
  }
}

// A progressive arithmetic-coded grey JPEG whose scans (one DC scan, then
// AC scans over and over) carry `fill` zero bytes each, which decode as a
// flat picture: a few bytes a scan that make the decoder visit every block.
Bytes ScanHeavyJpeg(int w, int h, int scans, size_t fill) {
  auto segment = [](uint8_t marker, const Bytes& body) {
    const size_t n = body.size() + 2;
    return Bytes{0xFF, marker, uint8_t(n >> 8), uint8_t(n)} + body;
  };
  Bytes file = Bytes{0xFF, 0xD8} + segment(0xDB, Bytes{0} + Bytes(64, 1)) +
               segment(0xCA, {8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), 1, 1, 0x11, 0});
  for (int i = 0; i < scans; ++i)
    file = file + segment(0xDA, {1, 1, 0, uint8_t(i ? 1 : 0), uint8_t(i ? 63 : 0), 0}) + Bytes(fill, 0);
  return file + Bytes{0xFF, 0xD9};
}

// The entropy-coded data must hold at least a bit a block before anything
// is allocated, and the scans may visit the blocks 12 times over: 1000-scan
// files of 8000 x 8000 are refused at once with 95 bytes a scan, after 12
// passes with 135.
TEST(JpegHostileScans, AreRefusedByTheirDataAndWork) {
  struct Case {
    int side, scans;
    size_t fill;
    int want, allocations;
  } cases[] = {{64, 12, 1, kOk, 1},         {64, 13, 1, kCorruptData, 0},  {64, 3, 0, kCorruptData, 0},
               {8000, 1000, 95, kCorruptData, 0}, {8000, 1000, 135, kCorruptData, 0}};
  for (const Case& c : cases) {
    RecordingAllocator out;
    EXPECT_EQ(DecodeJpeg(ScanHeavyJpeg(c.side, c.side, c.scans, c.fill), out), c.want)
        << c.side << " wide, " << c.scans << " scans of " << c.fill << " bytes";
    EXPECT_EQ(out.calls, c.allocations);
  }
}

// A header that claims more than the file's data can hold is refused
// before the block is allocated: 4000 x 4000 PNG rows cannot inflate from
// the IDAT of a 16 x 16 picture (deflate gives at most 1032 bytes a byte),
// nor 4000 x 4000 JPEG blocks come from its scan (at least a bit a block).
TEST(JpegPngThinData, RefusedBeforeAllocating) {
  Bytes png = WritePng({}, 16, 16);
  for (int at : {16, 20}) png[at] = 0, png[at + 1] = 0, png[at + 2] = 0x0F, png[at + 3] = 0xA0;
  const uLong crc = crc32(0, &png[12], 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));
  Bytes jpeg = WriteJpeg({}, 16, 16, RgbPhoto);
  const size_t sof = FindMarker(jpeg, 0xC0);
  jpeg[sof + 3] = jpeg[sof + 5] = 4000 >> 8;
  jpeg[sof + 4] = jpeg[sof + 6] = 4000 & 0xFF;
  for (auto [decoder, file] : {std::pair{Decoder(DecodeJpeg), &jpeg}, std::pair{Decoder(DecodePng), &png}}) {
    RecordingAllocator out;
    EXPECT_EQ(decoder(*file, out), kCorruptData);
    EXPECT_EQ(out.calls, 0);
  }
}

TEST(JpegPngOutOfMemory, ReportedWhenTheBlockCannotBeHad) {
  for (auto [decoder, file] : {std::pair{Decoder(DecodeJpeg), WriteJpeg({}, 16, 16, RgbPhoto)},
                               std::pair{Decoder(DecodePng), WritePng({}, 16, 16)}}) {
    RecordingAllocator out;
    out.refuse = true;
    EXPECT_EQ(decoder(file, out), kOutOfMemory);
    EXPECT_EQ(out.calls, 1);
  }
}

// A refused block or quality leaves the caller's file as it was.
TEST(JpegPngEncode, RefusesBadInputAndLeavesTheFileAlone) {
  const Bytes good = Block24(4, 4, PhotoLike), shortBlock = Cut(good, good.size() - 1), empty;
  const Bytes marker = {0xde, 0xad, 0xbe, 0xef};
  struct Case {
    bool png;
    const Bytes* block;
    int quality, want;
  };
  for (const Case& c :
       {Case{false, &good, 0, kBadArgument}, Case{false, &good, 101, kBadArgument},
        Case{false, &empty, 90, kBadArgument}, Case{true, &empty, 0, kBadArgument},
        Case{false, &shortBlock, 90, kCorruptData}, Case{true, &shortBlock, 0, kCorruptData}}) {
    Bytes file = marker;
    EXPECT_EQ(c.png ? EncodePng(*c.block, file) : EncodeJpeg(*c.block, c.quality, file), c.want)
        << (c.png ? "png" : "jpeg") << " quality " << c.quality;
    EXPECT_EQ(file, marker);
  }
}

// ---- PNG ----

struct PngKind {
  const char* name;
  PngSpec spec;
};
class PngDecode : public testing::TestWithParam<PngKind> {};

TEST_P(PngDecode, GivesTheSamplesAsBgr) {
  const PngSpec& s = GetParam().spec;
  const int w = 13, h = 11;  // odd, and no multiple of the interlace blocks
  Picture pic;
  ASSERT_EQ(Decode(DecodePng, WritePng(s, w, h), pic), kOk);
  ASSERT_EQ(pic.layout.width, w);
  ASSERT_EQ(pic.layout.height, h);
  // Only a file with alpha or tRNS gives a picture with alpha.
  const bool alpha = ExpectedAlpha(s, 0, 0) >= 0;
  ASSERT_EQ(pic.layout.bitCount, alpha ? 32 : 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t want[3];
      ExpectedBgr(s, x, y, want);
      ASSERT_EQ(0, std::memcmp(pic.At(x, y), want, 3)) << "pixel " << x << "," << y;
      if (alpha) {
        ASSERT_EQ(pic.At(x, y)[3], ExpectedAlpha(s, x, y)) << "alpha at " << x << "," << y;
      }
    }
}

constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyAlpha = PNG_COLOR_TYPE_GRAY_ALPHA,
              kRgb = PNG_COLOR_TYPE_RGB, kRgba = PNG_COLOR_TYPE_RGB_ALPHA,
              kPalette = PNG_COLOR_TYPE_PALETTE;

INSTANTIATE_TEST_SUITE_P(
    Kinds, PngDecode,
    testing::Values(
        PngKind{"Grey1", {kGrey, 1}}, PngKind{"Grey2", {kGrey, 2}}, PngKind{"Grey4", {kGrey, 4}},
        PngKind{"Grey8", {kGrey, 8}}, PngKind{"Grey16", {kGrey, 16}},
        PngKind{"GreyAlpha8", {kGreyAlpha, 8}}, PngKind{"GreyAlpha16", {kGreyAlpha, 16}},
        PngKind{"Rgb8", {kRgb, 8}}, PngKind{"Rgb16", {kRgb, 16}}, PngKind{"Rgba8", {kRgba, 8}},
        PngKind{"Rgba16", {kRgba, 16}}, PngKind{"Palette1", {kPalette, 1}},
        PngKind{"Palette2", {kPalette, 2}}, PngKind{"Palette4", {kPalette, 4}},
        PngKind{"Palette8", {kPalette, 8}}, PngKind{"PaletteTrns", {kPalette, 8, false, true}},
        PngKind{"Grey4Trns", {kGrey, 4, false, true}},
        PngKind{"Grey8Trns", {kGrey, 8, false, true}},
        PngKind{"Rgb16Trns", {kRgb, 16, false, true}}, PngKind{"InterlacedRgb8", {kRgb, 8, true}},
        PngKind{"InterlacedPalette4Trns", {kPalette, 4, true, true}},
        PngKind{"InterlacedGreyAlpha16", {kGreyAlpha, 16, true}}),
    [](const auto& info) { return std::string(info.param.name); });

struct PngRoundTripCase {
  int w, h;
  int32_t xPpm, yPpm;
  bool alpha = false;
  int stripes = 0;  // rows a stripe of a drawing that repeats; 0: PhotoLike
};
class PngRoundTrip : public testing::TestWithParam<PngRoundTripCase> {};

// The decoded block is the encoded one: header, resolution, alpha and
// padding included. Pictures of several bands (of 2 MiB of rows) come out
// as the same bytes from one thread and from two.
TEST_P(PngRoundTrip, GivesTheSameBlock) {
  const PngRoundTripCase& c = GetParam();
  const auto fill = [&c](int x, int y, uint8_t* bgr) {
    if (c.stripes) {
      for (int k = 0; k < 3; ++k) bgr[k] = uint8_t((x / 7 + y / c.stripes + k) % 3 * 120);
    } else {
      PhotoLike(x, y, bgr);
    }
  };
  Bytes block = Block24(c.w, c.h, fill, c.xPpm, c.yPpm);
  if (c.alpha) {
    VectorAllocator out;
    NewBlock nb;
    ASSERT_EQ(MakeBlock32(out, c.w, c.h, c.xPpm, c.yPpm, nb), kOk);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        fill(x, y, nb.pixels.Row(y) + 4 * x);
        nb.pixels.Row(y)[4 * x + 3] = uint8_t(c.stripes ? x / 9 % 2 * 255 : (x * 3 + y) % 256);
      }
    block = std::move(out.block);
  }
  Bytes files[2];
  for (int threads : {1, 2}) {
    qb::work::SetThreadCount(threads);
    const int made = EncodePng(block, files[threads - 1]);
    qb::work::SetThreadCount(0);
    ASSERT_EQ(made, kOk);
  }
  EXPECT_TRUE(files[0] == files[1]);
  Picture pic;
  ASSERT_EQ(Decode(DecodePng, files[0], pic), kOk);
  EXPECT_TRUE(pic.block == block);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngRoundTrip,
                         testing::Values(PngRoundTripCase{1, 1, 0, 0},
                                         PngRoundTripCase{3, 2, 3780, 2835},
                                         PngRoundTripCase{17, 5, 1, 1},
                                         PngRoundTripCase{101, 37, 0, 0},
                                         PngRoundTripCase{5, 3, 0, 0, true},
                                         PngRoundTripCase{1001, 800, 0, 0},
                                         PngRoundTripCase{999, 700, 3780, 3780, true},
                                         PngRoundTripCase{1003, 1500, 0, 0, false, 10},
                                         PngRoundTripCase{1003, 1500, 0, 0, false, 11},
                                         PngRoundTripCase{777, 1300, 0, 0, true, 5}));

// Each row gets the filter of libpng's heuristic: the smallest sum of the
// filtered bytes read as signed, the first of equal sums. Rows of every
// length modulo 16, and rows made for each filter to win.
TEST(PngEncode, FiltersEachRowByTheSmallestSum) {
  const auto rowKind = [](int x, int y, int k) {
    switch (y % 4) {
      case 0: return uint8_t(x * 9 + k * 50);                                   // Sub
      case 1: return uint8_t((x - 1) * 9 + k * 50);                             // Up, nearly
      case 2: return uint8_t((uint32_t(x * 7919 + y * 104729 + k) * 2654435761u) >> 24);  // none fits
      default: return uint8_t(100 + 40 * std::sin(x * 0.3 + k) + y);           // smooth
    }
  };
  for (const bool alpha : {false, true})
    for (int w = 1; w <= 17; ++w) {
      const int h = 9, bpp = alpha ? 4 : 3;
      VectorAllocator out;
      NewBlock nb;
      ASSERT_EQ((alpha ? MakeBlock32 : MakeBlock24)(out, w, h, 0, 0, nb), kOk);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * bpp; ++x) nb.pixels.Row(y)[x] = rowKind(x / bpp, y, x % bpp);
      Bytes file;
      ASSERT_EQ(EncodePng(out.block, file), kOk);
      const size_t idat = FindChunk(file, "IDAT");
      const size_t n = size_t(w) * bpp;
      Bytes raw(h * (n + 1));
      uLongf rawSize = raw.size();
      ASSERT_EQ(uncompress(raw.data(), &rawSize, &file[idat + 8], LoadBigEndian(&file[idat])), Z_OK);
      ASSERT_EQ(rawSize, raw.size());
      const Bytes zeros(n);
      for (int y = 0; y < h; ++y) {
        // The sums do not depend on the order of the channels.
        const uint8_t* cur = nb.pixels.Row(y);
        const uint8_t* prev = y ? nb.pixels.Row(y - 1) : zeros.data();
        long best = -1;
        int want = 0;
        for (int f = 0; f < 5; ++f) {
          long sum = 0;
          for (size_t i = 0; i < n; ++i) {
            const int a = i >= size_t(bpp) ? cur[i - bpp] : 0, b = prev[i], c = i >= size_t(bpp) ? prev[i - bpp] : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            const int v = uint8_t(cur[i] - predicted[f]);
            sum += v < 128 ? v : 256 - v;
          }
          if (best < 0 || sum < best) best = sum, want = f;
        }
        EXPECT_EQ(raw[y * (n + 1)], want) << "width " << w << " row " << y << (alpha ? " with alpha" : "");
      }
    }
}

struct PhysCase {
  int unit;
  png_uint_32 x, y;
  int32_t xPpm, yPpm;
};
class PngResolution : public testing::TestWithParam<PhysCase> {};

TEST_P(PngResolution, ComesFromPhysInMetres) {
  const PhysCase& c = GetParam();
  PngSpec spec;
  spec.physUnit = c.unit, spec.xRes = c.x, spec.yRes = c.y;
  Picture pic;
  ASSERT_EQ(Decode(DecodePng, WritePng(spec, 4, 4), pic), kOk);
  EXPECT_EQ(pic.XPpm(), c.xPpm);
  EXPECT_EQ(pic.YPpm(), c.yPpm);
}

INSTANTIATE_TEST_SUITE_P(
    Units, PngResolution,
    testing::Values(PhysCase{PNG_RESOLUTION_METER, 2835, 3780, 2835, 3780},
                    PhysCase{PNG_RESOLUTION_METER, 0x7FFFFFFF, 1, INT32_MAX, 1},
                    PhysCase{PNG_RESOLUTION_UNKNOWN, 1, 2, 0, 0}, PhysCase{-1, 0, 0, 0, 0}));

// A bad CRC on an ancillary chunk drops the chunk, as libpng does by
// default: the resolution is lost, the picture is intact.
TEST(PngAncillaryChunk, BadCrcDropsOnlyTheChunk) {
  PngSpec spec;
  spec.physUnit = PNG_RESOLUTION_METER, spec.xRes = spec.yRes = 2835;
  const Bytes file = WritePng(spec, 6, 5);
  Picture pic;
  ASSERT_EQ(Decode(DecodePng, Flip(file, FindChunk(file, "pHYs") + 9), pic), kOk);
  EXPECT_EQ(pic.XPpm(), 0);
  uint8_t want[3];
  ExpectedBgr(spec, 5, 4, want);
  EXPECT_EQ(0, std::memcmp(pic.At(5, 4), want, 3));
}

}  // namespace
}  // namespace rastrum
