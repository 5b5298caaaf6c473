// Colour adjustment, sharpen, red-eye, mirror and crop through their COM
// interfaces: the worked values once more end to end, the class's own
// results and what each does with blocks it cannot trust. (The kernels'
// full tables run natively.)
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>

#include "com/error_report.h"
#include "core/picture_block.h"
#include "modifiers/portable/mirror.h"
#include "modifiers/portable/tone.h"
#include "rastrum/rastrum.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

// A picture holding a copy of `block`, which stays the caller's.
ComPtr<IVuPicture> Holding(int32_t block) {
  ComPtr<IVuPicture> p = NewPicture();
  EXPECT_EQ(S_OK, p->AttachImage(qb::PictureBlock::CopyOf(block).release()));
  return p;
}

// Applies m to a picture holding a copy of `block`; the result's bytes, or
// none without a result image. A failure leaves no earlier call's error
// information behind.
template <class I>
std::vector<uint8_t> ApplyBytes(I* m, int32_t block, HRESULT expected = S_OK) {
  ComPtr<IVuPicture> src = Holding(block), out;
  qb::ReportError(CLSID_Zoom, L"an earlier call's message", IID_IZoom);
  EXPECT_EQ(expected, m->Apply(src.Get(), out.GetAddressOf()));
  if (FAILED(expected)) {
    ComPtr<IErrorInfo> stale;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, stale.GetAddressOf())) << "the thread's error information is cleared";
  }
  SetErrorInfo(0, nullptr);
  return out && HandleOf(out.Get()) > 0 ? Bytes(HandleOf(out.Get())) : std::vector<uint8_t>();
}

template <class I>
Pixels ApplyPixels(I* m, int32_t block) {
  ComPtr<IVuPicture> src = Holding(block), out;
  EXPECT_EQ(S_OK, m->Apply(src.Get(), out.GetAddressOf()));
  return out ? Read(HandleOf(out.Get())) : Pixels();
}

int32_t Solid(int32_t w, int32_t h, uint32_t rgb) {
  return MakeBlock(w, h, [rgb](int32_t, int32_t) { return rgb; });
}

// An 8-bit picture w x 1 whose pixel x has index x % 2, over a two-entry
// table (biClrUsed 2).
int32_t TwoColourPalette(int32_t w) {
  const uint32_t stride = (static_cast<uint32_t>(w) + 3) & ~3u;
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + 8 + stride);
  auto* p = static_cast<uint8_t*>(GlobalLock(g));
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(p);
  *h = {40, w, 1, 1, 8, BI_RGB, stride, 0, 0, 2, 0};
  const uint8_t table[8] = {0, 0, 255, 0, 50, 100, 200, 0};  // red, then (B,G,R) = (50,100,200)
  std::memcpy(p + 40, table, 8);
  for (int32_t x = 0; x < w; ++x) p[48 + x] = static_cast<uint8_t>(x % 2);
  GlobalUnlock(g);
  return AsHandle(g);
}

// A sound block whose header then claims 4000 rows.
int32_t Lying(int32_t w, int32_t h) {
  const int32_t block = PhotoLike(w, h);
  auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(AsHGlobal(block)));
  header->biHeight = 4000;
  GlobalUnlock(AsHGlobal(block));
  return block;
}

}  // namespace

TEST(AdjustColor, WorkedValuesAndPalettesThroughCom) {
  ComPtr<IAdjustColorModifier> a = Make<IAdjustColorModifier>(CLSID_AdjustColorModifier);
  Pixels same = ApplyPixels(a.Get(), Solid(2, 2, 0xC86432));  // (B,G,R) = (50,100,200)
  EXPECT_EQ(49, same.At(1, 1)[0]) << "the round trip truncates";
  EXPECT_EQ(100, same.At(1, 1)[1]);
  EXPECT_EQ(200, same.At(1, 1)[2]);

  a->put_Hue(-480);  // a full turn less than -120: pure red becomes blue
  Pixels blue = ApplyPixels(a.Get(), Solid(1, 1, 0xFF0000));
  EXPECT_EQ(255, blue.At(0, 0)[0]);
  EXPECT_EQ(0, blue.At(0, 0)[2]);

  a->put_Hue(0);
  a->put_Saturation(-100);  // a colour becomes the grey of its lightness, not black
  Pixels grey = ApplyPixels(a.Get(), Solid(1, 1, 0xC86432));
  EXPECT_EQ(grey.At(0, 0)[0], grey.At(0, 0)[1]);
  EXPECT_EQ(grey.At(0, 0)[1], grey.At(0, 0)[2]);
  EXPECT_GT(grey.At(0, 0)[0], 100);

  // A palette picture: indices kept, table adjusted (two entries only).
  a->put_Saturation(0);
  const int32_t pal = TwoColourPalette(5);
  const std::vector<uint8_t> before = Bytes(pal);
  std::vector<uint8_t> after = ApplyBytes(a.Get(), pal);
  ASSERT_EQ(before.size(), after.size());
  EXPECT_EQ(0, std::memcmp(before.data() + 48, after.data() + 48, before.size() - 48)) << "indices kept";
  EXPECT_EQ(49, after[44]) << "(50,100,200) comes back as (49,100,200)";
  EXPECT_EQ(0, std::memcmp(before.data(), after.data(), 44)) << "header and pure red kept";
}

