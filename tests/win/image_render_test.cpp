// ImageRender through its vtable: StretchDIBits into memory contexts, read
// back from their DIB sections.
#include <cstring>
#include <vector>

#include "core/packed_dib.h"
#include "core/picture_block.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

// A memory context over a top-down 32-bit DIB section of w x h, filled with
// one colour, whose pixels the test reads back.
class MemoryCanvas {
 public:
  MemoryCanvas(int w, int h, uint32_t fill = 0x00123456) : m_w(w), m_h(h) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    m_section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
    m_dc = CreateCompatibleDC(nullptr);
    m_old = SelectObject(m_dc, m_section);
    for (int i = 0; i < w * h; ++i) static_cast<uint32_t*>(m_bits)[i] = fill;
    SetStretchBltMode(m_dc, COLORONCOLOR);
  }
  ~MemoryCanvas() {
    SelectObject(m_dc, m_old);
    DeleteDC(m_dc);
    DeleteObject(m_section);
  }
  LONG dc() const { return static_cast<LONG>(reinterpret_cast<intptr_t>(m_dc)); }
  HDC hdc() const { return m_dc; }
  uint32_t At(int x, int y) const {
    GdiFlush();
    return static_cast<const uint32_t*>(m_bits)[y * m_w + x] & 0xFFFFFF;
  }
  std::vector<uint32_t> All() const {
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(m_bits);
    std::vector<uint32_t> out(p, p + m_w * m_h);
    for (uint32_t& c : out) c &= 0xFFFFFF;
    return out;
  }

 private:
  int m_w, m_h;
  void* m_bits = nullptr;
  HBITMAP m_section;
  HDC m_dc;
  HGDIOBJ m_old;
};

ComPtr<IImageRender> NewRender() { return Make<IImageRender>(CLSID_ImageRender); }

// An 8-bit block of w x h with biClrUsed 0 (a full table of 256 entries);
// entry i is colour(i), pixel (x, y) from the top-left holds index(x, y).
template <class C, class I>
int32_t PaletteBlock(int32_t w, int32_t h, C colour, I index) {
  const uint32_t stride = (static_cast<uint32_t>(w) + 3) & ~3u;
  NewDib dib(w, h, 8, 1024 + stride * h);
  uint8_t* p = dib.bytes();
  for (int i = 0; i < 256; ++i) {
    const uint32_t c = colour(i);
    p[40 + 4 * i] = c & 0xFF;
    p[40 + 4 * i + 1] = (c >> 8) & 0xFF;
    p[40 + 4 * i + 2] = (c >> 16) & 0xFF;
  }
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) p[40 + 1024 + (h - 1 - y) * stride + x] = static_cast<uint8_t>(index(x, y));
  return dib.Done();
}

}  // namespace

TEST(ImageRender, DrawHandleReturnsTheScanLinesAndLeavesHalftoneSet) {
  const int32_t block = MakeBlock(6, 4, [](int32_t x, int32_t y) { return static_cast<uint32_t>(0x102030 * (x + 1) + 0x010101 * y); });
  MemoryCanvas canvas(10, 8);
  ComPtr<IImageRender> render = NewRender();
  const HRESULT lines = render->DrawHandle(block, canvas.dc(), 2, 1, 6, 4, 0, 0, 6, 4);
  EXPECT_EQ(4, lines) << "the scan-line count, not S_OK";
  EXPECT_EQ(HALFTONE, GetStretchBltMode(canvas.hdc()));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(static_cast<uint32_t>(0x102030 * (x + 1) + 0x010101 * y), canvas.At(2 + x, 1 + y)) << x << "," << y;
  EXPECT_EQ(0x123456u, canvas.At(0, 0)) << "outside the destination";
  EXPECT_EQ(0x123456u, canvas.At(8, 5));
  FreeBlocks({block});
}

TEST(ImageRender, DrawPictureAndDrawHandleDrawTheSamePixels) {
  const int32_t block = PhotoLike(60, 40);
  ComPtr<IVuPicture> picture = NewPicture();
  ASSERT_EQ(S_OK, picture->AttachImage(qb::DuplicateDib(block)));
  ComPtr<IImageRender> render = NewRender();
  struct Case {
    LONG x, y, w, h, sx, sy, sw, sh;
  } cases[] = {{0, 0, 60, 40, 0, 0, 60, 40}, {5, 3, 37, 23, 0, 0, 60, 40}, {0, 0, 90, 70, 10, 5, 30, 20},
               {59, 0, -60, 40, 0, 0, 60, 40}};
  for (const Case& c : cases) {
    MemoryCanvas a(100, 80), b(100, 80);
    const HRESULT byHandle = render->DrawHandle(block, a.dc(), c.x, c.y, c.w, c.h, c.sx, c.sy, c.sw, c.sh);
    const HRESULT byPicture = render->DrawPicture(picture.Get(), b.dc(), c.x, c.y, c.w, c.h, c.sx, c.sy, c.sw, c.sh);
    EXPECT_GT(byHandle, 0);
    EXPECT_EQ(byHandle, byPicture);
    EXPECT_EQ(a.All(), b.All()) << c.w << "x" << c.h;
    EXPECT_NE(MemoryCanvas(100, 80).All(), a.All()) << "something was drawn";
    EXPECT_EQ(HALFTONE, GetStretchBltMode(b.hdc()));
  }
  FreeBlocks({block});
}

