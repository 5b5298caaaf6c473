// File formats of the imaging library: BMP read and write, GIF/TGA/PNM
// through stb, the TGA writer, choosing a codec by content or name, and
// what every row of the codec table promises. Every file is built here
// byte by byte or by the library's own encoders.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/portable/dib_format.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/raster.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;
using Bytes = std::vector<uint8_t>;

struct Bgr {
  uint8_t b = 0, g = 0, r = 0;
  bool operator==(const Bgr&) const = default;
};
void PrintTo(const Bgr& c, std::ostream* os) { *os << "(b" << +c.b << " g" << +c.g << " r" << +c.r << ")"; }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Str(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes LE(uint32_t v, int bytes) {
  Bytes out;
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
  return out;
}
Bytes U16(uint32_t v) { return LE(v, 2); }
Bytes U32(uint32_t v) { return LE(v, 4); }

// Counts allocations, so that a test can prove a file was refused before
// any memory was asked for.
class CountingAllocator final : public BlockAllocator {
 public:
  uint8_t* Allocate(size_t bytes) override {
    ++calls;
    return inner.Allocate(bytes);
  }
  int calls = 0;
  VectorAllocator inner;
};

// A decoded block and where everything lies in it.
struct Decoded {
  int rc = kOk;
  Bytes block;
  dib::DibLayout layout;

  Bgr At(int32_t x, int32_t y) const {
    const uint8_t* p = dib::PixelsOf(block.data(), layout).Row(y) + 3 * x;
    return {p[0], p[1], p[2]};
  }
  unsigned Index(int32_t x, int32_t y) const {
    const uint8_t* row = dib::PixelsOf(block.data(), layout).Row(y);
    const unsigned bits = layout.bitCount, bit = unsigned(x) * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
  }
  Bytes Table() const {
    const uint8_t* t = block.data() + layout.colorTableOffset;
    return Bytes(t, t + layout.colorTableEntries * 4);
  }
  int32_t XPels() const { return dib::LoadI32(block.data() + 24); }
};

template <class Decoder>
Decoded DecodeWith(Decoder decode, const Bytes& file) {
  Decoded d;
  VectorAllocator out;
  d.rc = decode(file, out);
  d.block = out.block;
  if (d.rc == kOk) {
    EXPECT_EQ(dib::Validate(d.block, dib::kAllDepths, d.layout), dib::DibStatus::kOk);
    EXPECT_TRUE(d.layout.bottomUp);
    EXPECT_EQ(d.layout.headerSize, dib::kInfoHeaderSize);
  }
  return d;
}
Decoded Bmp(const Bytes& file) { return DecodeWith(DecodeBmp, file); }

// ---- building BMP files ---------------------------------------------------

constexpr int32_t kXPels = 2835, kYPels = 3780;

// An info header of `size` bytes (40, 52, 56, 108, 124); the masks sit at 40
// inside the longer forms.
Bytes InfoHeader(uint32_t size, int32_t w, int32_t h, uint16_t bits, uint32_t compression = 0,
                 uint32_t colorsUsed = 0, std::array<uint32_t, 3> masks = {}) {
  Bytes b = U32(size) + U32(uint32_t(w)) + U32(uint32_t(h)) + U16(1) + U16(bits) + U32(compression) + U32(0) +
            U32(kXPels) + U32(kYPels) + U32(colorsUsed) + U32(0);
  if (size > 40) b = b + U32(masks[0]) + U32(masks[1]) + U32(masks[2]);
  b.resize(size, 0);
  return b;
}
Bytes CoreHeader(uint16_t w, uint16_t h, uint16_t bits) { return U32(12) + U16(w) + U16(h) + U16(1) + U16(bits); }

// "BM", then the DIB parts; the pixels start right after `beforePixels`
// unless offBits says otherwise.
Bytes BmpFile(const Bytes& beforePixels, const Bytes& pixels, int64_t offBits = -1) {
  const uint32_t off = offBits < 0 ? uint32_t(14 + beforePixels.size()) : uint32_t(offBits);
  return Str("BM") + U32(uint32_t(14 + beforePixels.size() + pixels.size())) + U32(0) + U32(off) + beforePixels +
         pixels;
}

// Rows of palette indices (top row first) packed as a file stores them.
Bytes PackRows(const std::vector<std::vector<unsigned>>& topDown, unsigned bits, bool bottomUp = true) {
  Bytes out;
  for (size_t n = 0; n < topDown.size(); ++n) {
    const auto& row = topDown[bottomUp ? topDown.size() - 1 - n : n];
    Bytes packed((row.size() * bits + 31) / 32 * 4, 0);
    for (size_t x = 0; x < row.size(); ++x) {
      packed[x * bits / 8] |= uint8_t(row[x] << (8 - bits - x * bits % 8));
    }
    out = out + packed;
  }
  return out;
}

// ---- palette files ----------------------------------------------------------

struct PaletteCase {
  const char* name;
  uint16_t bits;
  uint32_t headerSize;   // 12 for a core header
  uint32_t colorsUsed;   // 0: the full table
  bool topDown;
};

class BmpPaletteFiles : public testing::TestWithParam<PaletteCase> {};

TEST_P(BmpPaletteFiles, KeepTheirTableAndIndices) {
  const PaletteCase& c = GetParam();
  const bool core = c.headerSize == 12;
  const unsigned entries = c.colorsUsed ? c.colorsUsed : 1u << c.bits;
  std::vector<std::vector<unsigned>> picture(3, std::vector<unsigned>(5));
  for (size_t y = 0; y < 3; ++y)
    for (size_t x = 0; x < 5; ++x) picture[y][x] = (x + 2 * y) % entries;

  Bytes fileTable, expectedTable;
  for (unsigned i = 0; i < entries; ++i) {
    const Bytes bgr = {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i ^ 0x5A)};
    fileTable = fileTable + bgr;
    expectedTable = expectedTable + bgr + Bytes{0};
    if (!core) fileTable.push_back(0xEE);  // a reserved byte that is not zero
  }
  const Bytes header = core ? CoreHeader(5, 3, c.bits)
                            : InfoHeader(c.headerSize, 5, c.topDown ? -3 : 3, c.bits, 0, c.colorsUsed);
  const Decoded d = Bmp(BmpFile(header + fileTable, PackRows(picture, c.bits, !c.topDown)));

  ASSERT_EQ(d.rc, kOk);
  EXPECT_EQ(d.layout.bitCount, c.bits);
  EXPECT_EQ(d.layout.width, 5);
  EXPECT_EQ(d.layout.height, 3);
  EXPECT_EQ(d.Table(), expectedTable);
  EXPECT_EQ(d.XPels(), core ? 0 : kXPels);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(d.Index(x, y), picture[y][x]) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpPaletteFiles, testing::Values(
    PaletteCase{"OneBit", 1, 40, 0, false},
    PaletteCase{"OneBitCore", 1, 12, 0, false},
    PaletteCase{"FourBitFiveColoursUsed", 4, 40, 5, false},
    PaletteCase{"FourBitV5TopDown", 4, 124, 0, true},
    PaletteCase{"EightBitThreeColoursUsed", 8, 40, 3, false},
    PaletteCase{"EightBitCoreFullTable", 8, 12, 0, false},
    PaletteCase{"EightBitV3Header", 8, 56, 16, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BmpPaletteFiles, TableCutShortByThePixelOffsetKeepsWhatIsThere) {
  // An 8-bit file whose writer stored 2 entries and said nothing in biClrUsed.
  const Bytes file = BmpFile(InfoHeader(40, 4, 1, 8) + Bytes{1, 2, 3, 0, 4, 5, 6, 0}, Bytes{1, 0, 1, 1});
  const Decoded d = Bmp(file);
  ASSERT_EQ(d.rc, kOk);
  EXPECT_EQ(d.Table(), (Bytes{1, 2, 3, 0, 4, 5, 6, 0}));
  EXPECT_EQ(d.Index(0, 0), 1u);
  EXPECT_EQ(d.Index(1, 0), 0u);
}

// ---- 16-, 24- and 32-bit files ---------------------------------------------

struct TrueColourCase {
  const char* name;
  uint32_t headerSize;
  uint16_t bits;
  uint32_t compression;
  std::array<uint32_t, 3> masks;  // red, green, blue
  bool topDown;
  std::array<uint32_t, 4> raw;    // 2 x 2 pixel values, top row first
  std::array<Bgr, 4> expected;
};

class BmpTrueColourFiles : public testing::TestWithParam<TrueColourCase> {};

TEST_P(BmpTrueColourFiles, LoadAsTwentyFourBits) {
  const TrueColourCase& c = GetParam();
  Bytes header = InfoHeader(c.headerSize, 2, c.topDown ? -2 : 2, c.bits, c.compression, 0, c.masks);
  if (c.headerSize == 40 && c.compression == 3) header = header + U32(c.masks[0]) + U32(c.masks[1]) + U32(c.masks[2]);
  Bytes rows;
  for (int n = 0; n < 2; ++n) {
    const int y = c.topDown ? n : 1 - n;
    Bytes row = LE(c.raw[2 * y], c.bits / 8) + LE(c.raw[2 * y + 1], c.bits / 8);
    row.resize((row.size() + 3) / 4 * 4, 0);
    rows = rows + row;
  }
  const Decoded d = Bmp(BmpFile(header, rows));
  ASSERT_EQ(d.rc, kOk);
  EXPECT_TRUE(dib::IsPlain24(d.layout));
  EXPECT_EQ(d.XPels(), kXPels);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d.At(i % 2, i / 2), c.expected[i]) << "pixel " << i;
}

constexpr Bgr kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255}, kBlack{};

