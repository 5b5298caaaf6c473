#include "base/portable/dib_format.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

namespace qb::dib {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Zeros(std::size_t n) { return Bytes(n, 0); }
Bytes Cut(Bytes b, std::size_t n) {
  b.resize(n);
  return b;
}
Bytes U16s(std::initializer_list<std::uint16_t> values) {
  Bytes out;
  for (auto v : values) out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
  return out;
}
Bytes U32s(std::initializer_list<std::uint32_t> values) {
  Bytes out;
  for (auto v : values) {
    out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)});
  }
  return out;
}
Bytes Info(std::int32_t w, std::int32_t h, std::uint16_t bits, std::uint32_t compression = kBiRgb,
           std::uint32_t colorsUsed = 0, std::uint32_t headerSize = kInfoHeaderSize) {
  Bytes b = U32s({headerSize, std::uint32_t(w), std::uint32_t(h)}) + U16s({1, bits}) +
            U32s({compression, 0, 2835, 2834, colorsUsed, 0});
  b.resize(headerSize);
  return b;
}
Bytes Core(std::uint16_t w, std::uint16_t h, std::uint16_t bits) {
  return U32s({kCoreHeaderSize}) + U16s({w, h, 1, bits});
}

TEST(DibStride, ThreeByTwoTwentyFourBitBlock) {
  const Bytes block = Info(3, 2, 24) + Zeros(24);
  ASSERT_EQ(block.size(), 64u);
  DibLayout layout;
  ASSERT_EQ(Validate(block, kDepth24, layout), DibStatus::kOk);
  EXPECT_EQ(layout.stride, 12u);
  EXPECT_EQ(layout.imageBytes, 24u);
  EXPECT_EQ(PackedDibSize(3, 2, 24), 64u);
  EXPECT_TRUE(IsPlain24(layout));
  // The first row in memory is the bottom row of the picture.
  EXPECT_EQ(PixelsOf(block.data(), layout).Row(1), block.data() + 40);
  EXPECT_EQ(PixelsOf(block.data(), layout).Row(0), block.data() + 52);
}

struct StrideCase { std::uint32_t bits; std::int32_t width; std::optional<std::uint32_t> stride; };
class DibStrideTable : public testing::TestWithParam<StrideCase> {};
TEST_P(DibStrideTable, RoundsToWholeDwords) {
  EXPECT_EQ(RowStride(GetParam().bits, GetParam().width), GetParam().stride);
}
INSTANTIATE_TEST_SUITE_P(Depths, DibStrideTable, testing::Values(
    StrideCase{1, 1, 4}, StrideCase{1, 32, 4}, StrideCase{1, 33, 8}, StrideCase{4, 8, 4},
    StrideCase{4, 9, 8}, StrideCase{8, 3, 4}, StrideCase{8, 5, 8}, StrideCase{16, 3, 8},
    StrideCase{24, 1, 4}, StrideCase{24, 4, 12}, StrideCase{24, 5, 16}, StrideCase{32, 3, 12},
    StrideCase{24, 0, 0}, StrideCase{24, -1, std::nullopt},
    // bits * width + 31 must stay within INT32_MAX.
    StrideCase{32, 0x03FFFFFF, 0x0FFFFFFCu}, StrideCase{32, 0x04000000, std::nullopt},
    StrideCase{24, 0x7FFFFFFF, std::nullopt}, StrideCase{1, 0x7FFFFFFF, std::nullopt}));

TEST(DibSize, StopsAtWhatA32BitProcessAddresses) {
  EXPECT_EQ(PackedDibSize(3, -2, 24), 64u);
  EXPECT_EQ(PackedDibSize(4, 536870901, 8, 43), 0x7FFFFFFFu);
  EXPECT_EQ(PackedDibSize(4, 536870901, 8, 44), std::nullopt);
  EXPECT_EQ(PackedDibSize(23170, 23170, 32), 40u + 92680u * 23170u);
  EXPECT_EQ(PackedDibSize(23171, 23171, 32), std::nullopt);
  EXPECT_EQ(PackedDibSize(0, 1, 24), std::nullopt);
  EXPECT_EQ(PackedDibSize(1, 0, 24), std::nullopt);
  EXPECT_EQ(PackedDibSize(1, INT_MIN, 24), std::nullopt);
}