TEST(AdjustColor, EveryAwkwardSourceStillGivesAPicture) {
  ComPtr<IAdjustColorModifier> a = Make<IAdjustColorModifier>(CLSID_AdjustColorModifier);
  a->put_Lightness(-100);
  const int32_t lying = Lying(4, 4);
  const std::vector<uint8_t> before = Bytes(lying);
  EXPECT_EQ(before, ApplyBytes(a.Get(), lying)) << "a block whose header lies is passed on untouched";
  EXPECT_EQ(before, Bytes(lying));
}

TEST(Sharp, LevelsAndFailures) {
  ComPtr<ISharpModifier> s = Make<ISharpModifier>(CLSID_SharpModifier);
  // Centre 110 among 100s, one channel: 190 at level 10, 150 at level 5.
  auto spot = [] {
    return MakeBlock(3, 3, [](int32_t x, int32_t y) { return x == 1 && y == 1 ? 110u : 100u; });
  };
  for (LONG level : {10, 5}) {
    s->put_Level(level);
    LONG stored = 0;
    EXPECT_EQ(S_OK, s->get_Level(&stored));
    EXPECT_EQ(level, stored);
    Pixels px = ApplyPixels(s.Get(), spot());
    EXPECT_EQ(level == 10 ? 190 : 150, px.At(1, 1)[0]);
    EXPECT_EQ(100, px.At(0, 0)[0]) << "the border keeps the source's pixels";
  }
  // A dark point among light ones stays dark: centre 50 among 100s.
  s->put_Level(10);
  Pixels dark = ApplyPixels(s.Get(), MakeBlock(3, 3, [](int32_t x, int32_t y) { return x == 1 && y == 1 ? 50u : 100u; }));
  EXPECT_EQ(0, dark.At(1, 1)[0]);
  s->put_Level(0);
  const int32_t plain = PhotoLike(6, 4);
  const std::vector<uint8_t> original = Bytes(plain);
  EXPECT_EQ(original, ApplyBytes(s.Get(), plain)) << "level 0: an unmodified copy";

  s->put_Level(3);
  const int32_t lying = Lying(4, 4);
  const std::vector<uint8_t> before = Bytes(lying);
  EXPECT_TRUE(ApplyBytes(s.Get(), lying, E_FAIL).empty());
  EXPECT_EQ(before, Bytes(lying));
}

TEST(RedEye, RectangleFromTheTopClippedAndGettersReport) {
  ComPtr<IRedEye> r = Make<IRedEye>(CLSID_RedEye);
  // 5 x 3 (padded rows) of (B,G,R) = (40,60,220); the top row's first two
  // pixels and, clipped, what the rectangle reaches past the right edge.
  r->put_RectLeft(-1);
  r->put_RectTop(0);
  r->put_RectWidth(3);
  r->put_RectHeight(1);
  r->put_Extra(77);
  Pixels px = ApplyPixels(r.Get(), Solid(5, 3, 0xDC3C28));
  EXPECT_EQ(60, px.At(0, 0)[2]);
  EXPECT_EQ(60, px.At(1, 0)[2]);
  EXPECT_EQ(220, px.At(2, 0)[2]) << "outside the rectangle";
  EXPECT_EQ(220, px.At(0, 1)[2]) << "the second row as seen is untouched";
  EXPECT_EQ(40, px.At(0, 0)[0]);
  LONG v = 0;
  r->get_RectLeft(&v);
  EXPECT_EQ(-1, v);
  r->get_Extra(&v);
  EXPECT_EQ(77, v);

  r->put_RectLeft(0);
  r->put_RectWidth(100000);
  r->put_RectHeight(100000);
  const int32_t lying = Lying(4, 4);
  EXPECT_TRUE(ApplyBytes(r.Get(), lying, E_UNEXPECTED).empty());
}

