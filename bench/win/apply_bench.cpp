// Modifiers applied end to end through COM, as a client calls them under
// Windows, on a 6000 x 4000 picture: the source block read, the work done
// (by the module or by the imaging library), the result wrapped in a new
// picture. Prints source megapixels per second and the ratio to a memcpy
// of the picture's bytes measured in the same run. For the classes whose
// work the imaging library does, the library's call alone is timed too:
// what Apply costs beyond it (the copy of the library's block that blur,
// zoom and rotate make, the new picture) is printed in memcpys of the
// result's bytes. Each is called once before it is timed. Apply is timed
// with the worker pool held to one thread and with two threads sharing the
// large pictures' work, and the library's call with the pool as it comes.
//
// Then the memory of one Apply of each: the most private bytes the process
// held while it ran, sampled by a second thread (Wine's counters have no
// peak of their own: its PeakPagefileUsage is the current value), less what
// it held just before (the kept block given back first), plus the source:
// against the budget of the source, the result and one picture more. What
// the process held before the Apply beyond the source is printed too, in
// pictures above the process before the source was made.
//
//   wine apply_bench.exe [NAME...]   (Quillbox registered in the prefix)
//
// With names, only the cases whose names begin with one of them run
// ("Bright" "Rotate 90").
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "base/block_handle.h"
#include "bench_clock.h"
#include "bench_picture.h"
#include "quillbox.h"
#include "rastrum/rastrum.h"

namespace {

using bench::Now;
using bench::Median;

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = kWidth * static_cast<double>(kHeight) / 1e6;
constexpr int kRuns = 7;

// A 24-bit block of w x h: noise, or colour(x, y) as 0x00RRGGBB.
int32_t MakeBlock(LONG w, LONG h, const std::function<uint32_t(LONG, LONG)>& colour = nullptr) {
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
  const size_t bytes = 40 + stride * h;
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes);
  auto* p = static_cast<uint8_t*>(GlobalLock(g));
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(p);
  std::memset(header, 0, 40);
  header->biSize = 40;
  header->biWidth = w;
  header->biHeight = h;
  header->biPlanes = 1;
  header->biBitCount = 24;
  uint32_t x = 12345;
  for (LONG row = 0; row < h; ++row) {
    uint8_t* q = p + 40 + stride * (h - 1 - row);
    for (LONG col = 0; col < w; ++col, q += 3) {
      x = x * 1103515245u + 12345u;
      const uint32_t c = colour ? colour(col, row) : x >> 8;
      q[0] = c & 0xFF;
      q[1] = (c >> 8) & 0xFF;
      q[2] = (c >> 16) & 0xFF;
    }
  }
  GlobalUnlock(g);
  return qb::FromHGlobal(g);
}

// The library's blocks are movable global blocks; the benchmark frees them
// as any client of the library may.
void FreeBlock(int32_t h) {
  if (h > 0) GlobalFree(qb::ToHGlobal(h));
}

size_t BlockBytes(int32_t h) { return GlobalSize(qb::ToHGlobal(h)); }

// The process's private bytes now; with PeakPagefileUsage, which Windows
// keeps as a peak, where the system keeps one.
size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof(counters)))
    return 0;
  return std::max<size_t>(counters.PrivateUsage, counters.PagefileUsage);
}

struct Sampling {
  std::atomic<bool> done{false};
  std::atomic<size_t> peak{0};
};

DWORD WINAPI Sample(void* p) {
  auto* s = static_cast<Sampling*>(p);
  while (!s->done) {
    s->peak = std::max(s->peak.load(), PrivateBytes());
    Sleep(1);
  }
  return 0;
}

// The most private bytes seen while `work` runs, sampled about every
// millisecond by a thread of its own.
size_t PeakWhile(const std::function<void()>& work) {
  Sampling sampling;
  sampling.peak = PrivateBytes();
  HANDLE sampler = CreateThread(nullptr, 0, &Sample, &sampling, 0, nullptr);
  work();
  sampling.peak = std::max(sampling.peak.load(), PrivateBytes());
  sampling.done = true;
  if (sampler) {
    WaitForSingleObject(sampler, INFINITE);
    CloseHandle(sampler);
  }
  return sampling.peak;
}

struct Case {
  const char* name;
  const CLSID* clsid;
  std::function<void(IUnknown*)> configure;
  std::function<int32_t(int32_t)> library;  // the library's call alone, if the library does the work
};

template <class I>
I* As(IUnknown* object) {
  I* typed = nullptr;
  object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&typed));
  typed->Release();  // the caller's reference keeps it alive
  return typed;
}

// A frame picture: a 40-pixel border round a flat centre.
int32_t FrameBlock() {
  return MakeBlock(600, 400, [](LONG x, LONG y) {
    const bool border = x < 40 || y < 40 || x >= 560 || y >= 360;
    return border ? 0x6B3E1Eu : 0xFF00FFu;
  });
}

}  // namespace

