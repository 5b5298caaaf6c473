// Rastrum.dll as the server calls it: through the import library, with
// global blocks, real files in a scratch folder and GDI text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <vfw.h>

#include "rastrum/rastrum.h"
#include "rastrum/portable/rastrum_errors.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

double MeanAbsoluteDifference(const Pixels& a, const Pixels& b) {
  double sum = 0;
  for (size_t i = 0; i < a.bgr.size(); ++i) sum += std::abs(int(a.bgr[i]) - int(b.bgr[i]));
  return sum / a.bgr.size();
}

}  // namespace

TEST(Rastrum, EveryWrittenFormatDecodesBack) {
  ScratchFolder scratch(L"rastrum-test-");
  const int32_t source = PhotoLike(61, 37);
  const Pixels original = Read(source);
  struct Case {
    const char* name;
    bool exact;
  } cases[] = {{"a.bmp", true}, {"b.PNG", true}, {"c.tga", true}, {"d.jpg", false},
               {"e.JPEG", false}, {"f.jpe", false}, {"g.jfif", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch.PathA(c.name);
    ASSERT_GT(NimboSaveAsFile(source, path.c_str()), 0);
    int32_t loaded = NimboLoadFile(path.c_str());
    ASSERT_GT(loaded, 0);
    Pixels back = Read(loaded);
    EXPECT_EQ(24, back.bits);
    EXPECT_EQ(original.w, back.w);
    EXPECT_EQ(original.h, back.h);
    if (c.exact)
      EXPECT_EQ(original.bgr, back.bgr);
    else
      EXPECT_LT(MeanAbsoluteDifference(original, back), 3.0);
    FreeBlocks({loaded});
  }
  EXPECT_EQ(7u, ScratchFolder::Names(scratch.dir()).size()) << "no temporary file is left beside the targets";
  FreeBlocks({source});
}

TEST(Rastrum, BlocksAreNewMovableBlocksAndInputsStayUntouched) {
  const int32_t source = PhotoLike(40, 30);
  const std::vector<uint8_t> before = Bytes(source);
  AddTextRecord record = {};
  record.text = L"x";
  record.font.lfHeight = -12;
  lstrcpyW(record.font.lfFaceName, L"Tahoma");
  const int32_t results[] = {NimboResize(20, 10, source, 0), NimboResize(80, 60, source, 1),
                             NimboRotate(90, source),        NimboRotate(30, source),
                             NimboBlur(10, source),          NimboAddText(&record, source),
                             NimboAddFrame(source, 0, 0, 0), NimboAddPic(3, 4, source, source, 0)};
  for (int32_t r : results) {
    ASSERT_GT(r, 0);
    EXPECT_NE(source, r);
    HGLOBAL g = reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(r));
    void* p = GlobalLock(g);
    EXPECT_NE(static_cast<void*>(g), p) << "a movable block's handle is not its address";
    EXPECT_EQ(g, GlobalHandle(p));
    GlobalUnlock(g);
    EXPECT_EQ(24, Read(r).bits);
  }
  EXPECT_EQ(20, Read(results[0]).w);
  EXPECT_EQ(10, Read(results[0]).h);
  EXPECT_EQ(30, Read(results[2]).w);
  EXPECT_EQ(40, Read(results[2]).h);
  for (int32_t r : results) FreeBlocks({r});
  EXPECT_EQ(before, Bytes(source));
  FreeBlocks({source});
}