TEST(Mirror, DirectionsPalettesAndTheKeptSource) {
  const size_t ownedBefore = qb::PictureBlock::OwnedCount();
  {
    ComPtr<IMirrorModifier> m = MakeLinked<IMirrorModifier>(CLSID_MirrorModifier);
    const auto row = [](int32_t x, int32_t y) { return static_cast<uint32_t>(0x010203 * (x + 1) + 0x100000 * y); };
    Pixels flipped = ApplyPixels(m.Get(), MakeBlock(3, 2, row));
    EXPECT_EQ(0, std::memcmp(flipped.At(0, 0), Read(MakeBlock(3, 2, row)).At(2, 0), 3)) << "p0 p1 p2 -> p2 p1 p0";

    m->put_Direction(2);
    Pixels upside = ApplyPixels(m.Get(), MakeBlock(3, 2, row));
    EXPECT_EQ(0, std::memcmp(upside.At(1, 0), Read(MakeBlock(3, 2, row)).At(1, 1), 3));

    const int32_t pal = TwoColourPalette(4);  // indices 0 1 0 1
    const std::vector<uint8_t> palBytes = Bytes(pal);
    for (LONG direction : {0L, 3L}) {
      m->put_Direction(direction);
      EXPECT_EQ(palBytes, ApplyBytes(m.Get(), pal)) << "direction " << direction;
    }
    m->put_Direction(1);
    std::vector<uint8_t> mirrored = ApplyBytes(m.Get(), pal);
    ASSERT_EQ(palBytes.size(), mirrored.size());
    EXPECT_EQ(0, std::memcmp(palBytes.data(), mirrored.data(), 48)) << "header and table kept";
    EXPECT_EQ(1, mirrored[48]);
    EXPECT_EQ(0, mirrored[51]);
    LONG kept = 0;
    ASSERT_EQ(S_OK, m->get_PreHnd(&kept));
    EXPECT_EQ(palBytes, Bytes(kept)) << "m_preHnd holds the source, not the result";

    const int32_t lying = Lying(4, 4);
    EXPECT_TRUE(ApplyBytes(m.Get(), lying, E_UNEXPECTED).empty());
    EXPECT_EQ(palBytes, Bytes(kept)) << "the copy read through PreHnd is the caller's after the next Apply";
    FreeBlocks({kept});
  }
  EXPECT_EQ(ownedBefore, qb::PictureBlock::OwnedCount()) << "each kept copy is freed by the next Apply or the end";
}

// A picture of several bands of rows, stored bottom-up and top-down, with
// slack after its rows: each direction gives MirrorDib's flip of the whole
// block, and the kept copy is the source.
// Over a megapixel, so that the bands are shared on the pool: the same
// bytes at one thread and at two; and past 8 MB, so that the copy and the
// flipped rows are written around the caches.
TEST(Mirror, BandsGiveTheWholeBlocksFlip) {
  const int32_t w = 1201, h = 2400;
  const size_t stride = (w * 3 + 3) & ~3;
  std::vector<uint8_t> bottomUp = Bytes(PhotoLike(w, h)), topDown(bottomUp);
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(topDown.data() + 40 + y * stride, bottomUp.data() + 40 + (h - 1 - y) * stride, stride);
  reinterpret_cast<BITMAPINFOHEADER*>(topDown.data())->biHeight = -h;
  ComPtr<IMirrorModifier> m = Make<IMirrorModifier>(CLSID_MirrorModifier);
  for (std::vector<uint8_t>* source : {&bottomUp, &topDown}) {
    source->insert(source->end(), {0x5A, 0x5B});
    for (LONG direction : {1L, 2L}) {
      std::vector<uint8_t> expected(source->size());
      ASSERT_EQ(qb::dib::DibStatus::kOk, qb::mirror::MirrorDib(*source, expected, direction));
      m->put_Direction(direction);
      for (int32_t threads : {1, 2}) {
        NimboSetThreadCount(threads);
        EXPECT_TRUE(ApplyBytes(m.Get(), BlockOf(*source)) == expected)
            << "direction " << direction << (source == &topDown ? " top-down" : " bottom-up") << " on "
            << threads << " threads";
      }
      NimboSetThreadCount(0);
      LONG kept = 0;
      ASSERT_EQ(S_OK, m->get_PreHnd(&kept));
      EXPECT_TRUE(Bytes(kept) == *source);
    }
  }
}