struct RejectCase { const char* name; Bytes block; DibStatus expected; DepthSet handled = kAllDepths; };
class DibValidateRejects : public testing::TestWithParam<RejectCase> {};
TEST_P(DibValidateRejects, LeavesLayoutUntouched) {
  DibLayout layout;
  layout.width = 1234;
  EXPECT_EQ(Validate(GetParam().block, GetParam().handled, layout), GetParam().expected)
      << DibStatusName(Validate(GetParam().block, GetParam().handled, layout));
  EXPECT_EQ(layout.width, 1234);
}
INSTANTIATE_TEST_SUITE_P(Headers, DibValidateRejects, testing::Values(
    RejectCase{"RowsOneByteShort", Info(3, 2, 24) + Zeros(23), DibStatus::kRowsPastBlock},
    RejectCase{"MoreRowsThanBlock", Info(3, 3, 24) + Zeros(24), DibStatus::kRowsPastBlock},
    RejectCase{"TopDownRowsPastBlock", Info(1, INT_MIN + 1, 32) + Zeros(4), DibStatus::kRowsPastBlock},
    RejectCase{"CoreRowsPastBlock", Core(2, 2, 24) + Zeros(15), DibStatus::kRowsPastBlock},
    RejectCase{"StrideOverflows", Info(0x7FFFFFFF, 1, 24) + Zeros(16), DibStatus::kStrideOverflow},
    RejectCase{"HeightIntMin", Info(1, INT_MIN, 24) + Zeros(4), DibStatus::kBadHeight},
    RejectCase{"HeightZero", Info(1, 0, 24), DibStatus::kBadHeight},
    RejectCase{"WidthZero", Info(0, 1, 24), DibStatus::kBadWidth},
    RejectCase{"WidthNegative", Info(-1, 1, 24) + Zeros(4), DibStatus::kBadWidth},
    RejectCase{"CoreWidthZero", Core(0, 1, 24), DibStatus::kBadWidth},
    RejectCase{"Rle8", Info(1, 1, 8, 1) + Zeros(1028), DibStatus::kCompressionNotHandled},
    RejectCase{"BitfieldsAt24", Info(1, 1, 24, kBiBitfields) + Zeros(16), DibStatus::kCompressionNotHandled},
    RejectCase{"DepthNotInSet", Info(1, 1, 24) + Zeros(4), DibStatus::kDepthNotHandled, kPaletteDepths},
    RejectCase{"DepthTwo", Info(1, 1, 2) + Zeros(20), DibStatus::kDepthNotHandled},
    RejectCase{"Core16Bit", Core(1, 1, 16) + Zeros(4), DibStatus::kDepthNotHandled},
    RejectCase{"HeaderCut", Cut(Info(1, 1, 24), 39), DibStatus::kTooSmallForHeader},
    RejectCase{"V5HeaderCut", Cut(Info(1, 1, 24, 0, 0, kV5HeaderSize), 123), DibStatus::kTooSmallForHeader},
    RejectCase{"HeaderWithoutRows", Info(1, 1, 24), DibStatus::kRowsPastBlock},
    RejectCase{"NoSizeField", Zeros(3), DibStatus::kTooSmallForHeader},
    RejectCase{"HeaderSizeUnknown", Info(1, 1, 24, 0, 0, 64) + Zeros(4), DibStatus::kBadHeaderSize},
    RejectCase{"TablePastBlock", Info(1, 1, 8) + Zeros(1023), DibStatus::kTablePastBlock},
    RejectCase{"MasksPastBlock", Info(1, 1, 16, kBiBitfields) + Zeros(11), DibStatus::kTablePastBlock},
    RejectCase{"HugeOptionalTable", Info(1, 1, 24, 0, 0xFFFFFFFF) + Zeros(4), DibStatus::kTablePastBlock}),
    [](const auto& info) { return std::string(info.param.name); });