TEST(ImageRender, RowsFollowTheRealColourTable) {
  // An 8-bit block with biClrUsed 0 has 256 entries: its rows start at
  // 40 + 1024, not at 40.
  const int32_t palette = PaletteBlock(
      8, 4, [](int i) { return static_cast<uint32_t>((i * 37) & 0xFF) << 16 | static_cast<uint32_t>(255 - i) << 8 | 0x40; },
      [](int32_t x, int32_t y) { return x * 4 + y * 32 + 3; });
  // A 32-bit block with a 40-byte BI_BITFIELDS header: three masks, then
  // rows (red in the low byte).
  const uint32_t w = 4, h = 2;
  NewDib dib(w, h, 32, 12 + w * h * 4);
  uint8_t* p = dib.bytes();
  dib.header()->biCompression = BI_BITFIELDS;
  const uint32_t masks[3] = {0x000000FF, 0x0000FF00, 0x00FF0000};
  std::memcpy(p + 40, masks, 12);
  for (uint32_t i = 0; i < w * h; ++i) reinterpret_cast<uint32_t*>(p + 52)[i] = 0x00102000u | (i * 16);  // r = i*16
  const int32_t fields = dib.Done();

  ComPtr<IImageRender> render = NewRender();
  MemoryCanvas a(8, 4);
  EXPECT_EQ(4, render->DrawHandle(palette, a.dc(), 0, 0, 8, 4, 0, 0, 8, 4));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      const int i = x * 4 + y * 32 + 3;
      EXPECT_EQ(static_cast<uint32_t>((i * 37) & 0xFF) << 16 | static_cast<uint32_t>(255 - i) << 8 | 0x40, a.At(x, y));
    }
  MemoryCanvas b(4, 2);
  EXPECT_EQ(2, render->DrawHandle(fields, b.dc(), 0, 0, 4, 2, 0, 0, 4, 2));
  // Row 0 in memory is the bottom row; 0x00BBGGRR in memory is red i*16.
  for (uint32_t i = 0; i < w * h; ++i)
    EXPECT_EQ((i * 16) << 16 | 0x2000u | 0x10u, b.At(i % w, h - 1 - i / w)) << i;
  FreeBlocks({palette, fields});
}

TEST(ImageRender, NothingToDrawReturnsZeroAndDrawsNothing) {
  // A block whose header claims 100 x 100 but which holds 16 rows' worth.
  const int32_t shortBlock = MakeBlock(100, 16, [](int32_t, int32_t) { return 0xFF0000u; });
  auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(AsHGlobal(shortBlock)));
  header->biHeight = 100;
  GlobalUnlock(AsHGlobal(shortBlock));
  ComPtr<IImageRender> render = NewRender();
  ComPtr<IVuPicture> empty = NewPicture();
  const MemoryCanvas blank(20, 20);
  for (LONG handle : {0L, -5L, static_cast<LONG>(shortBlock)}) {
    MemoryCanvas canvas(20, 20);
    EXPECT_EQ(0, render->DrawHandle(handle, canvas.dc(), 0, 0, 20, 20, 0, 0, 10, 10)) << handle;
    EXPECT_EQ(blank.All(), canvas.All()) << handle;
  }
  MemoryCanvas canvas(20, 20);
  EXPECT_EQ(0, render->DrawPicture(empty.Get(), canvas.dc(), 0, 0, 20, 20, 0, 0, 10, 10));
  EXPECT_EQ(0, render->DrawPicture(nullptr, canvas.dc(), 0, 0, 20, 20, 0, 0, 10, 10));
  EXPECT_EQ(blank.All(), canvas.All());
  LONG reserved = kMarker;
  EXPECT_EQ(S_OK, render->get_Reserved(&reserved));
  EXPECT_EQ(kMarker, reserved) << "Reserved writes nothing";
  FreeBlocks({shortBlock});
}

