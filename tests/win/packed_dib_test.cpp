#include "core/packed_dib.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

namespace qb {
namespace {

using Bytes = std::vector<uint8_t>;

// A movable block of `size` bytes starting with `bytes`, the rest filled with `fill`.
UniqueHGlobal MakeBlock(const Bytes& bytes, size_t size, uint8_t fill = 0) {
  UniqueHGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
  GlobalLockGuard lock(block.get());
  std::memset(lock.get(), fill, size);
  std::memcpy(lock.get(), bytes.data(), bytes.size());
  return block;
}

Bytes Contents(HGLOBAL h) {
  GlobalLockGuard lock(h);
  return Bytes(lock.bytes(), lock.bytes() + GlobalSize(h));
}

UINT LockCount(HGLOBAL h) { return GlobalFlags(h) & GMEM_LOCKCOUNT; }

// 3 x 2 pixels, 24 bits, bottom row first; each row 9 bytes of pixels and 3 of padding.
Bytes ThreeByTwo(int32_t height = 2) {
  Bytes b(64, 0);
  dib::WriteInfoHeader(std::span(b).first<40>(), {3, height, 24, 24, 2835, 2835});
  const uint8_t rows[24] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,
                            255, 255, 255, 0, 0, 0, 10, 20, 30, 0, 0, 0};
  std::memcpy(b.data() + 40, rows, sizeof rows);
  return b;
}

TEST(PackedDibDuplicate, CopiesWholeAllocationIntoADistinctBlock) {
  UniqueHGlobal source = MakeBlock(ThreeByTwo(), 64 + 37, 0xA5);
  const Bytes before = Contents(source.get());
  UniqueHGlobal copy(ToHGlobal(DuplicateDib(FromHGlobal(source.get()))));
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.get(), source.get());
  EXPECT_EQ(GlobalSize(copy.get()), GlobalSize(source.get()));
  EXPECT_EQ(Contents(copy.get()), before);  // slack bytes included
  EXPECT_EQ(LockCount(copy.get()), 0u);
  EXPECT_EQ(LockCount(source.get()), 0u);
  {
    GlobalLockGuard lock(copy.get());
    lock.bytes()[50] ^= 0xFF;
  }
  EXPECT_EQ(Contents(source.get()), before);
}

TEST(PackedDibDuplicate, NoBlockGivesZero) {
  EXPECT_EQ(DuplicateDib(0), 0);
  EXPECT_EQ(DuplicateDib(-3), 0);  // an imaging-library failure value
}

TEST(PackedDibHeader, CoreHeaderSizesAreUnsigned16BitValues) {
  const Bytes core = {12, 0, 0, 0, 0x2C, 0x81, 0x07, 0x00, 1, 0, 24, 0};
  UniqueHGlobal block = MakeBlock(core, 12 + 4 * 0x812C * 7);
  EXPECT_EQ(DibWidth(FromHGlobal(block.get())), 0x812C);
  EXPECT_EQ(DibHeight(FromHGlobal(block.get())), 7);
  EXPECT_EQ(LockCount(block.get()), 0u);
  UniqueHGlobal topDown = MakeBlock(ThreeByTwo(-2), 64);
  EXPECT_EQ(DibWidth(FromHGlobal(topDown.get())), 3);
  EXPECT_EQ(DibHeight(FromHGlobal(topDown.get())), -2);
  EXPECT_EQ(DibWidth(0), 0);
  EXPECT_EQ(DibHeight(0), 0);
}

// Rows of a bitmap read back as a bottom-up 24-bit DIB.
Bytes Read24(HBITMAP bitmap, int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  Bytes rows(static_cast<size_t>(*dib::RowStride(24, width)) * height, 0xEE);
  WindowDc screen(GetDC(nullptr));
  EXPECT_EQ(GetDIBits(screen.get(), bitmap, 0, height, rows.data(), &info, DIB_RGB_COLORS), height);
  return rows;
}

