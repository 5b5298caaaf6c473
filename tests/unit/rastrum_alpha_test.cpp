// Pictures with transparency: which blocks carry alpha, every codec row's
// save of one (kept, or flattened onto white), the operations that keep it,
// and AddPic's masks of alpha.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/portable/dib_format.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/raster.h"

namespace rastrum {
namespace {

namespace dib = qb::dib;
using Bytes = std::vector<uint8_t>;

struct Bgra {
  uint8_t b = 0, g = 0, r = 0, a = 0;
  bool operator==(const Bgra&) const = default;
};
void PrintTo(const Bgra& c, std::ostream* os) {
  *os << "(b" << +c.b << " g" << +c.g << " r" << +c.r << " a" << +c.a << ")";
}

// A 32-bit block with alpha made of a pixel function (x, y from the top).
Bytes AlphaBlock(int32_t w, int32_t h, const std::function<Bgra(int32_t, int32_t)>& pixel) {
  VectorAllocator out;
  NewBlock made;
  EXPECT_EQ(MakeBlock32(out, w, h, 2835, 2835, made), kOk);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const Bgra p = pixel(x, y);
      uint8_t* d = made.pixels.Row(y) + 4 * x;
      d[0] = p.b, d[1] = p.g, d[2] = p.r, d[3] = p.a;
    }
  return out.block;
}

// Smooth colours, a sharp edge, and alpha running 0..255 across with an
// opaque and a transparent row.
Bgra Varied(int32_t x, int32_t y) {
  const uint8_t a = y == 0 ? 255 : y == 1 ? 0 : uint8_t(x * 255 / 36);
  return {uint8_t(40 + 4 * x), uint8_t(30 + 6 * y), uint8_t(x < 18 ? 220 : 60), a};
}

// The pixel (x, y) of a decoded block of 24 or 32 bits; alpha 255 at 24.
Bgra At(const Bytes& block, int32_t x, int32_t y) {
  dib::DibLayout l;
  EXPECT_EQ(dib::Validate(block, dib::kDepth24 | dib::kDepth32, l), dib::DibStatus::kOk);
  const uint8_t* p = dib::PixelsOf(block.data(), l).Row(y) + l.bitCount / 8 * x;
  return {p[0], p[1], p[2], l.bitCount == 32 ? p[3] : uint8_t(255)};
}

bool HasAlpha(const Bytes& block) {
  dib::DibLayout l;
  return dib::Validate(block, dib::kAllDepths, l) == dib::DibStatus::kOk && dib::CarriesAlpha(block, l);
}

TEST(AlphaBlocks, OnlyA32BitInfoBlockWhoseFourthBytesDifferCarriesAlpha) {
  // Windows' own 32-bit blocks leave the fourth byte 0, others fill it:
  // opaque.
  for (uint8_t filler : {0, 127, 255})
    EXPECT_FALSE(HasAlpha(AlphaBlock(3, 2, [&](int32_t x, int32_t) { return Bgra{10, 20, uint8_t(x), filler}; })));
  const Bytes one = AlphaBlock(3, 2, [](int32_t x, int32_t y) { return Bgra{10, 20, 30, uint8_t(x == 2 && y == 1)}; });
  EXPECT_TRUE(HasAlpha(one));
  Bytes bitfields = one;
  dib::StoreU32(bitfields.data() + 16, dib::kBiBitfields);
  bitfields.insert(bitfields.begin() + 40, {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0});
  EXPECT_FALSE(HasAlpha(bitfields));
}

TEST(AlphaBlocks, ReadAs24BitsTheyLookAsOnWhite) {
  const Bytes block = AlphaBlock(4, 1, [](int32_t x, int32_t) {
    const uint8_t a[] = {255, 128, 0, 1};
    return Bgra{0, 100, 200, a[x]};
  });
  Source24 flat, kept;
  ASSERT_EQ(flat.Open(block), kOk);
  ASSERT_EQ(kept.Open(block, dib::AlphaRule::kDrop), kOk);
  const uint8_t* f = flat.pixels().Row(0);
  const Bytes wantFlat = {0, 100, 200, 127, 177, 227, 255, 255, 255, 254, 254, 255};
  EXPECT_EQ(Bytes(f, f + 12), wantFlat);
  const uint8_t* k = kept.pixels().Row(0);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Bytes(k + 3 * x, k + 3 * x + 3), (Bytes{0, 100, 200}));
}