TEST(Rastrum, LoadFailuresHaveTheirValues) {
  ScratchFolder scratch(L"rastrum-test-");
  EXPECT_EQ(rastrum::kBadArgument, NimboLoadFile(nullptr));
  EXPECT_EQ(rastrum::kCannotOpen, NimboLoadFile(scratch.PathA("missing.jpg").c_str()));
  CreateDirectoryA(scratch.PathA("folder.png").c_str(), nullptr);
  EXPECT_EQ(rastrum::kCannotOpen, NimboLoadFile(scratch.PathA("folder.png").c_str()));
  RemoveDirectoryA(scratch.PathA("folder.png").c_str());
  scratch.Write(L"empty.jpg", {});
  EXPECT_EQ(rastrum::kCorruptData, NimboLoadFile(scratch.PathA("empty.jpg").c_str()));
  scratch.Write(L"text.png", std::vector<uint8_t>(100, 'a'));
  EXPECT_LT(NimboLoadFile(scratch.PathA("text.png").c_str()), 0);

  // A JPEG cut in half.
  const int32_t source = PhotoLike(64, 64);
  ASSERT_GT(NimboSaveAsFile(source, scratch.PathA("whole.jpg").c_str()), 0);
  std::vector<uint8_t> jpeg = scratch.Read(L"whole.jpg");
  jpeg.resize(jpeg.size() / 2);
  scratch.Write(L"half.jpg", jpeg);
  EXPECT_EQ(rastrum::kCorruptData, NimboLoadFile(scratch.PathA("half.jpg").c_str()));

  // A PNG whose first chunk fails its CRC.
  ASSERT_GT(NimboSaveAsFile(source, scratch.PathA("whole.png").c_str()), 0);
  std::vector<uint8_t> png = scratch.Read(L"whole.png");
  png[29] ^= 0xFF;  // inside IHDR's CRC
  scratch.Write(L"crc.png", png);
  EXPECT_EQ(rastrum::kCorruptData, NimboLoadFile(scratch.PathA("crc.png").c_str()));

  // A BMP whose header claims 60000 x 60000 pixels.
  ASSERT_GT(NimboSaveAsFile(source, scratch.PathA("whole.bmp").c_str()), 0);
  std::vector<uint8_t> bmp = scratch.Read(L"whole.bmp");
  for (int offset : {18, 22}) {
    bmp[offset] = 0x60;
    bmp[offset + 1] = 0xEA;
    bmp[offset + 2] = 0;
    bmp[offset + 3] = 0;
  }
  scratch.Write(L"huge.bmp", bmp);
  int32_t huge = NimboLoadFile(scratch.PathA("huge.bmp").c_str());
  EXPECT_TRUE(huge == rastrum::kCorruptData || huge == rastrum::kTooLarge) << huge;
  FreeBlocks({source});
}

// The memory forms decode and encode exactly as the file forms do, with
// the same failure values; the encoded block is the file's length, then
// its bytes, and the quality reaches the JPEG encoder.
TEST(Rastrum, MemoryFormsMatchTheFileForms) {
  ScratchFolder scratch(L"rastrum-test-");
  const int32_t source = PhotoLike(33, 21);
  for (const char* name : {"a.png", "b.jpg", "c.bmp"}) {
    SCOPED_TRACE(name);
    ASSERT_GT(NimboSaveAsFile(source, scratch.PathA(name).c_str()), 0);
    const std::vector<uint8_t> file = scratch.Read(std::wstring(name, name + 5));
    const int32_t encoded = NimboSaveAsMemory(source, name, 90);
    ASSERT_GT(encoded, 0);
    const std::vector<uint8_t> block = Bytes(encoded);
    ASSERT_GE(block.size(), 4 + file.size());
    uint32_t length = 0;
    std::memcpy(&length, block.data(), 4);
    EXPECT_EQ(file.size(), length);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), block.begin() + 4));
    const int32_t fromFile = NimboLoadFile(scratch.PathA(name).c_str());
    const int32_t fromMemory = NimboLoadMemory(file.data(), static_cast<uint32_t>(file.size()));
    ASSERT_GT(fromMemory, 0);
    EXPECT_EQ(Read(fromFile).bgr, Read(fromMemory).bgr);
    FreeBlocks({encoded, fromFile, fromMemory});
  }
  const int32_t low = NimboSaveAsMemory(source, "d.jpg", 10), high = NimboSaveAsMemory(source, "e.jpg", 100);
  ASSERT_GT(low, 0);
  ASSERT_GT(high, 0);
  EXPECT_LT(Bytes(low).size(), Bytes(high).size());
  FreeBlocks({low, high});
  const uint8_t text[] = "plain text, not a picture";
  EXPECT_EQ(rastrum::kUnknownFormat, NimboLoadMemory(text, sizeof text));
  EXPECT_EQ(rastrum::kCorruptData, NimboLoadMemory(text, 0));
  EXPECT_EQ(rastrum::kUnknownFormat, NimboSaveAsMemory(source, "f.gif", 90));
  EXPECT_EQ(rastrum::kBadArgument, NimboSaveAsMemory(source, "g.jpg", 0));
  EXPECT_EQ(rastrum::kBadArgument, NimboSaveAsMemory(0, "h.png", 90));
  FreeBlocks({source});
}

