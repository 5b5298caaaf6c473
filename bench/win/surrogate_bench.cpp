// What the surrogate costs a 64-bit client: a property read and Bright's
// Apply on a 6000 x 4000 picture, in process (this program built 32-bit)
// and through QuillboxHost.exe (built 64-bit), side by side, with the time
// to the first object and to a later one. Each figure is the median of its
// runs; each call is made once before it is timed.
//
//   wine64 surrogate_bench64.exe PHOTO   (Quillbox installed in a 64-bit prefix)
//     runs its 32-bit twin, surrogate_bench.exe, beside it for the
//     in-process column and prints both;
//   wine surrogate_bench.exe measure PHOTO
//     prints one program's figures on one line.
//
// The picture is the photo resized by Zoom in the server, so that both
// columns work on a picture of the server's own.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "quillbox.h"

namespace {

using bench::Now;
using bench::Median;

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr int kRuns = 15;
constexpr int kReads = 1000;  // property reads per run

struct Figures {
  double firstObjectMs = 0, laterObjectMs = 0, readUs = 0, applyMs = 0;
};

template <class I>
HRESULT Make(REFCLSID clsid, I** out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(I), reinterpret_cast<void**>(out));
}

bool Measure(const wchar_t* photo, Figures& f) {
  IVuPicture* photoPicture = nullptr;
  IZoom* zoom = nullptr;
  IBright* bright = nullptr;
  IVuPicture* picture = nullptr;
  double start = Now();
  bool ok = SUCCEEDED(Make(CLSID_VuPicture, &photoPicture));
  f.firstObjectMs = (Now() - start) * 1e3;
  start = Now();
  ok = ok && SUCCEEDED(Make(CLSID_Zoom, &zoom));
  f.laterObjectMs = (Now() - start) * 1e3;
  BSTR path = SysAllocString(photo);
  ok = ok && SUCCEEDED(photoPicture->LoadFile(path)) && SUCCEEDED(zoom->put_Width(kWidth)) &&
       SUCCEEDED(zoom->put_Height(kHeight)) && SUCCEEDED(zoom->Apply(photoPicture, &picture)) && picture;
  SysFreeString(path);
  ok = ok && SUCCEEDED(Make(CLSID_Bright, &bright)) && SUCCEEDED(bright->put_Brightness(20));
  LONG width = 0;
  ok = ok && SUCCEEDED(picture->get_Width(&width)) && width == kWidth;

  std::vector<double> reads, applies;
  for (int run = 0; ok && run < kRuns; ++run) {
    start = Now();
    for (int i = 0; i < kReads; ++i) picture->get_Width(&width);
    reads.push_back((Now() - start) / kReads * 1e6);
  }
  for (int run = 0; ok && run <= kRuns; ++run) {
    IVuPicture* result = nullptr;
    start = Now();
    ok = SUCCEEDED(bright->Apply(picture, &result)) && result;
    if (result) result->Release();
    if (run > 0) applies.push_back((Now() - start) * 1e3);  // the first is not timed
  }
  if (ok) {
    f.readUs = Median(reads);
    f.applyMs = Median(applies);
  }
  for (IUnknown* p : {static_cast<IUnknown*>(picture), static_cast<IUnknown*>(bright), static_cast<IUnknown*>(zoom),
                      static_cast<IUnknown*>(photoPicture)})
    if (p) p->Release();
  return ok;
}

// The figures of the 32-bit twin beside this program, from its one line.
bool MeasureInProcess(const wchar_t* photo, Figures& f) {
  std::vector<wchar_t> self(32768);
  const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  std::wstring program(self.data(), n);
  program.replace(program.rfind(L'\\') + 1, std::wstring::npos, L"surrogate_bench.exe");
  std::wstring line = L"\"" + program + L"\" measure \"" + photo + L"\"";
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return false;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &process);
  CloseHandle(writeEnd);
  std::string text;
  char buffer[256];
  DWORD got = 0;
  while (started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(readEnd);
  if (!started) return false;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return std::sscanf(text.c_str(), "figures %lf %lf %lf %lf", &f.firstObjectMs, &f.laterObjectMs, &f.readUs,
                     &f.applyMs) == 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int rc = 1;
  Figures own, inProcess;
  if (argc == 3 && std::wcscmp(argv[1], L"measure") == 0) {
    if (Measure(argv[2], own)) {
      std::printf("figures %.3f %.3f %.3f %.3f\n", own.firstObjectMs, own.laterObjectMs, own.readUs, own.applyMs);
      rc = 0;
    }
  } else if (argc == 2 && sizeof(void*) == 8) {
    if (!MeasureInProcess(argv[1], inProcess)) {
      std::printf("the in-process twin (surrogate_bench.exe) did not measure\n");
    } else if (!Measure(argv[1], own)) {
      std::printf("Quillbox's objects cannot be used through the surrogate\n");
    } else {
      std::printf("%d x %d picture, median of %d runs   in process (32-bit)   through the surrogate (64-bit)\n",
                  static_cast<int>(kWidth), static_cast<int>(kHeight), kRuns);
      std::printf("first object                       %12.3f ms   %12.3f ms\n", inProcess.firstObjectMs,
                  own.firstObjectMs);
      std::printf("a later object                     %12.3f ms   %12.3f ms\n", inProcess.laterObjectMs,
                  own.laterObjectMs);
      std::printf("VuPicture.Width read               %12.3f us   %12.3f us\n", inProcess.readUs, own.readUs);
      std::printf("Bright.Apply                       %12.3f ms   %12.3f ms\n", inProcess.applyMs, own.applyMs);
      std::printf("Apply through the surrogate: %+.3f ms beyond in process (the target: at most +10 ms)\n",
                  own.applyMs - inProcess.applyMs);
      rc = 0;
    }
  } else {
    std::printf("usage: surrogate_bench64.exe PHOTO | surrogate_bench.exe measure PHOTO\n");
  }
  CoUninitialize();
  return rc;
}
