// Packed DIB blocks for the Windows tests: made from a pixel function,
// read back as top-down rows.
#pragma once

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/picture_block.h"

namespace qbtest {

// Frees blocks the test holds, through their owner type.
inline void FreeBlocks(std::initializer_list<int32_t> blocks) {
  for (int32_t h : blocks) qb::PictureBlock(h).reset();
}

inline HGLOBAL AsHGlobal(int32_t h) { return reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(h)); }
inline int32_t AsHandle(HGLOBAL g) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(g)); }

// A 24-bit bottom-up block of w x h; colour(x, y), counted from the
// top-left, returns 0x00RRGGBB. Padding bytes are set to `pad`.
template <class F>
int32_t MakeBlock(int32_t w, int32_t h, F colour, uint8_t pad = 0) {
  const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + stride * h);
  auto* p = static_cast<uint8_t*>(GlobalLock(g));
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(p);
  header->biSize = 40;
  header->biWidth = w;
  header->biHeight = h;
  header->biPlanes = 1;
  header->biBitCount = 24;
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
  GlobalUnlock(g);
  return AsHandle(g);
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