TEST(Rastrum, AFailedSaveLeavesTheFileThatWasThere) {
  ScratchFolder scratch(L"rastrum-test-");
  const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};
  const int32_t source = PhotoLike(16, 16);

  scratch.Write(L"keep.gif", old);
  EXPECT_EQ(rastrum::kUnknownFormat, NimboSaveAsFile(source, scratch.PathA("keep.gif").c_str()));
  EXPECT_EQ(old, scratch.Read(L"keep.gif"));

  scratch.Write(L"locked.png", old);
  SetFileAttributesA(scratch.PathA("locked.png").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_LT(NimboSaveAsFile(source, scratch.PathA("locked.png").c_str()), 0);
  EXPECT_EQ(old, scratch.Read(L"locked.png"));

  scratch.Write(L"bad.bmp", old);
  EXPECT_EQ(rastrum::kBadArgument, NimboSaveAsFile(0, scratch.PathA("bad.bmp").c_str()));
  EXPECT_EQ(rastrum::kBadArgument, NimboSaveAsFile(-2, scratch.PathA("bad.bmp").c_str()));
  EXPECT_EQ(old, scratch.Read(L"bad.bmp"));

  EXPECT_EQ(rastrum::kCannotWrite,
            NimboSaveAsFile(source, scratch.PathA("no\\such\\folder\\x.png").c_str()));
  EXPECT_EQ(3u, ScratchFolder::Names(scratch.dir()).size()) << "no temporary file is left behind";
  FreeBlocks({source});
}

TEST(Rastrum, PaletteBmpKeepsItsTableAndIndices) {
  ScratchFolder scratch(L"rastrum-test-");
  // An 8-bit block: 5 x 3, four colours.
  const uint32_t stride = 8;
  NewDib dib(5, 3, 8, 256 * 4 + stride * 3);
  uint8_t* p = dib.bytes();
  const uint8_t table[4][4] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {10, 20, 30, 0}};
  std::memcpy(p + 40, table, sizeof(table));
  for (int i = 0; i < 15; ++i) p[40 + 1024 + (i / 5) * stride + i % 5] = static_cast<uint8_t>(i % 4);
  const int32_t block = dib.Done();

  ASSERT_GT(NimboSaveAsFile(block, scratch.PathA("p.bmp").c_str()), 0);
  const int32_t loaded = NimboLoadFile(scratch.PathA("p.bmp").c_str());
  ASSERT_GT(loaded, 0);
  std::vector<uint8_t> back = Bytes(loaded);
  auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(back.data());
  EXPECT_EQ(8, h->biBitCount);
  EXPECT_EQ(0, std::memcmp(back.data() + 40, table, sizeof(table)));
  const uint32_t tableBytes = 4 * (h->biClrUsed ? h->biClrUsed : 256);
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(i % 4, back[40 + tableBytes + (i / 5) * stride + i % 5]) << "pixel " << i;

  // Formats that need 24 bits get the palette's colours.
  ASSERT_GT(NimboSaveAsFile(block, scratch.PathA("p.png").c_str()), 0);
  const int32_t png = NimboLoadFile(scratch.PathA("p.png").c_str());
  Pixels px = Read(png);
  ASSERT_EQ(24, px.bits);
  // Memory row r holds indices 5r..5r+4 and is the picture's row 2 - r.
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(table[((2 - y) * 5 + x) % 4][c], px.At(x, y)[c]) << x << "," << y;
  FreeBlocks({png});
  FreeBlocks({loaded});
  FreeBlocks({block});
}