// PNG, WebP and TIFF keep alpha (lossless saves exactly, colours of wholly
// transparent pixels aside); every other row writes the very file it writes
// for the picture as it looks on white.
TEST(AlphaBlocks, EveryCodecRowKeepsAlphaOrFlattensOntoWhite) {
  const std::set<FileFormat> keeping = {FileFormat::kPng, FileFormat::kWebp, FileFormat::kTiff};
  const int32_t w = 37, h = 5;
  const Bytes block = AlphaBlock(w, h, Varied);
  VectorAllocator flatStore;
  NewBlock flat;
  ASSERT_EQ(MakeBlock24(flatStore, w, h, 2835, 2835, flat), kOk);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const Bgra in = Varied(x, y);
      uint8_t* p = flat.pixels.Row(y) + 3 * x;
      p[0] = dib::OverWhite(in.b, in.a), p[1] = dib::OverWhite(in.g, in.a), p[2] = dib::OverWhite(in.r, in.a);
    }
  for (const Codec& codec : Codecs()) {
    if (!codec.encode) continue;
    for (int quality : {90, 100}) {
      SCOPED_TRACE(std::string(codec.name) + " at quality " + std::to_string(quality));
      Bytes file;
      ASSERT_EQ(EncodeImage(block, codec.format, quality, file), kOk);
      if (!keeping.count(codec.format)) {
        Bytes flatFile;
        ASSERT_EQ(EncodeImage(flatStore.block, codec.format, quality, flatFile), kOk);
        EXPECT_EQ(file, flatFile);
        continue;
      }
      VectorAllocator decoded;
      ASSERT_EQ(DecodeImage(file, decoded), kOk);
      ASSERT_TRUE(HasAlpha(decoded.block));
      int worst = 0;
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
          const Bgra in = Varied(x, y), got = At(decoded.block, x, y);
          // Alpha is lossless in every format that keeps it.
          ASSERT_EQ(got.a, in.a) << x << "," << y;
          if (in.a == 0) continue;
          worst = std::max({worst, std::abs(got.b - in.b), std::abs(got.g - in.g), std::abs(got.r - in.r)});
        }
      EXPECT_LE(worst, quality >= codec.losslessFrom ? 0 : 40);
    }
  }
}

// One operation on a picture with alpha, and what must hold of the result.
struct AlphaOperation {
  const char* name;
  std::function<int(std::span<const uint8_t>, BlockAllocator&)> run;
};

TEST(AlphaOperations, KeepAlphaAndDoNotBleedTransparentColours) {
  // Left half opaque blue, right half transparent red: a transparent
  // colour must never show in the result.
  const int32_t w = 64, h = 16;
  const Bytes block = AlphaBlock(w, h, [](int32_t x, int32_t) {
    return x < 32 ? Bgra{255, 0, 0, 255} : Bgra{0, 0, 255, 0};
  });
  const AlphaOperation ops[] = {
      {"ResizeDown", [](auto b, auto& o) { return Resize(b, 7, 5, 0, o); }},
      {"ResizeUp", [](auto b, auto& o) { return Resize(b, 53, 37, 0, o); }},
      {"ResizeFast", [](auto b, auto& o) { return Resize(b, 9, 9, 1, o); }},
      {"Rotate30", [](auto b, auto& o) { return Rotate(b, 30, o); }},
      {"Blur", [](auto b, auto& o) { return Blur(b, 10, o); }},
  };
  for (const AlphaOperation& op : ops) {
    SCOPED_TRACE(op.name);
    VectorAllocator out;
    ASSERT_EQ(op.run(block, out), kOk);
    ASSERT_TRUE(HasAlpha(out.block));
    dib::DibLayout l;
    ASSERT_EQ(dib::Validate(out.block, dib::kDepth32, l), dib::DibStatus::kOk);
    bool sawOpaque = false, sawClear = false;
    for (int32_t y = 0; y < l.height; ++y)
      for (int32_t x = 0; x < l.width; ++x) {
        const Bgra p = At(out.block, x, y);
        sawOpaque |= p.a == 255;
        sawClear |= p.a == 0;
        // Whatever shows is the blue, never the hidden red.
        if (p.a > 0) {
          EXPECT_EQ(p.r, 0) << x << "," << y << " alpha " << +p.a;
        }
      }
    EXPECT_TRUE(sawOpaque);
    EXPECT_TRUE(sawClear);
  }
}

TEST(AlphaOperations, QuarterTurnsAreExactAndFreeAnglesLeaveTransparentCorners) {
  const Bytes block = AlphaBlock(37, 5, Varied);
  VectorAllocator turned, back;
  ASSERT_EQ(Rotate(block, 90, turned), kOk);
  ASSERT_EQ(Rotate(turned.block, 270, back), kOk);
  EXPECT_EQ(back.block, block);
  VectorAllocator free;
  // Opaque but for one clear pixel at the bottom right.
  ASSERT_EQ(Rotate(AlphaBlock(20, 10, [](int32_t x, int32_t y) { return Bgra{1, 2, 3, uint8_t(x + y == 28 ? 0 : 255)}; }),
                   45, free),
            kOk);
  EXPECT_EQ(At(free.block, 0, 0).a, 0);
  dib::DibLayout l;
  ASSERT_EQ(dib::Validate(free.block, dib::kDepth32, l), dib::DibStatus::kOk);
  EXPECT_EQ(At(free.block, l.width / 2, l.height / 2), (Bgra{1, 2, 3, 255}));
}

