// The picture's second interface and its orientation through COM: one
// object answers both interfaces, IDispatch and every modifier result
// serve the new members, and AutoOrient turns pictures of every depth the
// picture may hold, against the plain 24-bit picture turned by definition.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/packed_dib.h"
#include "core/picture_block.h"
#include "rastrum/rastrum.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

std::wstring TempFile(const std::wstring& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

// A small JPEG whose EXIF segment holds only IFD0's Orientation = value
// (big-endian when `big`): the library's JPEG with the segment after its
// start-of-image marker.
std::wstring OrientedJpeg(int value, bool big) {
  const std::wstring path = TempFile(L"quillbox-orientation-" + std::to_wstring(value) + L".jpg");
  const int32_t block = PhotoLike(12, 8);
  char narrow[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
  EXPECT_GT(NimboSaveAsFile(block, narrow), 0);
  FreeBlocks({block});
  std::vector<uint8_t> jpeg = ReadFileBytes(path);
  const uint8_t v = static_cast<uint8_t>(value);
  const std::vector<uint8_t> tiff =
      big ? std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, v, 0, 0, 0, 0, 0, 0}
          : std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, v, 0, 0, 0, 0, 0, 0, 0};
  if (jpeg.size() < 2) return path;
  std::vector<uint8_t> file = {0xFF, 0xD8, 0xFF, 0xE1, 0, static_cast<uint8_t>(8 + tiff.size()), 'E', 'x', 'i', 'f', 0, 0};
  file.reserve(file.size() + tiff.size() + jpeg.size());
  file.insert(file.end(), tiff.begin(), tiff.end());
  file.insert(file.end(), jpeg.begin() + 2, jpeg.end());
  EXPECT_TRUE(WriteFileBytes(path, file));
  return path;
}

LONG OrientationOf(IVuPicture* p) {
  ComPtr<IVuPicture2> p2;
  EXPECT_EQ(S_OK, p->QueryInterface(IID_IVuPicture2, reinterpret_cast<void**>(p2.GetAddressOf())));
  LONG value = kMarker;
  if (p2) {
    EXPECT_EQ(S_OK, p2->get_Orientation(&value));
  }
  return value;
}

// A block of w x h at `bits` (1, 4, 8, 16, 32) whose bytes run through
// every value, with a colour table of distinct colours at 8 bits and less;
// top-down when asked.
int32_t AtDepth(uint16_t bits, int32_t w, int32_t h, bool topDown) {
  const uint32_t stride = ((bits * w + 31) / 32) * 4;
  const uint32_t table = bits <= 8 ? (1u << bits) * 4 : 0;
  std::vector<uint8_t> b(40 + table + stride * h);
  BITMAPINFOHEADER header = {40, w, topDown ? -h : h, 1, bits, BI_RGB, stride * h, 2835, 1000, 0, 0};
  std::memcpy(b.data(), &header, 40);
  for (uint32_t i = 0; i < table; ++i) b[40 + i] = static_cast<uint8_t>(i % 4 == 3 ? 0 : i * 37 + 11);
  for (size_t i = 40 + table; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 29 + 7);
  return BlockOf(b);
}

// The pixels of a 24- or 32-bit block from the top row down, `bytes` a
// pixel (alpha included at 32 bits).
struct Rows {
  int32_t w = 0, h = 0, bytes = 0;
  std::vector<uint8_t> pixels;
  const uint8_t* At(int32_t x, int32_t y) const { return &pixels[(static_cast<size_t>(y) * w + x) * bytes]; }
};
Rows RowsOf(int32_t handle) {
  const std::vector<uint8_t> b = Bytes(handle);
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(b.data());
  Rows r{header->biWidth, std::abs(header->biHeight), header->biBitCount / 8, {}};
  const uint32_t stride = (static_cast<uint32_t>(r.w) * r.bytes + 3) & ~3u;
  for (int32_t y = 0; y < r.h; ++y) {
    const uint8_t* row = b.data() + header->biSize + static_cast<size_t>(header->biHeight > 0 ? r.h - 1 - y : y) * stride;
    r.pixels.insert(r.pixels.end(), row, row + r.bytes * r.w);
  }
  return r;
}