// In 5-5-5 and 5-6-5, red 16, green 8, blue 1 widen by repeating their bits:
// 10000 -> 0x84, 01000 -> 0x42, 001000 -> 0x20, 00001 -> 0x08.
INSTANTIATE_TEST_SUITE_P(Depths, BmpTrueColourFiles, testing::Values(
    TrueColourCase{"Rgb555", 40, 16, 0, {}, false, {0x7C00, 0x03E0, 0x001F, 0x4101},
                   {kRed, kGreen, kBlue, Bgr{0x08, 0x42, 0x84}}},
    TrueColourCase{"Bitfields565", 40, 16, 3, {0xF800, 0x07E0, 0x001F}, false, {0xF800, 0x07E0, 0x001F, 0x8101},
                   {kRed, kGreen, kBlue, Bgr{0x08, 0x20, 0x84}}},
    TrueColourCase{"Bitfields565InV3HeaderTopDown", 56, 16, 3, {0xF800, 0x07E0, 0x001F}, true,
                   {0xFFFF, 0x0000, 0x001F, 0x8101}, {kWhite, kBlack, kBlue, Bgr{0x08, 0x20, 0x84}}},
    TrueColourCase{"Rgb24", 40, 24, 0, {}, false, {0xFF0000, 0x00FF00, 0x0000FF, 0x123456},
                   {kRed, kGreen, kBlue, Bgr{0x56, 0x34, 0x12}}},
    TrueColourCase{"Rgb24TopDownV5", 124, 24, 0, {}, true, {0xFF0000, 0x00FF00, 0x0000FF, 0x123456},
                   {kRed, kGreen, kBlue, Bgr{0x56, 0x34, 0x12}}},
    TrueColourCase{"Rgb32DropsFourthByte", 40, 32, 0, {}, false, {0x7FFF0000, 0xFF00FF00, 0x010000FF, 0x80123456},
                   {kRed, kGreen, kBlue, Bgr{0x56, 0x34, 0x12}}},
    TrueColourCase{"Bitfields32V4RedInLowByte", 108, 32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, false,
                   {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00563412}, {kRed, kGreen, kBlue, Bgr{0x56, 0x34, 0x12}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- RLE ---------------------------------------------------------------------

Bytes GreyTable(unsigned entries) {
  Bytes t;
  for (unsigned i = 0; i < entries; ++i) t = t + Bytes{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  return t;
}

struct RleCase {
  const char* name;
  uint16_t bits;
  uint32_t compression;
  int32_t width;
  Bytes stream;
  std::vector<std::vector<unsigned>> topDown;  // expected indices
};

class BmpRleFiles : public testing::TestWithParam<RleCase> {};

TEST_P(BmpRleFiles, DecodeToIndices) {
  const RleCase& c = GetParam();
  const int32_t height = int32_t(c.topDown.size());
  const Bytes table = GreyTable(1u << c.bits);
  const Decoded d = Bmp(BmpFile(InfoHeader(40, c.width, height, c.bits, c.compression) + table, c.stream));
  ASSERT_EQ(d.rc, kOk);
  EXPECT_EQ(d.layout.bitCount, c.bits);
  EXPECT_EQ(d.layout.compression, 0u);
  EXPECT_EQ(d.Table(), table);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < c.width; ++x) EXPECT_EQ(d.Index(x, y), c.topDown[y][x]) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Streams, BmpRleFiles, testing::Values(
    // Bottom line: a run, then three literals padded to an even count. Next:
    // a short run and a delta two right and one up, where a run lands; the
    // top line: four literals and the end of the bitmap before the line ends.
    RleCase{"Rle8RunsLiteralsDelta", 8, 1, 6,
            {3, 1, 0, 3, 2, 3, 4, 0, 0, 0,
             2, 5, 0, 2, 2, 1, 2, 6, 0, 0,
             0, 4, 7, 8, 9, 10, 0, 1},
            {{7, 8, 9, 10, 0, 0}, {0, 0, 0, 0, 6, 6}, {5, 5, 0, 0, 0, 0}, {1, 1, 1, 2, 3, 4}}},
    // A run alternates its two nibbles; five literal nibbles take three
    // bytes and a pad byte.
    RleCase{"Rle4RunsLiteralsDelta", 4, 2, 7,
            {4, 0x12, 0, 3, 0x34, 0x50, 0, 0,
             0, 2, 1, 0, 0, 5, 0xAB, 0xCD, 0xE0, 0, 0, 1},
            {{0, 0xA, 0xB, 0xC, 0xD, 0xE, 0}, {1, 2, 1, 2, 3, 4, 5}}},
    RleCase{"Rle8EndOfLineAfterLastLine", 8, 1, 2, {2, 9, 0, 0, 0, 1}, {{9, 9}}},
    // Runs and literals may cover the padding pixels of the stored row (up
    // to its 4-byte stride), as common writers encode them; those pixels
    // are dropped.
    RleCase{"Rle8RunsCoverThePadding", 8, 1, 5,
            {8, 3, 0, 0, 0, 6, 5, 6, 7, 8, 9, 1, 0, 1}, {{5, 6, 7, 8, 9}, {3, 3, 3, 3, 3}}},
    RleCase{"Rle4RunsCoverThePadding", 4, 2, 3, {8, 0x12, 0, 0, 0, 8, 0x34, 0x56, 0x78, 0x9A, 0, 1},
            {{3, 4, 5}, {1, 2, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- writing ------------------------------------------------------------------

Bytes RandomBlock(uint16_t bits, int32_t width, int32_t height, uint32_t seed) {
  std::mt19937 rng(seed);
  VectorAllocator out;
  NewBlock made;
  Bytes table;
  if (bits <= 8)
    for (unsigned i = 0; i < (1u << bits) * 4; ++i) table.push_back(i % 4 == 3 ? 0 : uint8_t(rng()));
  const int rc = bits == 24 ? MakeBlock24(out, width, height, kXPels, kYPels, made)
                            : MakePaletteBlock(out, width, height, bits, table, kXPels, kYPels, made);
  EXPECT_EQ(rc, kOk);
  const size_t used = (size_t(width) * bits + 7) / 8;
  for (int32_t y = 0; y < height; ++y)
    for (size_t i = 0; i < used; ++i) made.pixels.Row(y)[i] = uint8_t(rng());
  // The bits past the last pixel of a row are not picture.
  const unsigned spare = unsigned(used * 8 - size_t(width) * bits);
  for (int32_t y = 0; y < height && spare; ++y) made.pixels.Row(y)[used - 1] &= uint8_t(0xFF << spare);
  return out.block;
}

class BmpRoundTrip : public testing::TestWithParam<uint16_t> {};

TEST_P(BmpRoundTrip, WritesTheBlockAsItIsAndReadsItBack) {
  const uint16_t bits = GetParam();
  const Bytes block = RandomBlock(bits, 7, 5, bits);
  dib::DibLayout layout;
  ASSERT_EQ(dib::Validate(block, dib::kAllDepths, layout), dib::DibStatus::kOk);

  Bytes file;
  ASSERT_EQ(EncodeBmp(block, file), kOk);
  ASSERT_EQ(file.size(), 14 + block.size());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 2), Str("BM"));
  EXPECT_EQ(dib::LoadU32(file.data() + 2), file.size());
  EXPECT_EQ(dib::LoadU32(file.data() + 10), 14 + layout.pixelOffset);
  EXPECT_EQ(Bytes(file.begin() + 14, file.end()), block);

  const Decoded d = Bmp(file);
  ASSERT_EQ(d.rc, kOk);
  EXPECT_EQ(d.block, block);
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpRoundTrip, testing::Values(1, 4, 8, 24));

TEST(BmpEncode, KeepsBitfieldsBlockAndLeavesSlackBehind) {
  // A 16-bit 5-6-5 block with its masks after the header and 3 bytes of slack.
  const Bytes block = InfoHeader(40, 1, 1, 16, 3) + U32(0xF800) + U32(0x07E0) + U32(0x001F) +
                      Bytes{0xE0, 0x07, 0, 0} + Bytes{9, 9, 9};
  Bytes file;
  ASSERT_EQ(EncodeBmp(block, file), kOk);
  EXPECT_EQ(Bytes(file.begin() + 14, file.end()), Bytes(block.begin(), block.end() - 3));
  EXPECT_EQ(dib::LoadU32(file.data() + 10), 14u + 52u);
  const Decoded d = Bmp(file);
  ASSERT_EQ(d.rc, kOk);
  EXPECT_EQ(d.At(0, 0), kGreen);
}

TEST(BmpEncode, RefusesBlocksTheValidatorRefuses) {
  Bytes file;
  EXPECT_EQ(EncodeBmp({}, file), kBadArgument);
  const Bytes shortRows = InfoHeader(40, 4, 4, 24) + Bytes(47, 0);
  EXPECT_EQ(EncodeBmp(shortRows, file), kCorruptData);
  EXPECT_TRUE(file.empty());
}

// ---- hostile files ----------------------------------------------------------

struct HostileCase {
  const char* name;
  Bytes file;
  int expected;
};

class BmpHostileFiles : public testing::TestWithParam<HostileCase> {};

TEST_P(BmpHostileFiles, FailBeforeAllocating) {
  CountingAllocator out;
  EXPECT_EQ(DecodeBmp(GetParam().file, out), GetParam().expected);
  EXPECT_EQ(out.calls, 0);
}

Bytes Rle8File(int32_t w, int32_t h, const Bytes& stream) {
  return BmpFile(InfoHeader(40, w, h, 8, 1) + GreyTable(16), stream);
}

INSTANTIATE_TEST_SUITE_P(Headers, BmpHostileFiles, testing::Values(
    HostileCase{"HugeClaimTinyFile", BmpFile(InfoHeader(40, 60000, 60000, 24), Bytes(16, 0)), kCorruptData},
    HostileCase{"WideRowOverflowingStride", BmpFile(InfoHeader(40, INT32_MAX, 2, 32), Bytes(16, 0)), kCorruptData},
    HostileCase{"PixelOffsetPastEnd", BmpFile(InfoHeader(40, 1, 1, 24), Bytes(4, 0), 1000), kCorruptData},
    HostileCase{"PixelOffsetInsideHeader", BmpFile(InfoHeader(40, 1, 1, 24), Bytes(4, 0), 20), kCorruptData},
    HostileCase{"NoRoomForTable", BmpFile(InfoHeader(40, 1, 1, 8), Bytes(4, 0)), kCorruptData},
    HostileCase{"HeaderPastEnd", Str("BM") + Bytes(12, 0) + U32(40) + Bytes(10, 0), kCorruptData},
    HostileCase{"UnknownHeaderSize", BmpFile(InfoHeader(64, 1, 1, 24), Bytes(4, 0)), kCorruptData},
    HostileCase{"NegativeWidth", BmpFile(InfoHeader(40, -1, 1, 24), Bytes(4, 0)), kCorruptData},
    HostileCase{"HeightIntMin", BmpFile(InfoHeader(40, 1, INT32_MIN, 24), Bytes(4, 0)), kCorruptData},
    HostileCase{"TwoBitDepth", BmpFile(InfoHeader(40, 1, 1, 2) + GreyTable(4), Bytes(4, 0)), kCorruptData},
    HostileCase{"Rle8AtTwentyFourBits", BmpFile(InfoHeader(40, 1, 1, 24, 1), Bytes{0, 1}), kCorruptData},
    HostileCase{"EmbeddedJpeg", BmpFile(InfoHeader(40, 1, 1, 24, 4), Bytes{0xFF, 0xD8}), kUnknownFormat},
    HostileCase{"NotBm", Str("BA") + Bytes(60, 0), kUnknownFormat},
    HostileCase{"HugeRleClaim", Rle8File(60000, 60000, {0, 1}), kTooLarge}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(RleStreams, BmpHostileFiles, testing::Values(
    HostileCase{"RunPastRowEnd", Rle8File(4, 2, {5, 1, 0, 1}), kCorruptData},
    HostileCase{"LiteralsPastRowEnd", Rle8File(4, 2, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}), kCorruptData},
    HostileCase{"LiteralsCutByFileEnd", Rle8File(8, 2, {0, 6, 1, 2, 3}), kCorruptData},
    HostileCase{"DeltaPastBottom", Rle8File(4, 2, {0, 2, 0, 3, 0, 1}), kCorruptData},
    HostileCase{"DeltaPastRight", Rle8File(4, 2, {0, 2, 5, 0, 0, 1}), kCorruptData},
    HostileCase{"RunBelowLastLine", Rle8File(4, 1, {0, 0, 1, 1, 0, 1}), kCorruptData},
    HostileCase{"EndOfLinesPastBottom", Rle8File(4, 1, {0, 0, 0, 0, 0, 1}), kCorruptData},
    HostileCase{"NoEndOfBitmap", Rle8File(4, 2, {4, 1, 0, 0, 4, 2}), kCorruptData},
    HostileCase{"Rle4RunPastRowEnd", BmpFile(InfoHeader(40, 3, 1, 4, 2) + GreyTable(16), Bytes{9, 0x11, 0, 1}),
                kCorruptData},
    HostileCase{"StreamTooShortForItsBlock", Rle8File(4000, 4000, {0, 1}), kCorruptData}),
    [](const auto& info) { return std::string(info.param.name); });

// RLE8 files that ImageMagick writes (it encodes every row up to its
// stride) at widths 1 to 33 give the pixels of its uncompressed copies.
TEST(BmpRleFiles, ImageMagickFilesOfEveryWidth) {
  const std::string dir = testing::TempDir() + "qb_rle_widths";
  std::string command = "mkdir -p " + dir + " && convert-im6.q16 '(' -size 33x2 gradient:red-blue ')' "
                        "'(' -size 33x2 xc:gray -seed 3 +noise Random ')' -append -colors 20 -type Palette "
                        "-write mpr:src +delete";
  for (int w = 1; w <= 33; ++w) command += " '(' mpr:src -crop " + std::to_string(w) + "x4+0+0 +repage ')'";
  command += " -compress RLE -write BMP3:" + dir + "/rle_%02d.bmp -compress None BMP3:" + dir + "/raw_%02d.bmp";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  auto read = [&](const char* kind, int index) {
    std::string path = dir;
    path.append("/").append(kind).append(index < 10 ? "_0" : "_").append(std::to_string(index)).append(".bmp");
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  };
  auto pixels24 = [](const Decoded& d) {
    Bytes out(*dib::Converted24Size(d.layout));
    EXPECT_TRUE(dib::ConvertTo24(d.block, d.layout, out));
    return out;
  };
  for (int w = 1; w <= 33; ++w) {
    const Bytes rle = read("rle", w - 1);
    ASSERT_GT(rle.size(), 34u);
    ASSERT_EQ(dib::LoadU32(rle.data() + 30), 1u) << "width " << w << " is not RLE8";
    const Decoded fromRle = Bmp(rle), fromRaw = Bmp(read("raw", w - 1));
    ASSERT_EQ(fromRle.rc, kOk) << "width " << w;
    ASSERT_EQ(fromRaw.rc, kOk) << "width " << w;
    EXPECT_EQ(fromRle.layout.width, w);
    EXPECT_EQ(pixels24(fromRle), pixels24(fromRaw)) << "width " << w;
  }
}

TEST(BmpHostileFiles, EveryTruncationFails) {
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"8-bit", BmpFile(InfoHeader(40, 3, 2, 8, 0, 4) + GreyTable(4), Bytes(8, 1))},
      {"core 4-bit", BmpFile(CoreHeader(3, 2, 4) + Bytes(48, 7), Bytes(8, 1))},
      {"16-bit bitfields", BmpFile(InfoHeader(40, 2, 2, 16, 3) + U32(0xF800) + U32(0x07E0) + U32(0x1F), Bytes(8, 1))},
      {"V5 32-bit", BmpFile(InfoHeader(124, 2, 2, 32), Bytes(16, 1))},
      {"RLE8", Rle8File(4, 2, {2, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1})},
  };
  for (const auto& [name, file] : files) {
    ASSERT_EQ(Bmp(file).rc, kOk) << name;
    for (size_t n = 0; n < file.size(); ++n) {
      CountingAllocator out;
      const int rc = DecodeBmp(std::span(file).first(n), out);
      EXPECT_EQ(rc, n < 2 ? kUnknownFormat : kCorruptData) << name << " cut to " << n;
      EXPECT_EQ(out.calls, 0) << name << " cut to " << n;
    }
  }
}

// ---- PNM ------------------------------------------------------------------------

Decoded Pnm(const Bytes& file) { return DecodeWith(DecodePnm, file); }

TEST(PnmDecode, ColourFileWithComment) {
  const Decoded d = Pnm(Str("P6\n# made by hand\n2 2\n255\n") +
                        Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 0x12, 0x34, 0x56});
  ASSERT_EQ(d.rc, kOk);
  EXPECT_TRUE(dib::IsPlain24(d.layout));
  EXPECT_EQ(d.At(0, 0), kRed);
  EXPECT_EQ(d.At(1, 0), kGreen);
  EXPECT_EQ(d.At(0, 1), kBlue);
  EXPECT_EQ(d.At(1, 1), (Bgr{0x56, 0x34, 0x12}));
}

struct PnmGreyCase {
  const char* name;
  Bytes file;
  std::vector<uint8_t> expected;  // one row
};

class PnmGreyFiles : public testing::TestWithParam<PnmGreyCase> {};

TEST_P(PnmGreyFiles, ScaleSamplesByTheirMaximum) {
  const PnmGreyCase& c = GetParam();
  const Decoded d = Pnm(c.file);
  ASSERT_EQ(d.rc, kOk);
  ASSERT_EQ(d.layout.width, int32_t(c.expected.size()));
  for (size_t x = 0; x < c.expected.size(); ++x) {
    const uint8_t v = c.expected[x];
    EXPECT_EQ(d.At(int32_t(x), 0), (Bgr{v, v, v})) << x;
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, PnmGreyFiles, testing::Values(
    PnmGreyCase{"EightBit", Str("P5 3 1 255\n") + Bytes{0, 128, 255}, {0, 128, 255}},
    PnmGreyCase{"MaximumFifteen", Str("P5\t3\r\n1\n15 ") + Bytes{0, 5, 15}, {0, 85, 255}},
    PnmGreyCase{"SixteenBitMostSignificantFirst", Str("P5\n4 1\n65535\n") + Bytes{0, 0, 0x80, 0, 0xFF, 0xFF, 0, 0xFF},
                {0, 128, 255, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PnmDecode, RefusesWhatItCannotRead) {
  const std::vector<std::tuple<const char*, Bytes, int>> cases = {
      {"huge claim, tiny file", Str("P6 60000 60000 255\n") + Bytes(12, 0), kCorruptData},
      {"rows cut short", Str("P6 2 2 255\n") + Bytes(11, 0), kCorruptData},
      {"sixteen-bit rows cut short", Str("P5 2 1 1000\n") + Bytes(3, 0), kCorruptData},
      {"side past the limit", Str("P5 20000000 1 255\n") + Bytes(16, 0), kTooLarge},
      {"number past 32 bits", Str("P5 99999999999 1 255\n") + Bytes(16, 0), kCorruptData},
      {"zero maximum", Str("P5 1 1 0\n") + Bytes(1, 0), kCorruptData},
      {"no space after magic", Str("P51 1 255\n") + Bytes(1, 0), kCorruptData},
      {"nothing after maximum", Str("P5 1 1 255"), kCorruptData},
      {"ASCII form", Str("P3 1 1 255\n0 0 0\n"), kUnknownFormat},
  };
  for (const auto& [name, file, expected] : cases) {
    CountingAllocator out;
    EXPECT_EQ(DecodePnm(file, out), expected) << name;
    EXPECT_EQ(out.calls, 0) << name;
  }
}

// ---- TGA --------------------------------------------------------------------------

Decoded Tga(const Bytes& file) { return DecodeWith(DecodeTga, file); }

Bytes TgaHeader(uint8_t mapType, uint8_t imageType, uint16_t mapLength, uint8_t mapBits, uint16_t w, uint16_t h,
                uint8_t bits, uint8_t descriptor) {
  return Bytes{0, mapType, imageType} + U16(0) + U16(mapLength) + Bytes{mapBits} + U16(0) + U16(0) + U16(w) +
         U16(h) + Bytes{bits, descriptor};
}

TEST(TgaEncode, WritesUncompressedBottomUpAndReadsBack) {
  const Bytes block = RandomBlock(24, 5, 3, 7);
  Bytes file;
  ASSERT_EQ(EncodeTga(block, file), kOk);
  ASSERT_EQ(file.size(), 18u + 5 * 3 * 3);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), TgaHeader(0, 2, 0, 0, 5, 3, 24, 0));
  // The first pixel stored is the bottom-left one, as B, G, R.
  dib::DibLayout layout;
  ASSERT_EQ(dib::Validate(block, dib::kAllDepths, layout), dib::DibStatus::kOk);
  const uint8_t* bottomLeft = dib::PixelsOf(block.data(), layout).Row(2);
  EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 21), Bytes(bottomLeft, bottomLeft + 3));

  const Decoded d = Tga(file);
  ASSERT_EQ(d.rc, kOk);
  // Resolution is not carried; everything else comes back exactly.
  Bytes expected = block;
  dib::StoreI32(expected.data() + 24, 0);
  dib::StoreI32(expected.data() + 28, 0);
  EXPECT_EQ(d.block, expected);
}

TEST(TgaEncode, ConvertsPaletteBlocksAndRefusesBadOnes) {
  const Bytes block = InfoHeader(40, 2, 1, 1) + Bytes{0, 0, 255, 0, 255, 0, 0, 0} + Bytes{0x40, 0, 0, 0};
  Bytes file;
  ASSERT_EQ(EncodeTga(block, file), kOk);
  const Decoded d = Tga(file);
  ASSERT_EQ(d.rc, kOk);
  EXPECT_EQ(d.At(0, 0), kRed);
  EXPECT_EQ(d.At(1, 0), kBlue);

  Bytes none;
  EXPECT_EQ(EncodeTga({}, none), kBadArgument);
  EXPECT_EQ(EncodeTga(InfoHeader(40, 2, 2, 24), none), kCorruptData);
  EXPECT_TRUE(none.empty());
}

struct TgaCase {
  const char* name;
  Bytes file;
  std::vector<Bgr> topDown;  // 3 x 2
};

class TgaFiles : public testing::TestWithParam<TgaCase> {};

TEST_P(TgaFiles, DecodeByHand) {
  const Decoded d = Tga(GetParam().file);
  ASSERT_EQ(d.rc, kOk);
  ASSERT_EQ(d.layout.width, 3);
  ASSERT_EQ(d.layout.height, 2);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d.At(i % 3, i / 3), GetParam().topDown[size_t(i)]) << i;
}

const Bgr kGrey{0x40, 0x40, 0x40};

INSTANTIATE_TEST_SUITE_P(Forms, TgaFiles, testing::Values(
    // Top row first (descriptor bit 5): a run of two red pixels, one literal
    // blue, then one literal packet of three that is the whole second row.
    TgaCase{"RunLengthTopLeftOrigin",
            TgaHeader(0, 10, 0, 0, 3, 2, 24, 0x20) + Bytes{0x81, 0, 0, 255, 0x00, 255, 0, 0} +
                Bytes{0x02, 0, 255, 0, 255, 255, 255, 0, 0, 0},
            {kRed, kRed, kBlue, kGreen, kWhite, kBlack}},
    // A run crossing from the bottom row into the top one.
    TgaCase{"RunLengthAcrossRows",
            TgaHeader(0, 10, 0, 0, 3, 2, 24, 0) + Bytes{0x83, 255, 0, 0, 0x01, 0, 255, 0, 0, 0, 255},
            {kBlue, kGreen, kRed, kBlue, kBlue, kBlue}},
    TgaCase{"ColourMapped",
            TgaHeader(1, 1, 2, 24, 3, 2, 8, 0) + Bytes{0, 0, 255, 0, 255, 0} + Bytes{0, 1, 0, 1, 1, 1},
            {kGreen, kGreen, kGreen, kRed, kGreen, kRed}},
    TgaCase{"GreyRunLength", TgaHeader(0, 11, 0, 0, 3, 2, 8, 0x20) + Bytes{0x85, 0x40},
            {kGrey, kGrey, kGrey, kGrey, kGrey, kGrey}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TgaFiles, EveryTruncationFails) {
  const std::vector<Bytes> files = {
      TgaHeader(0, 2, 0, 0, 2, 2, 24, 0) + Bytes(12, 9),
      TgaHeader(0, 10, 0, 0, 3, 2, 24, 0) + Bytes{0x83, 255, 0, 0, 0x01, 0, 255, 0, 0, 0, 255},
      TgaHeader(1, 1, 2, 24, 3, 2, 8, 0) + Bytes{0, 0, 255, 0, 255, 0} + Bytes{0, 1, 0, 1, 1, 1},
  };
  for (const Bytes& file : files) {
    ASSERT_EQ(Tga(file).rc, kOk);
    for (size_t n = 0; n < file.size(); ++n) {
      CountingAllocator out;
      EXPECT_EQ(DecodeTga(std::span(file).first(n), out), kCorruptData) << "cut to " << n;
      EXPECT_EQ(out.calls, 0);
    }
  }
}

TEST(TgaFiles, RefusesHeadersStbCannotRead) {
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"colour map type 2", TgaHeader(2, 2, 0, 0, 1, 1, 24, 0) + Bytes(3, 0)},
      {"mapped image without a map", TgaHeader(0, 1, 0, 0, 1, 1, 8, 0) + Bytes(1, 0)},
      {"mapped image with an empty map", TgaHeader(1, 1, 0, 24, 1, 1, 8, 0) + Bytes(1, 0)},
      {"zero width", TgaHeader(0, 2, 0, 0, 0, 1, 24, 0)},
  };
  for (const auto& [name, file] : cases) {
    CountingAllocator out;
    EXPECT_EQ(DecodeTga(file, out), kCorruptData) << name;
    EXPECT_EQ(out.calls, 0) << name;
  }
}

// ---- GIF ----------------------------------------------------------------------------

// A 2 x 2 GIF87a: a four-colour global table (red, green, blue, white) and
// one image whose LZW codes (2-bit minimum) are clear 4, then 0, 1, 2 in 3
// bits and, once the table reaches 8 entries, 3 and end 5 in 4 bits,
// packed from the low bit up: 0x44 0x34 0x05.
Bytes TinyGif() {
  return Str("GIF87a") + U16(2) + U16(2) + Bytes{0x81, 0, 0} + Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255} +
         Bytes{0x2C} + U16(0) + U16(0) + U16(2) + U16(2) + Bytes{0} + Bytes{2, 3, 0x44, 0x34, 0x05, 0} + Bytes{0x3B};
}

TEST(GifDecode, FirstFrameOfTinyFile) {
  const Decoded d = DecodeWith(DecodeGif, TinyGif());
  ASSERT_EQ(d.rc, kOk);
  EXPECT_TRUE(dib::IsPlain24(d.layout));
  EXPECT_EQ(d.At(0, 0), kRed);
  EXPECT_EQ(d.At(1, 0), kGreen);
  EXPECT_EQ(d.At(0, 1), kBlue);
  EXPECT_EQ(d.At(1, 1), kWhite);
}

TEST(GifDecode, RefusesBrokenFiles) {
  const Bytes gif = TinyGif();
  Bytes zeroWidth = gif;
  zeroWidth[6] = 0;
  Bytes badCode = gif;
  badCode[37] = 0x47;  // the first code is 7, a code not yet defined
  Bytes hugeScreen = gif;  // 20000 x 20000: stb's working copies alone pass 2 GB
  hugeScreen[6] = hugeScreen[8] = 0x20;
  hugeScreen[7] = hugeScreen[9] = 0x4E;
  // 19778 x 11774: the block would fit, stb's 12 bytes a pixel would not.
  Bytes wideScreen = gif;
  wideScreen[6] = 0x42, wideScreen[7] = 0x4D, wideScreen[8] = 0xFE, wideScreen[9] = 0x2D;
  // 2000 x 2000 behind five bytes of LZW data, which cover 20480 pixels.
  Bytes thinData = gif;
  thinData[7] = thinData[9] = 0x07, thinData[6] = thinData[8] = 0xD0;
  const std::vector<std::tuple<const char*, Bytes, int>> cases = {
      {"not GIF", Str("GIF88a") + Bytes(20, 0), kUnknownFormat},
      {"screen descriptor cut", Bytes(gif.begin(), gif.begin() + 10), kCorruptData},
      {"zero width", zeroWidth, kCorruptData},
      {"undefined LZW code", badCode, kCorruptData},
      {"no image", Bytes(gif.begin(), gif.begin() + 25), kCorruptData},
      {"screen too large", hugeScreen, kTooLarge},
      {"screen past the decoder's peak", wideScreen, kTooLarge},
      {"screen the data cannot cover", thinData, kCorruptData},
  };
  for (const auto& [name, file, expected] : cases) {
    CountingAllocator out;
    EXPECT_EQ(DecodeGif(file, out), expected) << name;
    EXPECT_EQ(out.calls, 0) << name;
  }
}

// ---- choosing a codec -----------------------------------------------------------------

struct DetectCase {
  const char* name;
  Bytes file;
  FileFormat expected;
};

class FormatDetection : public testing::TestWithParam<DetectCase> {};

TEST_P(FormatDetection, ByContent) { EXPECT_EQ(DetectFormat(GetParam().file), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Signatures, FormatDetection, testing::Values(
    DetectCase{"Jpeg", Bytes{0xFF, 0xD8, 0xFF, 0xE0}, FileFormat::kJpeg},
    DetectCase{"Png", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0}, FileFormat::kPng},
    DetectCase{"PngWithUnixLineEnd", Bytes{0x89, 'P', 'N', 'G', '\n', '\n', 0x1A, '\n'}, FileFormat::kUnknown},
    DetectCase{"Bmp", Str("BM"), FileFormat::kBmp},
    DetectCase{"Gif87a", TinyGif(), FileFormat::kGif},
    DetectCase{"Gif89a", Str("GIF89a"), FileFormat::kGif},
    DetectCase{"Gif88a", Str("GIF88a"), FileFormat::kUnknown},
    DetectCase{"PnmP1", Str("P1 "), FileFormat::kPnm},
    DetectCase{"PnmP6Newline", Str("P6\n"), FileFormat::kPnm},
    DetectCase{"PnmWithoutSpace", Str("P6x"), FileFormat::kUnknown},
    DetectCase{"TgaTrueColour", TgaHeader(0, 2, 0, 0, 2, 2, 24, 0), FileFormat::kTga},
    DetectCase{"TgaMappedRunLength", TgaHeader(1, 9, 2, 24, 2, 2, 8, 0) + Bytes(6, 0), FileFormat::kTga},
    DetectCase{"TgaGrey", TgaHeader(0, 3, 0, 0, 2, 2, 8, 0x20), FileFormat::kTga},
    DetectCase{"TgaMapPastEnd", TgaHeader(1, 1, 256, 24, 2, 2, 8, 0), FileFormat::kUnknown},
    DetectCase{"TgaMappedWithoutMap", TgaHeader(0, 1, 0, 0, 2, 2, 8, 0), FileFormat::kUnknown},
    DetectCase{"TgaColourMapType2", TgaHeader(2, 2, 0, 0, 2, 2, 24, 0), FileFormat::kUnknown},
    DetectCase{"TgaTrueColourAt8Bits", TgaHeader(0, 2, 0, 0, 2, 2, 8, 0), FileFormat::kUnknown},
    DetectCase{"TgaInterleaved", TgaHeader(0, 2, 0, 0, 2, 2, 24, 0x40), FileFormat::kUnknown},
    DetectCase{"ZeroBytes", Bytes(18, 0), FileFormat::kUnknown},
    DetectCase{"Text", Str("plain words, not a picture at all"), FileFormat::kUnknown},
    DetectCase{"Empty", Bytes{}, FileFormat::kUnknown}),
    [](const auto& info) { return std::string(info.param.name); });

struct SaveNameCase {
  const char* path;
  FileFormat expected;
};

class FormatForSavingNames : public testing::TestWithParam<SaveNameCase> {};

TEST_P(FormatForSavingNames, ByLastExtension) {
  EXPECT_EQ(FormatForSaving(GetParam().path), GetParam().expected) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Names, FormatForSavingNames, testing::Values(
    SaveNameCase{".JPG", FileFormat::kJpeg},
    SaveNameCase{"x.jfif", FileFormat::kJpeg},
    SaveNameCase{"C:\\Pics\\Holiday.JPEG", FileFormat::kJpeg},
    SaveNameCase{"img.Png", FileFormat::kPng},
    SaveNameCase{"/tmp/b.bmp", FileFormat::kBmp},
    SaveNameCase{"photo.tga", FileFormat::kTga},
    SaveNameCase{"a.b/c", FileFormat::kUnknown},
    SaveNameCase{"noext", FileFormat::kUnknown},
    SaveNameCase{"dir.png\\file", FileFormat::kUnknown},
    SaveNameCase{"a.png.txt", FileFormat::kUnknown},
    SaveNameCase{"x.gif", FileFormat::kUnknown},
    SaveNameCase{"trailing.", FileFormat::kUnknown},
    SaveNameCase{"", FileFormat::kUnknown}));

TEST(FormatDispatch, DecodeImageChoosesByContent) {
  VectorAllocator out;
  EXPECT_EQ(DecodeImage({}, out), kCorruptData);
  EXPECT_EQ(DecodeImage(Str("plain words, not a picture at all"), out), kUnknownFormat);

  const std::vector<std::pair<const char*, Bytes>> files = {
      {"bmp", BmpFile(InfoHeader(40, 1, 1, 24), Bytes{0, 0, 255, 0})},
      {"gif", TinyGif()},
      {"tga", TgaHeader(0, 10, 0, 0, 3, 2, 24, 0) + Bytes{0x85, 0, 0, 255}},
      {"pnm", Str("P6 1 1 255\n") + Bytes{255, 0, 0}},
  };
  for (const auto& [name, file] : files) {
    const Decoded d = DecodeWith(DecodeImage, file);
    ASSERT_EQ(d.rc, kOk) << name;
    EXPECT_EQ(d.At(0, 0), kRed) << name;
  }
}

// ---- every row of the codec table ------------------------------------------------------

// A smooth picture with a sharp edge and an odd width (rows padded), which
// lossy encoders keep close.
Bytes SmoothBlock(int32_t width, int32_t height) {
  VectorAllocator out;
  NewBlock made;
  EXPECT_EQ(MakeBlock24(out, width, height, kXPels, kYPels, made), kOk);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = made.pixels.Row(y) + 3 * x;
      p[0] = uint8_t(40 + 4 * x), p[1] = uint8_t(30 + 6 * y), p[2] = x < width / 2 ? 220 : 60;
    }
  return out.block;
}

// The largest difference of a channel between two blocks of one size.
int MaxDifference(const Bytes& a, const Bytes& b) {
  Source24 first, second;
  EXPECT_EQ(first.Open(a), kOk);
  EXPECT_EQ(second.Open(b), kOk);
  EXPECT_EQ(first.width(), second.width());
  EXPECT_EQ(first.height(), second.height());
  int most = 0;
  for (int32_t y = 0; y < first.height(); ++y)
    for (int32_t i = 0; i < first.width() * 3; ++i)
      most = std::max(most, std::abs(first.pixels().Row(y)[i] - second.pixels().Row(y)[i]));
  return most;
}

// A small valid file of every row, its encoder's or one written here for a
// format the library only reads (a row added without either fails here),
// and how much of it the decoder must have.
struct Sample {
  Bytes file;
  size_t needed = 0;
};
Sample SampleFile(const Codec& codec) {
  Bytes file;
  if (codec.encode) {
    EXPECT_EQ(codec.encode(SmoothBlock(9, 5), 90, file), kOk) << codec.name;
    return {file, file.size()};
  }
  switch (codec.format) {
    // stb reads an image whose last LZW sub-block is cut short as complete.
    case FileFormat::kGif: return {TinyGif(), 38};
    case FileFormat::kPnm: return {Str("P6 2 1 255\n") + Bytes{255, 0, 0, 0, 255, 0}, 17};
    // heif-enc's files (tests/unit/heif): every cut loses data that counts.
    case FileFormat::kHeic:
    case FileFormat::kAvif: {
      const std::string here = __FILE__;
      std::ifstream in(here.substr(0, here.find_last_of('/')) +
                           (codec.format == FileFormat::kHeic ? "/heif/8bit.heic" : "/heif/8bit.avif"),
                       std::ios::binary);
      file.assign(std::istreambuf_iterator<char>(in), {});
      return {file, file.size()};
    }
    default: ADD_FAILURE() << "no sample file of " << codec.name; return {};
  }
}

TEST(CodecTable, EveryEncoderRoundTripsThroughDetectionAndDecoding) {
  const Bytes block = SmoothBlock(37, 23);
  for (const Codec& codec : Codecs()) {
    if (!codec.encode) continue;
    for (int quality : {1, 90, 100}) {
      SCOPED_TRACE(std::string(codec.name) + " at quality " + std::to_string(quality));
      Bytes file;
      ASSERT_EQ(EncodeImage(block, codec.format, quality, file), kOk);
      EXPECT_EQ(DetectFormat(file), codec.format);
      const Decoded d = DecodeWith(DecodeImage, file);
      ASSERT_EQ(d.rc, kOk);
      EXPECT_EQ(d.layout.width, 37);
      EXPECT_EQ(d.layout.height, 23);
      if (quality >= codec.losslessFrom) {
        EXPECT_EQ(MaxDifference(block, d.block), 0);
      } else if (quality >= 90) {
        EXPECT_LE(MaxDifference(block, d.block), 40);
      }
    }
  }
}

TEST(CodecTable, EveryDecoderRefusesItsFileCutShortOrCorrupted) {
  for (const Codec& codec : Codecs()) {
    SCOPED_TRACE(codec.name);
    const auto [file, needed] = SampleFile(codec);
    ASSERT_EQ(DecodeWith(DecodeImage, file).rc, kOk);
    EXPECT_EQ(DetectFormat(file), codec.format);
    for (size_t n = 1; n < needed; ++n) {
      VectorAllocator out;
      const int rc = codec.decode(std::span(file).first(n), out);
      EXPECT_LT(rc, kOk) << "cut to " << n;
    }
    // Bytes overwritten anywhere: a failure value, or a picture the
    // validator accepts.
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
      Bytes damaged = file;
      for (int i = 0; i < 4; ++i) damaged[rng() % damaged.size()] = uint8_t(rng());
      VectorAllocator out;
      const int rc = codec.decode(damaged, out);
      dib::DibLayout layout;
      if (rc == kOk) EXPECT_EQ(dib::Validate(out.block, dib::kAllDepths, layout), dib::DibStatus::kOk);
      else EXPECT_TRUE(rc < kOk && rc >= kDecoderMissing) << rc;
    }
  }
}

TEST(CodecTable, SavingNamesReachOnlyRowsWithAnEncoder) {
  for (const Codec& codec : Codecs()) {
    EXPECT_EQ(CodecOf(codec.format), &codec);
    EXPECT_EQ(codec.encode != nullptr, !codec.extensions.empty()) << codec.name;
    for (std::string_view ext : codec.extensions)
      EXPECT_EQ(FormatForSaving("C:\\Pictures\\a.b." + std::string(ext)), codec.format) << ext;
  }
  EXPECT_EQ(CodecOf(FileFormat::kUnknown), nullptr);
}

TEST(FormatDispatch, EncodeImageRefusals) {
  const Bytes block = RandomBlock(24, 2, 2, 3);
  Bytes used = {1};
  EXPECT_EQ(EncodeImage(block, FileFormat::kBmp, 90, used), kBadArgument);
  for (int quality : {0, 101}) {
    Bytes file;
    EXPECT_EQ(EncodeImage(block, FileFormat::kJpeg, quality, file), kBadArgument);
  }
  Bytes unknown;
  EXPECT_EQ(EncodeImage(block, FileFormat::kUnknown, 90, unknown), kUnknownFormat);
  for (const Codec& codec : Codecs()) {
    Bytes file;
    if (!codec.encode) {
      EXPECT_EQ(EncodeImage(block, codec.format, 90, file), kUnknownFormat) << codec.name;
      continue;
    }
    EXPECT_EQ(EncodeImage({}, codec.format, 90, file), kBadArgument) << codec.name;
    EXPECT_EQ(EncodeImage(Bytes(block.begin(), block.end() - 1), codec.format, 90, file), kCorruptData) << codec.name;
    EXPECT_TRUE(file.empty());
  }
}

}  // namespace
}  // namespace rastrum