TEST(Rastrum, TextIsDrawnInsideItsBoxInItsColour) {
  const int32_t w = 160, h = 60;
  const int32_t source = MakeBlock(w, h, [](int32_t, int32_t) { return 0x000000u; });
  AddTextRecord record = {};
  record.text = L"Quill";
  record.font.lfHeight = -24;
  record.font.lfWeight = FW_BOLD;
  lstrcpyW(record.font.lfFaceName, L"Tahoma");
  record.color = RGB(255, 255, 0);
  record.x = 12;
  record.y = 7;
  const int32_t drawn = NimboAddText(&record, source);
  ASSERT_GT(drawn, 0);

  // The box the text occupies, measured with the same font.
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateFontIndirectW(&record.font);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE extent;
  GetTextExtentPoint32W(dc, record.text, 5, &extent);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);

  Pixels px = Read(drawn);
  int changed = 0, full = 0;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* c = &px.bgr[(y * w + x) * 3];
      if (c[0] == 0 && c[1] == 0 && c[2] == 0) continue;
      ++changed;
      EXPECT_TRUE(x >= record.x && x < record.x + extent.cx && y >= record.y && y < record.y + extent.cy)
          << "pixel changed outside the text box at " << x << "," << y;
      EXPECT_EQ(0, c[0]) << "a yellow text over black has no blue";
      EXPECT_EQ(c[1], c[2]) << "and equal red and green";
      if (c[1] == 255) ++full;
    }
  }
  EXPECT_GT(changed, 50);
  EXPECT_GT(full, 10) << "the text takes its colour";

  // No text: an unchanged copy.
  record.text = L"";
  const int32_t copy = NimboAddText(&record, source);
  EXPECT_EQ(Bytes(source), Bytes(copy));
  const int32_t copy2 = NimboAddText(nullptr, source);
  EXPECT_EQ(Bytes(source), Bytes(copy2));
  FreeBlocks({drawn, copy, copy2, source});
}

TEST(Rastrum, GreyInPlaceAndOverlayThroughAMask) {
  const int32_t base = MakeBlock(8, 8, [](int32_t, int32_t) { return 0x000000u; });
  const int32_t overlay = MakeBlock(4, 4, [](int32_t, int32_t) { return 0xFFFFFFu; });
  const int32_t mask = MakeBlock(4, 4, [](int32_t x, int32_t) { return x < 2 ? 0xFF0000u : 0x0000FFu; });
  EXPECT_EQ(1, NimboTrueClr2Gray(mask));
  Pixels grey = Read(mask);
  EXPECT_EQ(76, grey.bgr[0]) << "BT.601 luma of pure red";
  EXPECT_EQ(29, grey.bgr[3 * 3]) << "and of pure blue";
  const int32_t result = NimboAddPic(6, -2, base, overlay, mask);
  ASSERT_GT(result, 0);
  Pixels px = Read(result);
  // Only the overlay's first two columns and bottom two rows land inside.
  EXPECT_EQ(76, px.bgr[(0 * 8 + 6) * 3]);
  EXPECT_EQ(76, px.bgr[(1 * 8 + 7) * 3]);
  EXPECT_EQ(0, px.bgr[(2 * 8 + 6) * 3]);
  EXPECT_EQ(0, px.bgr[(0 * 8 + 5) * 3]);
  FreeBlocks({base, overlay, mask, result});
}

