// Bright, Contrast and Crop applied end to end through COM, as a client calls
// them under Windows: the source block copied, walked and wrapped in a new
// picture. Prints megapixels per second for a 6000 x 4000 picture and the
// rate of a plain memcpy of the same bytes.
//
//   wine apply_bench.exe   (Quillbox registered in the prefix)
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "quillbox.h"

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr int kRuns = 10;

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

HGLOBAL MakePicture() {
  const size_t bytes = 40 + static_cast<size_t>(kWidth) * 3 * kHeight;
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes);
  auto* p = static_cast<uint8_t*>(GlobalLock(g));
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(p);
  std::memset(h, 0, 40);
  h->biSize = 40;
  h->biWidth = kWidth;
  h->biHeight = kHeight;
  h->biPlanes = 1;
  h->biBitCount = 24;
  uint32_t x = 12345;
  for (size_t i = 40; i < bytes; ++i) {
    x = x * 1103515245u + 12345u;
    p[i] = static_cast<uint8_t>(x >> 24);
  }
  GlobalUnlock(g);
  return g;
}

template <class M>
double ApplyRate(REFCLSID clsid, IVuPicture* source, HRESULT (STDMETHODCALLTYPE M::*set)(LONG), LONG value) {
  M* modifier = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(M),
                              reinterpret_cast<void**>(&modifier))))
    return 0;
  (modifier->*set)(value);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kRuns; ++i) {
    IVuPicture* result = nullptr;
    if (FAILED(modifier->Apply(source, &result))) return 0;
    result->Release();
  }
  QueryPerformanceCounter(&end);
  modifier->Release();
  return kRuns * kWidth * static_cast<double>(kHeight) / 1e6 / Seconds(start, end);
}

// Crop of the centre quarter; megapixels of the source per second.
double CropRate(IVuPicture* source) {
  ICrop* crop = nullptr;
  if (FAILED(CoCreateInstance(CLSID_Crop, nullptr, CLSCTX_INPROC_SERVER, IID_ICrop,
                              reinterpret_cast<void**>(&crop))))
    return 0;
  crop->put_RectLeft(kWidth / 4);
  crop->put_RectTop(kHeight / 4);
  crop->put_RectWidth(kWidth / 2);
  crop->put_RectHeight(kHeight / 2);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kRuns; ++i) {
    IVuPicture* result = nullptr;
    if (FAILED(crop->Apply(source, &result))) return 0;
    result->Release();
  }
  QueryPerformanceCounter(&end);
  crop->Release();
  return kRuns * kWidth * static_cast<double>(kHeight) / 1e6 / Seconds(start, end);
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IVuPicture* picture = nullptr;
  if (FAILED(CoCreateInstance(CLSID_VuPicture, nullptr, CLSCTX_INPROC_SERVER, IID_IVuPicture,
                              reinterpret_cast<void**>(&picture)))) {
    std::printf("Quillbox is not registered\n");
    return 1;
  }
  picture->AttachImage(static_cast<LONG>(reinterpret_cast<intptr_t>(MakePicture())));

  std::vector<uint8_t> a(static_cast<size_t>(kWidth) * 3 * kHeight, 1), b(a.size());
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kRuns; ++i) std::memcpy(b.data(), a.data(), a.size());
  QueryPerformanceCounter(&end);
  const double memcpyRate = kRuns * kWidth * static_cast<double>(kHeight) / 1e6 / Seconds(start, end);

  const double bright = ApplyRate<IBright>(CLSID_Bright, picture, &IBright::put_Brightness, 20);
  const double contrast = ApplyRate<IContrast>(CLSID_Contrast, picture, &IContrast::put_Contrast, 10);
  std::printf("memcpy           %8.1f MP/s\n", memcpyRate);
  std::printf("Bright.Apply     %8.1f MP/s  (%.2f of memcpy)\n", bright, bright / memcpyRate);
  std::printf("Contrast.Apply   %8.1f MP/s  (%.2f of memcpy)\n", contrast, contrast / memcpyRate);
  const double crop = CropRate(picture);
  std::printf("Crop.Apply (centre quarter) %8.1f MP/s of source  (%.2f of a memcpy of the source)\n", crop,
              crop / memcpyRate);
  picture->Release();
  CoUninitialize();
  return bright > 0 && contrast > 0 && crop > 0 ? 0 : 1;
}