// RLE8 and RLE4 blocks go to GDI as they are written and draw what the
// plain picture of the same indices draws; a stream that is cut short or
// leaves its picture draws nothing.
TEST(ImageRender, RleBlocksDrawAsThePlainPicture) {
  ComPtr<IImageRender> render = NewRender();
  for (const RleSample& sample : RleSamples()) {
    const int32_t rle = BlockOf(sample.rle), plain = BlockOf(sample.plain);
    MemoryCanvas fromRle(10, 6), fromPlain(10, 6);
    EXPECT_EQ(render->DrawHandle(plain, fromPlain.dc(), 0, 0, 10, 6, 0, 0, 5, 3),
              render->DrawHandle(rle, fromRle.dc(), 0, 0, 10, 6, 0, 0, 5, 3)) << sample.name;
    EXPECT_NE(MemoryCanvas(10, 6).All(), fromPlain.All());
    EXPECT_EQ(fromPlain.All(), fromRle.All()) << sample.name;

    std::vector<uint8_t> cut = sample.rle;
    cut.resize(cut.size() - 2);  // no end of bitmap
    std::vector<uint8_t> wide = sample.rle;
    wide[sample.streamOffset] = 9;  // a first run past the row's 8 pixels
    for (const auto& broken : {cut, wide}) {
      const int32_t block = BlockOf(broken);
      MemoryCanvas canvas(10, 6);
      EXPECT_EQ(0, render->DrawHandle(block, canvas.dc(), 0, 0, 10, 6, 0, 0, 5, 3)) << sample.name;
      EXPECT_EQ(MemoryCanvas(10, 6).All(), canvas.All());
      FreeBlocks({block});
    }
    FreeBlocks({rle, plain});
  }
}

// Windows has no alpha in a device context, CF_DIB or a device bitmap: a
// picture with alpha is drawn and copied as it looks on white, and the
// fourth bytes of a pasted CF_DIB are not read as alpha.
TEST(ImageRender, APictureWithAlphaIsDrawnAndCopiedAsOnWhite) {
  // A clear and a half-covered red pixel: (B, G, R, A).
  std::vector<uint8_t> bytes(40 + 8);
  const BITMAPINFOHEADER header = {40, 2, 1, 1, 32, BI_RGB, 8, 0, 0, 0, 0};
  std::memcpy(bytes.data(), &header, 40);
  const uint8_t pixels[8] = {0, 0, 200, 0, 0, 0, 200, 128};
  std::memcpy(bytes.data() + 40, pixels, 8);
  const int32_t block = BlockOf(bytes);
  MemoryCanvas canvas(2, 1, 0);
  EXPECT_EQ(1, NewRender()->DrawHandle(block, canvas.dc(), 0, 0, 2, 1, 0, 0, 2, 1));
  // (c a + 255 (255 - a) + 127) / 255 in each channel.
  EXPECT_EQ(0xFFFFFFu, canvas.At(0, 0));
  EXPECT_EQ(0xE37F7Fu, canvas.At(1, 0));

  ComPtr<IVuPicture> picture = NewPicture();
  ASSERT_EQ(S_OK, picture->AttachImage(qb::PictureBlock::CopyOf(block).release()));
  ASSERT_EQ(S_OK, picture->CopyToClipboard());
  ASSERT_TRUE(OpenClipboard(nullptr));
  const std::vector<uint8_t> copied = Bytes(AsHandle(GetClipboardData(CF_DIB)));
  ASSERT_GE(copied.size(), 48u);
  EXPECT_EQ(24, reinterpret_cast<const BITMAPINFOHEADER*>(copied.data())->biBitCount);
  EXPECT_EQ((std::vector<uint8_t>{255, 255, 255, 127, 127, 227}), std::vector<uint8_t>(copied.begin() + 40, copied.begin() + 46));

  // The same block put on the clipboard as it is pastes opaque, colours kept.
  EmptyClipboard();
  ASSERT_NE(nullptr, SetClipboardData(CF_DIB, AsHGlobal(qb::PictureBlock::CopyOf(block).release())));
  CloseClipboard();
  ComPtr<IVuPicture> pasted = NewPicture();
  ASSERT_EQ(S_OK, pasted->PasteFromClipboard());
  LONG bits = 0, handle = 0;
  pasted->get_BitCount(&bits);
  pasted->get_Handle(&handle);
  EXPECT_EQ(24, bits);
  const std::vector<uint8_t> opaque = Bytes(handle);
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 200, 0, 0, 200}), std::vector<uint8_t>(opaque.begin() + 40, opaque.begin() + 46));
  FreeBlocks({block});
}