namespace {

// White text on black, drawn by the library: the grey level of each pixel.
struct Ink {
  int32_t w = 0, h = 0;
  std::vector<uint8_t> level;
  uint8_t At(int32_t x, int32_t y) const { return level[static_cast<size_t>(y) * w + x]; }
  // Rows that hold ink, and whether any pixel is neither black nor white.
  int Rows() const {
    int rows = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        if (At(x, y)) {
          ++rows;
          break;
        }
    return rows;
  }
  bool Smoothed() const {
    return std::any_of(level.begin(), level.end(), [](uint8_t v) { return v != 0 && v != 255; });
  }
};

Ink DrawWhite(const wchar_t* text, const wchar_t* face, LONG height, BYTE quality = DEFAULT_QUALITY) {
  const int32_t source = MakeBlock(120, 90, [](int32_t, int32_t) { return 0u; });
  AddTextRecord record = {};
  record.text = text;
  record.font.lfHeight = height;
  record.font.lfQuality = quality;
  lstrcpyW(record.font.lfFaceName, face);
  record.color = RGB(255, 255, 255);
  record.x = 4;
  record.y = 2;
  const int32_t drawn = NimboAddText(&record, source);
  Ink ink;
  if (drawn > 0) {
    const Pixels px = Read(drawn);
    ink.w = px.w;
    ink.h = px.h;
    for (size_t i = 0; i < px.bgr.size(); i += 3) ink.level.push_back(px.bgr[i + 1]);
  }
  FreeBlocks({drawn, source});
  return ink;
}

}  // namespace

// A bitmap font is drawn as it is where it has the size asked for (GDI
// cannot smooth it); where it has not, an outline font of its family is
// drawn at that size, smoothed. Outline fonts are smoothed unless the font
// asks otherwise.
TEST(Rastrum, TextHasItsSizeAndIsSmoothedWhereGdiCan) {
  const Ink fitting = DrawWhite(L"H", L"MS Sans Serif", -13);
  EXPECT_FALSE(fitting.Smoothed());
  EXPECT_GE(fitting.Rows(), 8);
  EXPECT_LE(fitting.Rows(), 13);
  const Ink large = DrawWhite(L"H", L"MS Sans Serif", -40);
  EXPECT_TRUE(large.Smoothed());
  EXPECT_GE(large.Rows(), 26) << "the capital of a 40-pixel em";
  EXPECT_LE(large.Rows(), 34);
  EXPECT_TRUE(DrawWhite(L"Hg", L"Tahoma", -24).Smoothed());
  EXPECT_FALSE(DrawWhite(L"Hg", L"Tahoma", -24, NONANTIALIASED_QUALITY).Smoothed());
}

// Chinese in a font without Chinese glyphs comes from a font that has them:
// each character its own glyph, not the box of a missing one.
TEST(Rastrum, CharactersTheFontLacksComeFromAFontThatHasThem) {
  const Ink chi = DrawWhite(L"\u5C3A", L"MS Sans Serif", -27);
  const Ink cun = DrawWhite(L"\u5BF8", L"MS Sans Serif", -27);
  const Ink missing = DrawWhite(L"\u0378", L"MS Sans Serif", -27);  // in no font
  EXPECT_GT(chi.Rows(), 15);
  EXPECT_NE(chi.level, cun.level);
  EXPECT_NE(chi.level, missing.level);
  EXPECT_NE(cun.level, missing.level);
}

// Lines break at CR LF, LF and CR, each one the font's height below the
// last, starting at x.
TEST(Rastrum, LinesFollowOneAnotherAtTheFontsHeight) {
  HDC dc = CreateCompatibleDC(nullptr);
  LOGFONTW lf = {};
  lf.lfHeight = -20;
  lstrcpyW(lf.lfFaceName, L"Tahoma");
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);

  const Ink one = DrawWhite(L"Hj", L"Tahoma", -20);
  for (const wchar_t* two : {L"Hj\r\nHj", L"Hj\nHj", L"Hj\rHj"}) {
    const Ink both = DrawWhite(two, L"Tahoma", -20);
    ASSERT_EQ(one.level.size(), both.level.size());
    for (int32_t y = 0; y < one.h; ++y)
      for (int32_t x = 0; x < one.w; ++x) {
        const uint8_t expected = y < 2 + tm.tmHeight ? one.At(x, y) : one.At(x, y - tm.tmHeight);
        ASSERT_EQ(expected, both.At(x, y)) << x << "," << y;
      }
  }
}