TEST(PackedDibBitmap, HasTheBlocksSizeAndPixels) {
  const Bytes pixels = ThreeByTwo();
  UniqueHGlobal block = MakeBlock(pixels, 64);
  UniqueGdi<HBITMAP> bitmap(DibToBitmap(FromHGlobal(block.get()), nullptr));
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(LockCount(block.get()), 0u);
  BITMAP info{};
  ASSERT_EQ(GetObjectW(bitmap.get(), sizeof info, &info), int(sizeof info));
  EXPECT_EQ(info.bmWidth, 3);
  EXPECT_EQ(info.bmHeight, 2);
  Bytes rows = Read24(bitmap.get(), 3, 2);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(Bytes(rows.begin() + 12 * y, rows.begin() + 12 * y + 9),
              Bytes(pixels.begin() + 40 + 12 * y, pixels.begin() + 40 + 12 * y + 9));
  }
}

TEST(PackedDibBitmap, PaletteBlockRowsFollowTheTable) {
  // 2 x 1 pixels at 8 bits, two table entries: indices 1, 0.
  Bytes b(40 + 8 + 4, 0);
  dib::WriteInfoHeader(std::span(b).first<40>(), {2, 1, 8, 4, 0, 0});
  dib::StoreU32(b.data() + 32, 2);
  const uint8_t tail[] = {10, 20, 30, 0, 40, 50, 60, 0, 1, 0, 0, 0};
  std::memcpy(b.data() + 40, tail, sizeof tail);
  UniqueHGlobal block = MakeBlock(b, b.size());
  LOGPALETTE grey{0x300, 1, {{128, 128, 128, 0}}};
  UniqueGdi<HPALETTE> palette(CreatePalette(&grey));
  UniqueGdi<HBITMAP> bitmap(DibToBitmap(FromHGlobal(block.get()), palette.get()));
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(Bytes(Read24(bitmap.get(), 2, 1)), (Bytes{40, 50, 60, 10, 20, 30, 0, 0}));
}

TEST(PackedDibBitmap, NoBitmapForNoBlockOrATruncatedOne) {
  EXPECT_EQ(DibToBitmap(0, nullptr), nullptr);
  UniqueHGlobal truncated = MakeBlock(ThreeByTwo(), 63);
  EXPECT_EQ(DibToBitmap(FromHGlobal(truncated.get()), nullptr), nullptr);
  EXPECT_EQ(LockCount(truncated.get()), 0u);
}

TEST(PackedDibLock, ChecksTheBlockAgainstItsSizeAndUnlocks) {
  UniqueHGlobal truncated = MakeBlock(ThreeByTwo(), 63);
  UniqueHGlobal sound = MakeBlock(ThreeByTwo(), 64);
  {
    LockedDib cut(FromHGlobal(truncated.get()), dib::kDepth24);
    EXPECT_TRUE(cut.locked());
    EXPECT_EQ(cut.status(), dib::DibStatus::kRowsPastBlock);
    LockedDib whole(FromHGlobal(sound.get()), dib::kDepth24);
    ASSERT_TRUE(whole.ok());
    EXPECT_EQ(whole.pixels().Row(0), whole.bytes() + 52);
    EXPECT_EQ(LockCount(sound.get()), 1u);
    LockedDib other(FromHGlobal(sound.get()), dib::kPaletteDepths);
    EXPECT_EQ(other.status(), dib::DibStatus::kDepthNotHandled);
  }
  EXPECT_EQ(LockCount(truncated.get()), 0u);
  EXPECT_EQ(LockCount(sound.get()), 0u);
  LockedDib none(0, dib::kAllDepths);
  EXPECT_FALSE(none.locked());
  EXPECT_FALSE(none.ok());
}

TEST(PackedDibConvert, TopDownBlockBecomesPlainBottomUp24) {
  UniqueHGlobal source = MakeBlock(ThreeByTwo(-2), 64);
  UniqueHGlobal converted(ToHGlobal(ConvertDibTo24(FromHGlobal(source.get()))));
  ASSERT_TRUE(converted);
  const Bytes in = Contents(source.get()), out = Contents(converted.get());
  ASSERT_EQ(out.size(), 64u);
  EXPECT_EQ(dib::HeightField(out), 2);
  EXPECT_EQ(Bytes(out.begin() + 40, out.begin() + 52), Bytes(in.begin() + 52, in.end()));
  EXPECT_EQ(Bytes(out.begin() + 52, out.end()), Bytes(in.begin() + 40, in.begin() + 52));
  EXPECT_EQ(ConvertDibTo24(0), 0);
}

}  // namespace
}  // namespace qb