// Bright and Contrast copy and change bands of rows, shared on the pool for
// a large picture: the kernel's result on the whole picture, at one thread
// and at two.
TEST(ToneModifiers, BandsGiveTheKernelsPicture) {
  const int32_t block = PhotoLike(1201, 900);
  const std::vector<uint8_t> source = Bytes(block);
  ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
  ComPtr<IContrast> contrast = Make<IContrast>(CLSID_Contrast);
  bright->put_Brightness(23);
  contrast->put_Contrast(-17);
  std::vector<uint8_t> brighter = source, flatter = source;
  qb::dib::DibLayout layout;
  ASSERT_EQ(qb::dib::DibStatus::kOk, qb::dib::Validate(source, qb::dib::kAllDepths, layout));
  qb::tone::ShiftChannels(qb::dib::PixelsOf(brighter.data(), layout), 23);
  qb::tone::StretchChannels(qb::dib::PixelsOf(flatter.data(), layout), -17);
  for (int32_t threads : {1, 2}) {
    NimboSetThreadCount(threads);
    EXPECT_TRUE(ApplyBytes(bright.Get(), block) == brighter) << threads << " threads";
    EXPECT_TRUE(ApplyBytes(contrast.Get(), block) == flatter) << threads << " threads";
  }
  NimboSetThreadCount(0);
  FreeBlocks({block});
}

TEST(Crop, RectanglesAndTheResultsHeader) {
  ComPtr<ICrop> c = Make<ICrop>(CLSID_Crop);
  const auto colour = [](int32_t x, int32_t y) { return static_cast<uint32_t>(x * 0x000101 + y * 0x100000); };
  const int32_t source = MakeBlock(12, 4, colour);
  const Pixels whole = Read(source);
  auto cut = [&](LONG left, LONG top, LONG w, LONG h) {
    c->put_RectLeft(left);
    c->put_RectTop(top);
    c->put_RectWidth(w);
    c->put_RectHeight(h);
    ComPtr<IVuPicture> src = Holding(source), out;
    EXPECT_EQ(S_OK, c->Apply(src.Get(), out.GetAddressOf()));
    LONG width = 0, height = 0;
    out->get_Width(&width);
    out->get_Height(&height);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    return HandleOf(out.Get()) > 0 ? Bytes(HandleOf(out.Get())) : std::vector<uint8_t>();
  };
  std::vector<uint8_t> all = cut(0, 0, 12, 4);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(Bytes(source), all) << "the whole picture is a copy";

  std::vector<uint8_t> one = cut(10, 0, 1, 1);
  ASSERT_EQ(44u, one.size());
  EXPECT_EQ(0, std::memcmp(one.data() + 40, whole.At(10, 0), 3)) << "column 10 of the top row";

  ComPtr<IVuPicture> src = Holding(source), out;
  ASSERT_EQ(S_OK, c->Apply(src.Get(), out.GetAddressOf()));
  LONG bits = 0;
  EXPECT_EQ(S_OK, out->get_BitCount(&bits));
  EXPECT_EQ(24, bits) << "the cut-out is 24-bit";

  std::vector<uint8_t> five = cut(0, 1, 5, 2);
  auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(five.data());
  EXPECT_EQ(16u * 2, h->biSizeImage) << "rows of 16 bytes";
  EXPECT_EQ(40u + 32u, five.size());

  // Reaching past the right and bottom edges: the existing pixels, zeros
  // elsewhere.
  std::vector<uint8_t> edge = cut(10, 3, 4, 2);
  ASSERT_EQ(40u + 12u * 2, edge.size());
  const uint8_t* topRow = edge.data() + 40 + 12;  // bottom-up: the top row is stored last
  EXPECT_EQ(0, std::memcmp(topRow, whole.At(10, 3), 6));
  for (int i = 6; i < 12; ++i) EXPECT_EQ(0, topRow[i]) << i;
  for (int i = 0; i < 12; ++i) EXPECT_EQ(0, edge[40 + i]) << "the row below the picture";

  EXPECT_TRUE(cut(0, 0, 0, 3).empty()) << "no area: a picture without an image";
  FreeBlocks({source});
}