// RLE8 and RLE4 files written by the system's RLE compressor (the video
// compression manager's "MRLE") at every width from 1 to 33 decode to what
// GDI makes of the same stream. (The compressor writes RLE4 at even widths
// only, and may merge a row's last pixel into the run before it, so GDI's
// reading is the reference, not the source pixels.)
TEST(Rastrum, RleFilesFromTheSystemsCompressorDecodeAsGdiDecodesThem) {
  ScratchFolder scratch(L"rastrum-test-");
  HDC dc = GetDC(nullptr);
  int compared = 0;
  for (const WORD bits : {WORD(8), WORD(4)}) {
    for (LONG w = 1; w <= 33; ++w) {
      if (bits == 4 && w % 2) continue;
      SCOPED_TRACE("bits " + std::to_string(bits) + ", width " + std::to_string(w));
      const LONG h = 4;
      const int colours = 1 << bits;
      struct Info {
        BITMAPINFOHEADER h;
        RGBQUAD table[256];
      } raw = {}, rle = {};
      raw.h = {sizeof(BITMAPINFOHEADER), w, h, 1, bits, BI_RGB, 0, 0, 0, DWORD(colours), 0};
      for (int i = 0; i < colours; ++i) raw.table[i] = {BYTE(i * 13), BYTE(255 - i * 9), BYTE(i * 31), 0};
      // Runs of three, single pixels every fifth column: runs and literal
      // groups of every length, ending anywhere in the row.
      const LONG stride = ((w * bits + 31) / 32) * 4;
      std::vector<BYTE> pixels(size_t(stride) * h, 0);
      auto index = [&](LONG x, LONG y) { return BYTE(((x / 3 + y * 5) % 7 + (x % 5 == 0 ? 8 : 0)) % colours); };
      for (LONG y = 0; y < h; ++y)
        for (LONG x = 0; x < w; ++x) {
          BYTE* p = &pixels[size_t(y) * stride];
          if (bits == 8)
            p[x] = index(x, y);
          else
            p[x / 2] |= BYTE(index(x, y) << (x % 2 ? 0 : 4));
        }
      raw.h.biSizeImage = DWORD(pixels.size());

      HIC codec = ICOpen(ICTYPE_VIDEO, mmioFOURCC('M', 'R', 'L', 'E'), ICMODE_COMPRESS);
      ASSERT_NE(nullptr, codec);
      rle = raw;
      rle.h.biCompression = bits == 8 ? BI_RLE8 : BI_RLE4;
      ASSERT_EQ(ICERR_OK, ICCompressBegin(codec, &raw.h, &rle.h));
      std::vector<BYTE> stream(ICCompressGetSize(codec, &raw.h, &rle.h) + 1024);
      rle.h.biSizeImage = DWORD(stream.size());
      DWORD chunk = 0, flags = 0;
      const DWORD done = ICCompress(codec, ICCOMPRESS_KEYFRAME, &rle.h, stream.data(), &raw.h, pixels.data(),
                                    &chunk, &flags, 0, 0, ICQUALITY_HIGH, nullptr, nullptr);
      ICCompressEnd(codec);
      ICClose(codec);
      ASSERT_EQ(ICERR_OK, done);
      ASSERT_EQ(DWORD(bits == 8 ? BI_RLE8 : BI_RLE4), rle.h.biCompression);
      stream.resize(rle.h.biSizeImage);

      // GDI's reading: the stream set into a cleared DIB section of the
      // same depth and table.
      void* sectionBits = nullptr;
      HBITMAP section = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&raw), DIB_RGB_COLORS, &sectionBits,
                                         nullptr, 0);
      ASSERT_NE(nullptr, section);
      ASSERT_EQ(h, SetDIBits(dc, section, 0, h, stream.data(), reinterpret_cast<BITMAPINFO*>(&rle), DIB_RGB_COLORS));
      GdiFlush();
      const std::vector<BYTE> gdi(static_cast<BYTE*>(sectionBits), static_cast<BYTE*>(sectionBits) + pixels.size());
      DeleteObject(section);

      auto file = [&](const Info& info, const std::vector<BYTE>& data) {
        const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + 4 * colours;
        BITMAPFILEHEADER head = {0x4D42, DWORD(offset + data.size()), 0, 0, offset};
        std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(&head),
                                   reinterpret_cast<const uint8_t*>(&head) + sizeof(head));
        const auto* i = reinterpret_cast<const uint8_t*>(&info);
        bytes.insert(bytes.end(), i, i + sizeof(BITMAPINFOHEADER) + 4 * colours);
        bytes.insert(bytes.end(), data.begin(), data.end());
        return bytes;
      };
      scratch.Write(L"gdi.bmp", file(raw, gdi));
      scratch.Write(L"rle.bmp", file(rle, stream));
      const int32_t fromGdi = NimboLoadFile(scratch.PathA("gdi.bmp").c_str());
      const int32_t fromRle = NimboLoadFile(scratch.PathA("rle.bmp").c_str());
      ASSERT_GT(fromGdi, 0);
      ASSERT_GT(fromRle, 0) << "the compressor's stream is refused";
      // Same table and the same index at every pixel; padding is not compared.
      auto indices = [](int32_t block) {
        const std::vector<uint8_t> b = Bytes(block);
        const auto* hd = reinterpret_cast<const BITMAPINFOHEADER*>(b.data());
        const uint32_t used = hd->biClrUsed ? hd->biClrUsed : (1u << hd->biBitCount);
        const uint8_t* bitsAt = b.data() + hd->biSize + 4 * used;
        const uint32_t rowBytes = ((hd->biWidth * hd->biBitCount + 31) / 32) * 4;
        std::vector<int> out(b.data() + hd->biSize, bitsAt);
        for (LONG y = 0; y < std::abs(hd->biHeight); ++y)
          for (LONG x = 0; x < hd->biWidth; ++x) {
            const uint8_t* row = bitsAt + size_t(y) * rowBytes;
            out.push_back(hd->biBitCount == 8 ? row[x] : hd->biBitCount == 4 ? (row[x / 2] >> (x % 2 ? 0 : 4)) & 15
                                                                                : -1);
          }
        return out;
      };
      EXPECT_EQ(indices(fromGdi), indices(fromRle));
      FreeBlocks({fromGdi, fromRle});
      ++compared;
    }
  }
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(33 + 16, compared);
}