struct AcceptCase {
  const char* name; Bytes block; std::int32_t height; bool bottomUp;
  std::uint32_t entries; std::uint32_t pixelOffset; std::uint32_t redMask; std::uint32_t slack = 0;
};
class DibValidateAccepts : public testing::TestWithParam<AcceptCase> {};
TEST_P(DibValidateAccepts, LaysOutTableAndRows) {
  const AcceptCase& c = GetParam();
  DibLayout layout;
  ASSERT_EQ(Validate(c.block, kAllDepths, layout), DibStatus::kOk);
  EXPECT_EQ(layout.height, c.height);
  EXPECT_EQ(layout.bottomUp, c.bottomUp);
  EXPECT_EQ(layout.colorTableEntries, c.entries);
  EXPECT_EQ(layout.pixelOffset, c.pixelOffset);
  EXPECT_EQ(layout.redMask, c.redMask);
  EXPECT_EQ(std::uint64_t(layout.pixelOffset) + layout.imageBytes, c.block.size() - c.slack);
}
INSTANTIATE_TEST_SUITE_P(Forms, DibValidateAccepts, testing::Values(
    AcceptCase{"TopDown", Info(3, -2, 24) + Zeros(24), 2, false, 0, 40, 0},
    AcceptCase{"SlackAfterRows", Info(3, 2, 24) + Zeros(31), 2, true, 0, 40, 0, 7},
    AcceptCase{"Palette8Full", Info(2, 1, 8) + Zeros(1028), 1, true, 256, 1064, 0},
    AcceptCase{"Palette8Used3", Info(2, 1, 8, 0, 3) + Zeros(16), 1, true, 3, 52, 0},
    AcceptCase{"Palette4UsedTooMany", Info(2, 1, 4, 0, 17) + Zeros(68), 1, true, 16, 104, 0},
    AcceptCase{"Core8", Core(2, 1, 8) + Zeros(772), 1, true, 256, 780, 0},
    AcceptCase{"Bitfields16", Info(2, 1, 16, kBiBitfields) + U32s({0xF800, 0x07E0, 0x1F}) + Zeros(4), 1, true, 0, 52, 0xF800},
    AcceptCase{"V5Bitfields32", Info(1, 1, 32, kBiBitfields, 0, kV5HeaderSize) + Zeros(4), 1, true, 0, 124, 0},
    AcceptCase{"Rgb24OptionalTable", Info(1, 1, 24, 0, 2) + Zeros(12), 1, true, 2, 48, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DibHeaderFields, InfoHeadersSignedCoreHeadersUnsigned16) {
  EXPECT_EQ(WidthField(Info(3, -2, 24)), 3);
  EXPECT_EQ(HeightField(Info(3, -2, 24)), -2);
  EXPECT_EQ(HeightField(Info(300, 70000, 24, 0, 0, kV4HeaderSize)), 70000);
  const Bytes core = Core(0xFFFF, 0x8001, 24) + U16s({0, 8});
  EXPECT_EQ(WidthField(core), 0xFFFF);
  EXPECT_EQ(HeightField(core), 0x8001);
  EXPECT_EQ(BitCountField(core), 8);  // offset 14, whatever the header
  const Bytes other = U32s({64}) + U16s({5, 6});
  EXPECT_EQ(WidthField(other), 5);
  EXPECT_EQ(HeightField(other), 6);
  EXPECT_EQ(HeightField(Cut(Info(3, 2, 24), 11)), 0);
  EXPECT_EQ(BitCountField(Zeros(15)), 0);
}

using Bgr = std::array<std::uint8_t, 3>;
struct ConvertCase {
  const char* name; Bytes block; std::vector<std::vector<Bgr>> rowsTopDown; std::int32_t xPelsPerMeter = 2835;
};
class DibConvertTo24 : public testing::TestWithParam<ConvertCase> {};
TEST_P(DibConvertTo24, GivesPlainBottomUpPixels) {
  const ConvertCase& c = GetParam();
  DibLayout in;
  ASSERT_EQ(Validate(c.block, kAllDepths, in), DibStatus::kOk);
  Bytes out(*Converted24Size(in) + 1, 0xEE);
  ASSERT_TRUE(ConvertTo24(c.block, in, out));
  EXPECT_EQ(out.back(), 0xEE);
  DibLayout converted;
  ASSERT_EQ(Validate(out, kDepth24, converted), DibStatus::kOk);
  EXPECT_TRUE(IsPlain24(converted));
  EXPECT_EQ(LoadU32(out.data() + 20), converted.imageBytes);
  EXPECT_EQ(LoadI32(out.data() + 24), c.xPelsPerMeter);
  const ConstImageView view = PixelsOf(out.data(), converted);
  ASSERT_EQ(view.height(), std::int32_t(c.rowsTopDown.size()));
  for (std::int32_t y = 0; y < view.height(); ++y) {
    const auto& row = c.rowsTopDown[y];
    ASSERT_EQ(view.width(), std::int32_t(row.size()));
    for (std::size_t x = 0; x < row.size(); ++x) {
      EXPECT_EQ((Bgr{view.Row(y)[3 * x], view.Row(y)[3 * x + 1], view.Row(y)[3 * x + 2]}), row[x])
          << "at " << x << "," << y;
    }
    for (std::uint32_t pad = 3 * row.size(); pad < converted.stride; ++pad) EXPECT_EQ(view.Row(y)[pad], 0);
  }
}
const Bgr kBlack{0, 0, 0}, kWhite{255, 255, 255}, kA{10, 20, 30}, kB{40, 50, 60};
INSTANTIATE_TEST_SUITE_P(Depths, DibConvertTo24, testing::Values(
    // Bottom row first; bits from the top of each byte.
    ConvertCase{"Palette1", Info(10, 2, 1) + U32s({0x1E140A, 0x3C3228}) + Bytes{0x80, 0x40, 0, 0, 0x01, 0xFF, 0, 0},
                {{kA, kA, kA, kA, kA, kA, kA, kB, kB, kB}, {kB, kA, kA, kA, kA, kA, kA, kA, kA, kB}}},
    ConvertCase{"Palette4IndexPastTable", Info(3, 1, 4, 0, 2) + U32s({0x1E140A, 0x3C3228}) + Bytes{0x15, 0x00, 0, 0},
                {{kB, Bgr{0, 0, 0}, kA}}},
    ConvertCase{"Palette8TopDown", Info(2, -2, 8, 0, 2) + U32s({0x1E140A, 0x3C3228}) + Bytes{1, 0, 0, 0, 0, 1, 0, 0},
                {{kB, kA}, {kA, kB}}},
    ConvertCase{"Rgb16Is555", Info(4, 1, 16) + U16s({0x7FFF, 0x7C00, 0x0010, 0x8000}),
                {{kWhite, Bgr{0, 0, 255}, Bgr{132, 0, 0}, kBlack}}},
    ConvertCase{"Bitfields565", Info(3, 1, 16, kBiBitfields) + U32s({0xF800, 0x07E0, 0x001F}) + U16s({0xF800, 0x0020, 0x001F, 0}),
                {{Bgr{0, 0, 255}, Bgr{0, 4, 0}, Bgr{255, 0, 0}}}},
    ConvertCase{"Rgb32IsBgrx", Info(2, 1, 32) + Bytes{10, 20, 30, 99, 40, 50, 60, 0}, {{kA, kB}}},
    ConvertCase{"Bitfields32RedLow", Info(1, 1, 32, kBiBitfields) + U32s({0xFF, 0xFF00, 0xFF0000}) + Bytes{30, 20, 10, 0}, {{kA}}},
    ConvertCase{"Rgb24TopDownWithTable", Info(2, -2, 24, 0, 1) + Zeros(4) + Bytes{10, 20, 30, 40, 50, 60, 0, 0, 40, 50, 60, 10, 20, 30, 0, 0},
                {{kA, kB}, {kB, kA}}},
    ConvertCase{"Core8", Core(1, 2, 8) + Bytes{10, 20, 30, 40, 50, 60} + Zeros(762) + Bytes{1, 0, 0, 0, 0, 0, 0, 0}, {{kA}, {kB}}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DibConvertTo24, RefusesShortOutputOrStaleLayout) {
  const Bytes block = Info(3, 2, 8) + Zeros(1024 + 8);
  DibLayout layout;
  ASSERT_EQ(Validate(block, kAllDepths, layout), DibStatus::kOk);
  Bytes out(*Converted24Size(layout) - 1, 0xEE);
  EXPECT_FALSE(ConvertTo24(block, layout, out));
  EXPECT_EQ(out, Bytes(out.size(), 0xEE));
  out.resize(out.size() + 1, 0xEE);
  layout.height = 3;  // a layout that no longer matches the block
  EXPECT_FALSE(ConvertTo24(block, layout, out));
  layout.height = 2;
  EXPECT_FALSE(ConvertTo24(std::span(block).first(block.size() - 1), layout, out));
}

// RLE blocks: a sound stream lays out and decodes to the plain block of its
// indices (which the plain validator takes); forms GDI does not take, a
// stream cut short or past the block, and a claim the stream cannot stand
// for are refused, the layout untouched.
TEST(DibRle, ValidatesAndDecodesToThePlainBlock) {
  auto withSizeImage = [](Bytes b, std::uint32_t n) {
    StoreU32(b.data() + 20, n);
    return b;
  };
  const Bytes table = {10, 20, 30, 0, 40, 50, 60, 0};
  // 3 x 2: the bottom line a run of three 1s, the top line literals 0 1 0.
  const Bytes stream = {3, 1, 0, 0, 0, 3, 0, 1, 0, 0, 0, 1};
  const Bytes block = Info(3, 2, 8, kBiRle8, 2) + table + stream;
  RleLayout layout;
  ASSERT_EQ(DibStatus::kOk, ValidateRle(block, layout));
  EXPECT_EQ(48u, layout.streamOffset);
  EXPECT_EQ(stream.size(), layout.streamBytes);
  Bytes out(layout.decodedBytes, 0xEE);
  ASSERT_TRUE(DecodeRle(block, layout, out));
  const Bytes rows = {1, 1, 1, 0, 0, 1, 0, 0};
  EXPECT_EQ(withSizeImage(Info(3, 2, 8, kBiRgb, 2), 8) + table + rows, out);
  DibLayout plain;
  EXPECT_EQ(DibStatus::kOk, Validate(out, kAllDepths, plain));
  EXPECT_EQ(DibStatus::kCompressionNotHandled, Validate(block, kAllDepths, plain)) << "no pixel walk sees a stream";
  Bytes shortOut(layout.decodedBytes - 1, 0xEE);
  EXPECT_FALSE(DecodeRle(block, layout, shortOut));
  EXPECT_EQ(Bytes(shortOut.size(), 0xEE), shortOut);

  struct Refused {
    const char* name;
    Bytes block;
    DibStatus status;
  };
  const Refused cases[] = {
      {"TopDown", Info(3, -2, 8, kBiRle8, 2) + table + stream, DibStatus::kCompressionNotHandled},
      {"Rle8At4Bits", Info(3, 2, 4, kBiRle8, 2) + table + stream, DibStatus::kCompressionNotHandled},
      {"Rle4At8Bits", Info(3, 2, 8, kBiRle4, 2) + table + stream, DibStatus::kCompressionNotHandled},
      {"Plain", Info(3, 2, 8, kBiRgb, 2) + table + Zeros(8), DibStatus::kCompressionNotHandled},
      {"TableCut", Info(3, 2, 8, kBiRle8, 2) + Bytes{1, 2}, DibStatus::kTablePastBlock},
      {"NoEndOfBitmap", Cut(block, block.size() - 2), DibStatus::kBadStream},
      {"SizeImagePastBlock", withSizeImage(block, 13), DibStatus::kRowsPastBlock},
      {"SizeImageCutsTheStream", withSizeImage(block, 10), DibStatus::kBadStream},
      {"RunPastTheRow", Info(3, 2, 8, kBiRle8, 2) + table + Bytes{5, 1, 0, 1}, DibStatus::kBadStream},
      {"HugeClaim", Info(4000, 4000, 8, kBiRle8, 2) + table + Bytes{0, 1}, DibStatus::kBadStream},
  };
  for (const Refused& c : cases) {
    RleLayout untouched;
    untouched.width = -7;
    EXPECT_EQ(c.status, ValidateRle(c.block, untouched)) << c.name;
    EXPECT_EQ(-7, untouched.width) << c.name;
  }
}

}  // namespace
}  // namespace qb::dib