TEST(PictureInterface, OneObjectAnswersBothVersionsAndDispatchesTheNewMembers) {
  ComPtr<IVuPicture> p = NewPicture();
  ComPtr<IVuPicture2> p2;
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(S_OK, p->QueryInterface(IID_IVuPicture2, reinterpret_cast<void**>(p2.GetAddressOf())));
  ASSERT_EQ(S_OK, p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())));
  EXPECT_EQ(static_cast<IUnknown*>(p.Get()), static_cast<IUnknown*>(p2.Get()));
  EXPECT_EQ(static_cast<IUnknown*>(p.Get()), static_cast<IUnknown*>(dispatch.Get()));
  ComPtr<ISupportErrorInfo> sei;
  ASSERT_EQ(S_OK, p->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(sei.GetAddressOf())));
  EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IVuPicture));
  EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IVuPicture2));
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, 0, info.GetAddressOf()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(IID_IVuPicture2, attr->guid);
  info->ReleaseTypeAttr(attr);
  EXPECT_EQ(1, OrientationOf(p.Get())) << "a new picture";
  EXPECT_EQ(E_POINTER, p2->get_Orientation(nullptr));
  EXPECT_EQ(S_OK, p2->AutoOrient()) << "orientation 1: nothing to do";

  // A modifier's result, reached late-bound, carries the source's
  // orientation and turns through IDispatch.
  ASSERT_EQ(S_OK, p->LoadFile(Bstr(OrientedJpeg(6, true))));
  EXPECT_EQ(6, OrientationOf(p.Get()));
  ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
  ComPtr<IVuPicture> result;
  ASSERT_EQ(S_OK, bright->Apply(p.Get(), result.GetAddressOf()));
  ComPtr<IDispatch> late;
  ASSERT_EQ(S_OK, result->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(late.GetAddressOf())));
  OLECHAR* names[] = {const_cast<OLECHAR*>(L"Orientation"), const_cast<OLECHAR*>(L"AutoOrient")};
  DISPID ids[2] = {};
  ASSERT_EQ(S_OK, late->GetIDsOfNames(IID_NULL, &names[0], 1, 0, &ids[0]));
  ASSERT_EQ(S_OK, late->GetIDsOfNames(IID_NULL, &names[1], 1, 0, &ids[1]));
  DISPPARAMS none = {};
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(S_OK, late->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr));
  EXPECT_EQ(VT_I4, value.vt);
  EXPECT_EQ(6, value.lVal);
  ASSERT_EQ(S_OK, late->Invoke(ids[1], IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  EXPECT_EQ(1, OrientationOf(result.Get()));
  LONG w = 0, h = 0;
  result->get_Width(&w);
  result->get_Height(&h);
  EXPECT_EQ(8, w);
  EXPECT_EQ(12, h);
}

// Every orientation (both byte orders of the tag), values outside 1..8,
// every depth, RLE and top-down blocks: the result is 24-bit and pixel for
// pixel the plain picture turned as the definition says; the 32-bit block,
// whose fourth bytes vary, is a picture with alpha and stays one.
TEST(PictureInterface, AutoOrientTurnsEveryDepthExactly) {
  std::vector<std::pair<std::string, int32_t>> blocks = {
      {"24", PhotoLike(5, 3)},          {"1", AtDepth(1, 11, 3, false)}, {"4", AtDepth(4, 5, 4, false)},
      {"8", AtDepth(8, 6, 3, true)},    {"16", AtDepth(16, 3, 5, false)}, {"32", AtDepth(32, 4, 3, true)}};
  for (const RleSample& s : RleSamples()) blocks.push_back({s.name, BlockOf(s.rle)});
  for (int stored = 0; stored <= 9; ++stored) {
    const std::wstring file = OrientedJpeg(stored, stored % 2 == 0);
    const int expected = stored >= 1 && stored <= 8 ? stored : 1;
    for (const auto& [name, block] : blocks) {
      SCOPED_TRACE(name + " bits, orientation " + std::to_string(stored));
      ComPtr<IVuPicture> p = NewPicture();
      ASSERT_EQ(S_OK, p->LoadFile(Bstr(file)));
      ASSERT_EQ(expected, OrientationOf(p.Get()));
      // AttachImage replaces the pixels, not the orientation of the file.
      ASSERT_EQ(S_OK, p->AttachImage(qb::PictureBlock::CopyOf(block).release()));
      ComPtr<IVuPicture2> p2;
      p->QueryInterface(IID_IVuPicture2, reinterpret_cast<void**>(p2.GetAddressOf()));
      ASSERT_EQ(S_OK, p2->AutoOrient());
      EXPECT_EQ(1, OrientationOf(p.Get()));
      const bool alpha = name == "32";
      const qb::PictureBlock plain(alpha ? qb::PictureBlock::CopyOf(block) : qb::PictureBlock(qb::ConvertDibTo24(block)));
      const Rows before = RowsOf(plain.get());
      LONG handle = 0, bits = 0, w = 0, h = 0;
      p->get_Handle(&handle);
      p->get_BitCount(&bits);
      p->get_Width(&w);
      p->get_Height(&h);
      const bool swapped = expected >= 5;
      if (expected == 1) continue;  // nothing to turn: the block stays as attached
      const Rows after = RowsOf(handle);
      EXPECT_EQ(alpha ? 32 : 24, bits);
      ASSERT_EQ(before.bytes, after.bytes);
      ASSERT_EQ(swapped ? before.h : before.w, w);
      ASSERT_EQ(swapped ? before.w : before.h, h);
      ASSERT_EQ(static_cast<size_t>(w) * h * before.bytes, after.pixels.size());
      const int32_t W = before.w, H = before.h;
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          // Where the upright pixel (x, y) is in the stored picture.
          int32_t sx = x, sy = y;
          switch (expected) {
            case 2: sx = W - 1 - x; break;
            case 3: sx = W - 1 - x; sy = H - 1 - y; break;
            case 4: sy = H - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = H - 1 - x; break;
            case 7: sx = W - 1 - y; sy = H - 1 - x; break;
            case 8: sx = W - 1 - y; sy = x; break;
          }
          ASSERT_EQ(0, std::memcmp(after.At(x, y), before.At(sx, sy), before.bytes)) << "pixel " << x << "," << y;
        }
      }
    }
    DeleteFileW(file.c_str());
  }
  for (const auto& entry : blocks) FreeBlocks({entry.second});
}

TEST(PictureInterface, AutoOrientWithoutAPictureFailsAndKeepsTheOrientation) {
  ComPtr<IVuPicture> p = NewPicture();
  const std::wstring file = OrientedJpeg(8, false);
  ASSERT_EQ(S_OK, p->LoadFile(Bstr(file)));
  ASSERT_EQ(S_OK, p->AttachImage(0));
  ComPtr<IVuPicture2> p2;
  p->QueryInterface(IID_IVuPicture2, reinterpret_cast<void**>(p2.GetAddressOf()));
  EXPECT_EQ(E_UNEXPECTED, p2->AutoOrient());
  EXPECT_EQ(8, OrientationOf(p.Get()));
  DeleteFileW(file.c_str());
}

}  // namespace