int main(int argc, char** argv) {
  IVuPicture* picture = bench::StartWithPicture();
  if (!picture) return 1;
  const int32_t overlay = MakeBlock(1500, 500), mask = MakeBlock(1500, 500), frame = FrameBlock();
  const size_t floorBytes = PrivateBytes();  // before the source
  const int32_t source = MakeBlock(kWidth, kHeight);
  picture->AttachImage(source);

  const size_t pictureBytes = BlockBytes(source);
  std::vector<uint8_t> a(pictureBytes, 1), b(a.size());
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const double start = Now();
    std::memcpy(b.data(), a.data(), a.size());
    times.push_back(Now() - start);
  }
  const double memcpySeconds = Median(times);  // for the picture's bytes
  const double memcpyRate = kMegapixels / memcpySeconds;

  // A caption in 90-point Tahoma; the library alone gets the font's
  // LOGFONTW, as AddText derives it.
  static const wchar_t kCaption[] = L"Quillbox \u4E7E\u6E05\u5BAB";
  IFontDisp* captionFont = nullptr;
  FONTDESC desc = {};
  desc.cbSizeofstruct = sizeof(desc);
  desc.lpstrName = const_cast<LPOLESTR>(L"Tahoma");
  desc.cySize.int64 = 90 * 10000;
  OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(&captionFont));
  AddTextRecord record = {};
  record.text = kCaption;
  record.color = RGB(255, 255, 0);
  record.x = 200;
  record.y = 200;
  if (captionFont) {
    IFont* font = nullptr;
    HFONT handle = nullptr;
    if (SUCCEEDED(captionFont->QueryInterface(IID_IFont, reinterpret_cast<void**>(&font)))) {
      if (SUCCEEDED(font->get_hFont(&handle))) GetObjectW(handle, sizeof(record.font), &record.font);
      font->Release();
    }
  }

  const Case cases[] = {
      {"Bright", &CLSID_Bright, [](IUnknown* m) { As<IBright>(m)->put_Brightness(20); }, nullptr},
      {"Contrast", &CLSID_Contrast, [](IUnknown* m) { As<IContrast>(m)->put_Contrast(10); }, nullptr},
      {"Blur 50", &CLSID_BlurModifier, [](IUnknown* m) { As<IBlurModifier>(m)->put_Level(50); },
       [](int32_t h) { return NimboBlur(50, h); }},
      {"Zoom to half", &CLSID_Zoom,
       [](IUnknown* m) {
         As<IZoom>(m)->put_Width(kWidth / 2);
         As<IZoom>(m)->put_Height(kHeight / 2);
       },
       [](int32_t h) { return NimboResize(kWidth / 2, kHeight / 2, h, 0); }},
      {"Rotate 30", &CLSID_RotateModifier, [](IUnknown* m) { As<IRotateModifier>(m)->put_Angle(30); },
       [](int32_t h) { return NimboRotate(30, h); }},
      {"Rotate 90", &CLSID_RotateModifier, [](IUnknown* m) { As<IRotateModifier>(m)->put_Angle(90); },
       [](int32_t h) { return NimboRotate(90, h); }},
      {"AddText", &CLSID_AddText,
       [&](IUnknown* m) {
         IAddText* t = As<IAddText>(m);
         BSTR text = SysAllocString(kCaption);
         t->put_Text(text);
         SysFreeString(text);
         t->put_Font(captionFont);
         t->put_ForeColor(RGB(255, 255, 0));
         t->put_X(200);
         t->put_Y(200);
       },
       [&](int32_t h) { return NimboAddText(&record, h); }},
      {"AddPic", &CLSID_AddPic,
       [&](IUnknown* m) {
         IAddPic* p = As<IAddPic>(m);
         p->put_PicHandle(NimboResize(1500, 500, overlay, 0));
         p->put_MaskHandle(NimboResize(1500, 500, mask, 0));
         p->put_X(4000);
         p->put_Y(3000);
       },
       [&](int32_t h) {
         NimboTrueClr2Gray(mask);
         return NimboAddPic(4000, 3000, h, overlay, mask);
       }},
      {"Frame", &CLSID_Frame, [&](IUnknown* m) { As<IFrame>(m)->put_FrameHandle(NimboResize(600, 400, frame, 0)); },
       [&](int32_t h) { return NimboAddFrame(h, frame, 0, 0); }},
      {"Sharpen 5", &CLSID_SharpModifier, [](IUnknown* m) { As<ISharpModifier>(m)->put_Level(5); }, nullptr},
      {"Mirror", &CLSID_MirrorModifier, [](IUnknown* m) { As<IMirrorModifier>(m)->put_Direction(1); }, nullptr},
      {"Flip", &CLSID_MirrorModifier, [](IUnknown* m) { As<IMirrorModifier>(m)->put_Direction(2); }, nullptr},
      {"Red eye", &CLSID_RedEye,
       [](IUnknown* m) {
         IRedEye* r = As<IRedEye>(m);
         r->put_RectLeft(0);
         r->put_RectTop(0);
         r->put_RectWidth(kWidth);
         r->put_RectHeight(kHeight);
       },
       nullptr},
      {"Hue 120", &CLSID_AdjustColorModifier, [](IUnknown* m) { As<IAdjustColorModifier>(m)->put_Hue(120); },
       nullptr},
      {"Crop quarter", &CLSID_Crop,
       [](IUnknown* m) {
         ICrop* c = As<ICrop>(m);
         c->put_RectLeft(kWidth / 4);
         c->put_RectTop(kHeight / 4);
         c->put_RectWidth(kWidth / 2);
         c->put_RectHeight(kHeight / 2);
       },
       nullptr},
  };

  std::printf("%d x %d, the median of %d runs; source megapixels per second\n", static_cast<int>(kWidth),
              static_cast<int>(kHeight), kRuns);
  std::printf("memcpy of the picture   %8.1f MP/s\n", memcpyRate);
  const auto chosen = [&](const Case& c) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i)
      if (std::strncmp(c.name, argv[i], std::strlen(argv[i])) == 0) return true;
    return false;
  };
  bool allRan = true;
  std::vector<size_t> resultSizes;
  for (const Case& c : cases) {
    if (!chosen(c)) {
      resultSizes.push_back(0);
      continue;
    }
    IPictureModifier* modifier = nullptr;
    if (FAILED(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPictureModifier,
                                reinterpret_cast<void**>(&modifier)))) {
      allRan = false;
      resultSizes.push_back(0);
      continue;
    }
    c.configure(modifier);
    size_t resultBytes = 0;
    double applySeconds = 0;
    std::printf("%-14s Apply", c.name);
    for (int threads : {1, 2}) {
      NimboSetThreadCount(threads);
      // One call before the timing, as a program that applies a modifier
      // more than once meets it: the heap has grown to the results' size
      // (and the workers have started) by then.
      IVuPicture* first = nullptr;
      if (SUCCEEDED(modifier->Apply(picture, &first)) && first) first->Release();
      times.clear();
      for (int i = 0; i < kRuns; ++i) {
        const double start = Now();
        IVuPicture* result = nullptr;
        if (FAILED(modifier->Apply(picture, &result)) || !result) {
          allRan = false;
          break;
        }
        LONG h = 0;
        result->get_Handle(&h);
        resultBytes = BlockBytes(h);
        result->Release();
        times.push_back(Now() - start);
      }
      if (times.empty()) break;
      applySeconds = Median(times);
      std::printf("  %d thread%s %7.1f MP/s (%.2f of memcpy)", threads, threads == 1 ? " " : "s",
                  kMegapixels / applySeconds, kMegapixels / applySeconds / memcpyRate);
    }
    NimboSetThreadCount(0);
    resultSizes.push_back(resultBytes);
    modifier->Release();
    if (times.empty()) {
      std::printf("  failed\n");
      continue;
    }
    if (c.library) {
      FreeBlock(c.library(source));
      times.clear();
      for (int i = 0; i < kRuns; ++i) {
        const double start = Now();
        FreeBlock(c.library(source));
        times.push_back(Now() - start);
      }
      const double librarySeconds = Median(times);
      const double resultMemcpy = memcpySeconds * static_cast<double>(resultBytes) / static_cast<double>(a.size());
      std::printf("   library alone %7.1f MP/s, Apply beyond it %+.2f memcpys of the result",
                  kMegapixels / librarySeconds, (applySeconds - librarySeconds) / resultMemcpy);
    }
    std::printf("\n");
  }

  // The memory of one Apply, each in a process that holds only the source
  // and what the module keeps between calls.
  std::vector<uint8_t>().swap(a);
  std::vector<uint8_t>().swap(b);
  std::printf("\npeak private bytes of one Apply with its source, in pictures of %.1f MB\n",
              pictureBytes / 1e6);
  std::printf("(budget: source + result + one picture)\n");
  size_t index = 0;
  for (const Case& c : cases) {
    const size_t resultBytes = index < resultSizes.size() ? resultSizes[index] : 0;
    ++index;
    if (!chosen(c)) continue;
    IPictureModifier* modifier = nullptr;
    if (FAILED(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPictureModifier,
                                reinterpret_cast<void**>(&modifier))))
      continue;
    c.configure(modifier);
    IVuPicture* result = nullptr;
    // Nothing kept from the case before: the process holds the source and
    // whatever memory it has gathered besides, none of it this Apply's.
    NimboGiveBackBlock();
    const size_t before = PrivateBytes();
    const size_t peak = PeakWhile([&] { modifier->Apply(picture, &result); });
    if (result) result->Release();
    modifier->Release();
    const double budget = static_cast<double>(2 * pictureBytes + resultBytes);
    const double held = static_cast<double>(peak) - static_cast<double>(before) + static_cast<double>(pictureBytes);
    std::printf("%-14s before %5.2f  peak %5.2f  budget %5.2f  %s\n", c.name,
                (static_cast<double>(before) - floorBytes) / pictureBytes, held / pictureBytes,
                budget / pictureBytes, held <= budget ? "within" : "OVER");
  }

  for (int32_t h : {overlay, mask, frame}) FreeBlock(h);
  if (captionFont) captionFont->Release();
  picture->Release();
  CoUninitialize();
  return allRan ? 0 : 1;
}