TEST(AlphaOperations, AFrameMakesWhatItCoversOpaque) {
  const Bytes photo = AlphaBlock(8, 8, [](int32_t x, int32_t) { return Bgra{9, 9, 9, uint8_t(x == 7 ? 0 : 100)}; });
  // A 3 x 3 grey frame around a black hole.
  VectorAllocator frameStore;
  NewBlock frame;
  ASSERT_EQ(MakeBlock24(frameStore, 3, 3, 0, 0, frame), kOk);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) std::fill_n(frame.pixels.Row(y) + 3 * x, 3, uint8_t(x == 1 && y == 1 ? 0 : 128));
  VectorAllocator out;
  ASSERT_EQ(AddFrame(photo, frameStore.block, {}, out), kOk);
  EXPECT_EQ(At(out.block, 0, 0), (Bgra{128, 128, 128, 255}));
  EXPECT_EQ(At(out.block, 4, 4), (Bgra{9, 9, 9, 100}));

  // A frame with alpha lets the photo through by its alpha: an opaque red
  // edge, a half-covered column, and a clear middle whose green never shows.
  const Bytes framePng = AlphaBlock(8, 8, [](int32_t x, int32_t) {
    return x == 0 ? Bgra{0, 0, 200, 255} : x == 1 ? Bgra{0, 0, 200, 128} : Bgra{0, 255, 0, 0};
  });
  VectorAllocator greyStore;
  NewBlock grey;
  ASSERT_EQ(MakeBlock24(greyStore, 8, 8, 0, 0, grey), kOk);
  for (int32_t y = 0; y < 8; ++y) std::fill_n(grey.pixels.Row(y), 24, uint8_t(100));
  VectorAllocator laid;
  ASSERT_EQ(AddFrame(greyStore.block, framePng, {}, laid), kOk);
  EXPECT_FALSE(HasAlpha(laid.block));
  EXPECT_EQ(At(laid.block, 0, 3), (Bgra{0, 0, 200, 255}));
  EXPECT_EQ(At(laid.block, 1, 3), (Bgra{50, 50, 150, 255}));  // c a + 100 (1 - a), a = 128 / 255
  EXPECT_EQ(At(laid.block, 5, 5), (Bgra{100, 100, 100, 255}));
}

// AddPic: how an overlay of alpha lands on an opaque and on a transparent base.
TEST(AlphaAddPic, TheMasksAlphaOrTheOverlaysOwnLaysIt) {
  const Bytes logo = AlphaBlock(4, 1, [](int32_t x, int32_t) {
    const uint8_t a[] = {255, 128, 0, 51};
    return Bgra{0, 0, 200, a[x]};
  });
  VectorAllocator baseStore;
  NewBlock base;
  ASSERT_EQ(MakeBlock24(baseStore, 4, 1, 0, 0, base), kOk);
  std::fill_n(base.pixels.Row(0), 12, uint8_t(100));
  const uint8_t wantRed[] = {200, 150, 100, 120};  // (200 a + 100 (255 - a) + 127) / 255
  // The logo as its own mask, and the logo without a mask: the same.
  for (const Bytes& mask : {logo, Bytes{}}) {
    VectorAllocator out;
    ASSERT_EQ(AddPic(0, 0, baseStore.block, logo, mask, out), kOk);
    EXPECT_FALSE(HasAlpha(out.block));
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(At(out.block, x, 0).r, wantRed[x]) << x;
  }
  // Over a base with alpha the result has alpha: a + b (1 - a).
  const Bytes clearBase = AlphaBlock(4, 1, [](int32_t x, int32_t) { return Bgra{100, 100, 100, uint8_t(x == 3 ? 200 : 51)}; });
  VectorAllocator over;
  ASSERT_EQ(AddPic(0, 0, clearBase, logo, {}, over), kOk);
  ASSERT_TRUE(HasAlpha(over.block));
  const uint8_t wantAlpha[] = {255, 153, 51, 211};
  for (int32_t x = 0; x < 4; ++x) EXPECT_NEAR(At(over.block, x, 0).a, wantAlpha[x], 1) << x;
  EXPECT_EQ(At(over.block, 2, 0), (Bgra{100, 100, 100, 51}));  // the logo's clear pixel shows the base
}

}  // namespace
}  // namespace rastrum
