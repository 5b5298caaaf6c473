// Packed DIB blocks for the Windows tests: made from a pixel function,
// read back as top-down rows.
#pragma once

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "base/block_handle.h"
#include "core/picture_block.h"

namespace qbtest {

// Frees blocks the test holds, through their owner type.
inline void FreeBlocks(std::initializer_list<int32_t> blocks) {
  for (int32_t h : blocks) qb::PictureBlock(h).reset();
}

// The tests' names for the module's conversion between a handle and its block.
inline constexpr auto& AsHGlobal = qb::ToHGlobal;
inline constexpr auto& AsHandle = qb::FromHGlobal;

// A new zeroed block of a 40-byte info header and `rest` bytes after it,
// locked while it is written: the header holds w x h, one plane and the bit
// count; Done() unlocks the block and gives its handle.
class NewDib {
 public:
  NewDib(int32_t w, int32_t h, uint16_t bitCount, size_t rest)
      : m_block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + rest)),
        m_bytes(static_cast<uint8_t*>(GlobalLock(m_block))) {
    header()->biSize = 40;
    header()->biWidth = w;
    header()->biHeight = h;
    header()->biPlanes = 1;
    header()->biBitCount = bitCount;
  }
  NewDib(const NewDib&) = delete;
  NewDib& operator=(const NewDib&) = delete;

  uint8_t* bytes() const { return m_bytes; }
  BITMAPINFOHEADER* header() const { return reinterpret_cast<BITMAPINFOHEADER*>(m_bytes); }
  int32_t Done() {
    GlobalUnlock(m_block);
    return AsHandle(m_block);
  }

 private:
  HGLOBAL m_block;
  uint8_t* m_bytes;
};

// A 24-bit bottom-up block of w x h; colour(x, y), counted from the
// top-left, returns 0x00RRGGBB. Padding bytes are set to `pad`.
template <class F>
int32_t MakeBlock(int32_t w, int32_t h, F colour, uint8_t pad = 0) {
  const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
  NewDib dib(w, h, 24, stride * h);
  uint8_t* p = dib.bytes();
  auto* header = dib.header();
  header->biSizeImage = stride * h;
  header->biXPelsPerMeter = 2835;
  header->biYPelsPerMeter = 2835;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = p + 40 + static_cast<size_t>(h - 1 - y) * stride;
    for (int32_t x = 0; x < w; ++x) {
      uint32_t c = colour(x, y);
      row[3 * x] = c & 0xFF;
      row[3 * x + 1] = (c >> 8) & 0xFF;
      row[3 * x + 2] = (c >> 16) & 0xFF;
    }
    for (uint32_t i = 3 * w; i < stride; ++i) row[i] = pad;
  }
  return dib.Done();
}

inline int32_t PhotoLike(int32_t w, int32_t h) {
  return MakeBlock(w, h, [](int32_t x, int32_t y) {
    uint32_t r = static_cast<uint32_t>(128 + 100 * std::sin(x * 0.09));
    uint32_t g = static_cast<uint32_t>(128 + 90 * std::cos(y * 0.07));
    uint32_t b = static_cast<uint32_t>((x * 3 + y * 5) & 0xFF) / 2 + 60;
    return (r << 16) | (g << 8) | b;
  });
}

// The whole allocation, GlobalSize bytes.
inline std::vector<uint8_t> Bytes(int32_t h) {
  HGLOBAL g = AsHGlobal(h);
  std::vector<uint8_t> out(GlobalSize(g));
  void* p = GlobalLock(g);
  if (p) std::memcpy(out.data(), p, out.size());
  GlobalUnlock(g);
  return out;
}

// A new block holding exactly `bytes`.
inline int32_t BlockOf(const std::vector<uint8_t>& bytes) {
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size());
  std::memcpy(GlobalLock(g), bytes.data(), bytes.size());
  GlobalUnlock(g);
  return AsHandle(g);
}

// One 5 x 3 palette picture twice: run-length-encoded as a client or the
// clipboard may hand it over, and as the plain block of the same indices
// and table (40-byte header, biClrUsed the table's entries, resolution
// kept) that decoding it gives.
struct RleSample {
  const char* name;
  std::vector<uint8_t> rle, plain;
  size_t streamOffset;  // in rle, after the header and table; the stream starts with a run
};

inline std::vector<RleSample> RleSamples() {
  auto header = [](uint16_t bits, uint32_t compression, uint32_t sizeImage, uint32_t clrUsed) {
    std::vector<uint8_t> h(40);
    BITMAPINFOHEADER info = {40, 5, 3, 1, bits, compression, sizeImage, 2835, 2834, clrUsed, 0};
    std::memcpy(h.data(), &info, 40);
    return h;
  };
  auto table = [](uint32_t entries) {
    std::vector<uint8_t> t;
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t entry[4] = {static_cast<uint8_t>(40 * i + 20), static_cast<uint8_t>(200 - 12 * i),
                                static_cast<uint8_t>(255 - 50 * (i % 4)), 0};
      t.insert(t.end(), entry, entry + 4);
    }
    return t;
  };
  auto join = [](std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  // RLE8, bottom line first: a run and a run; literals (padded) and a run;
  // a delta past two pixels (left at index 0) and a run; end of bitmap.
  const std::vector<uint8_t> stream8 = {3, 1, 2, 2, 0, 0,  0, 3, 3, 0, 1, 0, 2, 2, 0, 0,
                                        0, 2, 2, 0, 3, 3,  0, 1};
  const std::vector<uint8_t> rows8 = {1, 1, 1, 2, 2, 0, 0, 0,  3, 0, 1, 2, 2, 0, 0, 0,  0, 0, 3, 3, 3, 0, 0, 0};
  // RLE4: a run of alternating nibbles; five literal nibbles; the top line
  // left to the end of bitmap (index 0).
  const std::vector<uint8_t> stream4 = {5, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 1};
  const std::vector<uint8_t> rows4 = {0x12, 0x12, 0x10, 0,  0x34, 0x56, 0x70, 0,  0, 0, 0, 0};
  return {
      {"Rle8", join({header(8, BI_RLE8, static_cast<uint32_t>(stream8.size()), 4), table(4), stream8}),
       join({header(8, BI_RGB, 24, 4), table(4), rows8}), 40 + 4 * 4},
      // biSizeImage 0: the stream is what the block holds after the table.
      {"Rle4", join({header(4, BI_RLE4, 0, 0), table(16), stream4}),
       join({header(4, BI_RGB, 12, 16), table(16), rows4}), 40 + 16 * 4},
  };
}

struct Pixels {
  int32_t w = 0, h = 0, bits = 0;
  std::vector<uint8_t> bgr;  // top-down, 3 bytes a pixel; 24-bit blocks only
  const uint8_t* At(int32_t x, int32_t y) const { return &bgr[(static_cast<size_t>(y) * w + x) * 3]; }
};

inline Pixels Read(int32_t handle) {
  std::vector<uint8_t> b = Bytes(handle);
  Pixels px;
  auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(b.data());
  px.w = header->biWidth;
  px.h = std::abs(header->biHeight);
  px.bits = header->biBitCount;
  if (px.bits != 24) return px;
  const uint32_t stride = (static_cast<uint32_t>(px.w) * 3 + 3) & ~3u;
  for (int32_t y = 0; y < px.h; ++y) {
    const uint8_t* row = b.data() + header->biSize +
                         static_cast<size_t>(header->biHeight > 0 ? px.h - 1 - y : y) * stride;
    px.bgr.insert(px.bgr.end(), row, row + 3 * px.w);
  }
  return px;
}

}  // namespace qbtest