// A lossless WebP of more than a megapixel is decoded on two threads (the
// transforms one group of rows behind the decoding): the pixels come back
// exactly, and a file cut short anywhere fails as corrupt with the second
// thread stopped.
TEST(Rastrum, LargeLosslessWebpDecodesExactlyOnTwoThreads) {
  const int32_t source = MakeBlock(1500, 900, [](int32_t x, int32_t y) {
    const uint32_t grain = (static_cast<uint32_t>(x * 7919 ^ y * 104729) * 2654435761u) >> 28;
    const uint32_t r = static_cast<uint32_t>(128 + 100 * std::sin(x * 0.01 + y * 0.004)) ^ grain;
    const uint32_t g = static_cast<uint32_t>(128 + 90 * std::cos(y * 0.013)) + grain;
    return (r << 16) | (g << 8) | static_cast<uint32_t>((x + 2 * y) & 0xFF);
  });
  const int32_t encoded = NimboSaveAsMemory(source, "big.webp", 100);
  ASSERT_GT(encoded, 0);
  const std::vector<uint8_t> block = Bytes(encoded);
  uint32_t length = 0;
  std::memcpy(&length, block.data(), 4);
  const std::vector<uint8_t> file(block.begin() + 4, block.begin() + 4 + length);
  const int32_t loaded = NimboLoadMemory(file.data(), length);
  ASSERT_GT(loaded, 0);
  EXPECT_TRUE(Read(source).bgr == Read(loaded).bgr);
  for (uint32_t cut : {length / 5, length / 2, length - length / 9, length - 1}) {
    EXPECT_EQ(rastrum::kCorruptData, NimboLoadMemory(file.data(), cut)) << cut << " of " << length;
  }
  FreeBlocks({source, encoded, loaded});
}