TEST(Crop, UntrustedAndOtherDepthSources) {
  ComPtr<ICrop> c = Make<ICrop>(CLSID_Crop);
  c->put_RectWidth(2);
  c->put_RectHeight(1);
  EXPECT_TRUE(ApplyBytes(c.Get(), Lying(4, 4)).empty()) << "never read past the block";
  std::vector<uint8_t> fromPalette = ApplyBytes(c.Get(), TwoColourPalette(5));
  ASSERT_EQ(48u, fromPalette.size());
  EXPECT_EQ(24, reinterpret_cast<const BITMAPINFOHEADER*>(fromPalette.data())->biBitCount);
  EXPECT_EQ(255, fromPalette[40 + 2]) << "the first pixel is pure red";
  EXPECT_EQ(200, fromPalette[40 + 5]);
}

// Run-length-encoded pictures: every modifier that works on pixels of its
// own gives what it gives for the plain picture of the same indices, and
// direction 0 of Mirror hands out that plain picture.
TEST(RleBlocks, ModifiersGiveWhatTheyGiveForThePlainPicture) {
  ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
  bright->put_Brightness(30);
  ComPtr<IContrast> contrast = Make<IContrast>(CLSID_Contrast);
  contrast->put_Contrast(40);
  ComPtr<IAdjustColorModifier> adjust = Make<IAdjustColorModifier>(CLSID_AdjustColorModifier);
  adjust->put_Hue(120);
  ComPtr<ISharpModifier> sharp = Make<ISharpModifier>(CLSID_SharpModifier);
  sharp->put_Level(8);
  ComPtr<IRedEye> redEye = Make<IRedEye>(CLSID_RedEye);
  redEye->put_RectWidth(5);
  redEye->put_RectHeight(3);
  ComPtr<ICrop> crop = Make<ICrop>(CLSID_Crop);
  crop->put_RectLeft(1);
  crop->put_RectWidth(3);
  crop->put_RectHeight(2);
  // The imaging library's operations read it through its plain form too.
  ComPtr<IBlurModifier> blur = Make<IBlurModifier>(CLSID_BlurModifier);
  blur->put_Level(3);
  ComPtr<IZoom> zoom = Make<IZoom>(CLSID_Zoom);
  zoom->put_Width(9);
  zoom->put_Height(7);
  ComPtr<IMirrorModifier> mirror = Make<IMirrorModifier>(CLSID_MirrorModifier);
  const std::pair<const char*, IPictureModifier*> modifiers[] = {
      {"Bright", bright.Get()}, {"Contrast", contrast.Get()}, {"AdjustColor", adjust.Get()},
      {"Sharp", sharp.Get()},   {"RedEye", redEye.Get()},     {"Crop", crop.Get()},
      {"Blur", blur.Get()},     {"Zoom", zoom.Get()}};
  for (const RleSample& sample : RleSamples()) {
    const int32_t rle = BlockOf(sample.rle), plain = BlockOf(sample.plain);
    for (const auto& [name, m] : modifiers) {
      const std::vector<uint8_t> fromPlain = ApplyBytes(m, plain);
      ASSERT_FALSE(fromPlain.empty()) << name;
      EXPECT_EQ(fromPlain, ApplyBytes(m, rle)) << sample.name << " " << name;
    }
    for (LONG direction : {0L, 1L, 2L}) {
      mirror->put_Direction(direction);
      const std::vector<uint8_t> fromPlain = ApplyBytes(mirror.Get(), plain);
      EXPECT_EQ(fromPlain, ApplyBytes(mirror.Get(), rle)) << sample.name << " mirror " << direction;
      if (direction == 0) {
        EXPECT_EQ(sample.plain, fromPlain);
      }
    }
    LONG kept = 0;
    ASSERT_EQ(S_OK, mirror->get_PreHnd(&kept));
    EXPECT_EQ(sample.rle, Bytes(kept)) << "m_preHnd keeps the source as it was";
    FreeBlocks({rle, plain});
  }
}

// ---- Pictures with alpha ----------------------------------------------------

namespace {

// A w x h bottom-up block of 32 bits whose fourth bytes are alpha (varied,
// 0 and 255 included), or of 24 bits holding its colours alone.
std::vector<uint8_t> AlphaPictureBytes(int32_t w, int32_t h, bool alpha) {
  const int32_t bytes = alpha ? 4 : 3;
  const uint32_t stride = (static_cast<uint32_t>(w) * bytes + 3) & ~3u;
  std::vector<uint8_t> b(40 + stride * h);
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(b.data());
  *header = {40, w, h, 1, static_cast<WORD>(bytes * 8), BI_RGB, stride * h, 2835, 2835, 0, 0};
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = b.data() + 40 + static_cast<size_t>(h - 1 - y) * stride + bytes * x;
      p[0] = static_cast<uint8_t>(30 + 9 * x), p[1] = static_cast<uint8_t>(200 - 11 * y), p[2] = (x + y) % 3 ? 90 : 240;
      if (alpha) p[3] = static_cast<uint8_t>(x == 0 ? 0 : x == 1 ? 255 : (x * 37 + y * 71) % 256);
    }
  return b;
}

// Pixel (x, y), from the top, of a bottom-up block of 24 or 32 bits as
// B, G, R and alpha (255 at 24 bits).
std::array<uint8_t, 4> PixelOf(const std::vector<uint8_t>& b, int32_t x, int32_t y) {
  const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(b.data());
  const int32_t bytes = h->biBitCount / 8;
  const uint32_t stride = (static_cast<uint32_t>(h->biWidth) * bytes + 3) & ~3u;
  const uint8_t* p = b.data() + h->biSize + static_cast<size_t>(h->biHeight - 1 - y) * stride + bytes * x;
  return {p[0], p[1], p[2], bytes == 4 ? p[3] : uint8_t(255)};
}

}  // namespace

TEST(AlphaPictures, ToneAndColourModifiersWorkOnTheColoursAndLeaveAlpha) {
  ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
  bright->put_Brightness(30);
  ComPtr<IContrast> contrast = Make<IContrast>(CLSID_Contrast);
  contrast->put_Contrast(40);
  ComPtr<IAdjustColorModifier> adjust = Make<IAdjustColorModifier>(CLSID_AdjustColorModifier);
  adjust->put_Hue(120);
  ComPtr<ISharpModifier> sharp = Make<ISharpModifier>(CLSID_SharpModifier);
  sharp->put_Level(8);
  ComPtr<IRedEye> redEye = Make<IRedEye>(CLSID_RedEye);
  redEye->put_RectWidth(9);
  redEye->put_RectHeight(6);
  const std::pair<const char*, IPictureModifier*> modifiers[] = {
      {"Bright", bright.Get()}, {"Contrast", contrast.Get()}, {"AdjustColor", adjust.Get()},
      {"Sharp", sharp.Get()},   {"RedEye", redEye.Get()}};
  const int32_t w = 9, h = 6;
  const std::vector<uint8_t> source = AlphaPictureBytes(w, h, true);
  const int32_t withAlpha = BlockOf(source), colours = BlockOf(AlphaPictureBytes(w, h, false));
  for (const auto& [name, m] : modifiers) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> got = ApplyBytes(m, withAlpha), plain = ApplyBytes(m, colours);
    ASSERT_FALSE(got.empty());
    ASSERT_EQ(32, reinterpret_cast<const BITMAPINFOHEADER*>(got.data())->biBitCount);
    bool changed = false;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const auto p = PixelOf(got, x, y), q = PixelOf(plain, x, y), s = PixelOf(source, x, y);
        EXPECT_EQ(s[3], p[3]) << "alpha at " << x << "," << y;
        EXPECT_EQ(0, std::memcmp(p.data(), q.data(), 3)) << "colours as of the opaque picture at " << x << "," << y;
        changed |= std::memcmp(p.data(), s.data(), 3) != 0;
      }
    EXPECT_TRUE(changed);
  }
  FreeBlocks({withAlpha, colours});
}

TEST(AlphaPictures, MirrorCropZoomRotateAndBlurKeepAlpha) {
  const int32_t w = 9, h = 6;
  const std::vector<uint8_t> source = AlphaPictureBytes(w, h, true);
  const int32_t block = BlockOf(source);
  ComPtr<IMirrorModifier> mirror = Make<IMirrorModifier>(CLSID_MirrorModifier);
  mirror->put_Direction(1);
  ComPtr<ICrop> crop = Make<ICrop>(CLSID_Crop);
  crop->put_RectLeft(2);
  crop->put_RectTop(1);
  crop->put_RectWidth(9);  // one column past the picture: transparent
  crop->put_RectHeight(4);
  ComPtr<IRotateModifier> rotate = Make<IRotateModifier>(CLSID_RotateModifier);
  rotate->put_Angle(90);
  // Exact moves: where each result pixel comes from, or none (transparent).
  struct Move {
    const char* name;
    IPictureModifier* m;
    int32_t w, h;
    std::function<std::pair<int32_t, int32_t>(int32_t, int32_t)> from;
  };
  const Move moves[] = {
      {"Mirror", mirror.Get(), w, h, [&](int32_t x, int32_t y) { return std::pair{w - 1 - x, y}; }},
      {"Crop", crop.Get(), 9, 4, [](int32_t x, int32_t y) { return std::pair{x + 2, y + 1}; }},
      {"Rotate90", rotate.Get(), h, w, [&](int32_t x, int32_t y) { return std::pair{y, h - 1 - x}; }},
  };
  for (const Move& move : moves) {
    SCOPED_TRACE(move.name);
    const std::vector<uint8_t> got = ApplyBytes(move.m, block);
    ASSERT_FALSE(got.empty());
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(got.data());
    ASSERT_EQ(32, header->biBitCount);
    ASSERT_EQ(move.w, header->biWidth);
    ASSERT_EQ(move.h, header->biHeight);
    for (int32_t y = 0; y < move.h; ++y)
      for (int32_t x = 0; x < move.w; ++x) {
        const auto [sx, sy] = move.from(x, y);
        const std::array<uint8_t, 4> want = sx < w ? PixelOf(source, sx, sy) : std::array<uint8_t, 4>{};
        EXPECT_EQ(want, PixelOf(got, x, y)) << x << "," << y;
      }
  }
  // Filters: still alpha, the transparent column still clear and the
  // opaque one still opaque down the middle.
  ComPtr<IZoom> zoom = Make<IZoom>(CLSID_Zoom);
  zoom->put_Width(18);
  zoom->put_Height(12);
  ComPtr<IBlurModifier> blur = Make<IBlurModifier>(CLSID_BlurModifier);
  blur->put_Level(2);
  for (IPictureModifier* m : {static_cast<IPictureModifier*>(zoom.Get()), static_cast<IPictureModifier*>(blur.Get())}) {
    const std::vector<uint8_t> got = ApplyBytes(m, block);
    ASSERT_FALSE(got.empty());
    ASSERT_EQ(32, reinterpret_cast<const BITMAPINFOHEADER*>(got.data())->biBitCount);
    const int32_t gh = reinterpret_cast<const BITMAPINFOHEADER*>(got.data())->biHeight;
    EXPECT_LT(PixelOf(got, 0, gh / 2)[3], 128);
  }
  FreeBlocks({block});
}

// Text on a picture with alpha: what the text covers becomes more opaque,
// everything else keeps its colour and alpha.
TEST(AlphaPictures, TextIsLaidOverAndTheRestKeepsItsAlpha) {
  const int32_t w = 40, h = 24;
  const std::vector<uint8_t> source = AlphaPictureBytes(w, h, true);
  const int32_t block = BlockOf(source);
  ComPtr<IAddText> text = Make<IAddText>(CLSID_AddText);
  text->put_Text(Bstr(L"W"));
  text->put_X(4);
  text->put_Y(2);
  text->put_ForeColor(0x000000FF);
  const std::vector<uint8_t> got = ApplyBytes(text.Get(), block);
  ASSERT_FALSE(got.empty());
  ASSERT_EQ(32, reinterpret_cast<const BITMAPINFOHEADER*>(got.data())->biBitCount);
  int covered = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const auto p = PixelOf(got, x, y), s = PixelOf(source, x, y);
      if (p == s) continue;
      ++covered;
      EXPECT_GE(p[3], s[3]) << x << "," << y;
    }
  EXPECT_GT(covered, 10);
  EXPECT_EQ(PixelOf(source, w - 1, h - 1), PixelOf(got, w - 1, h - 1));
  FreeBlocks({block});
}
