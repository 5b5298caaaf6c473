// Loading and saving JPEG files through COM, as a client calls LoadFile
// and SaveAs under Windows: for each file named on the command line, one
// load and one save to warm the caches, then the median of seven timed
// loads and of seven timed saves (to OUTDIR\saved-N.jpg at the default
// quality, 90), printed as "load-seconds save-seconds path".
// bench/jpeg_vs_libjpeg.sh runs it next to libjpeg-turbo's djpeg and cjpeg.
//
//   wine jpeg_bench.exe OUTDIR FILE...   (Quillbox registered in the prefix)
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "bench_picture.h"
#include "quillbox.h"

namespace {

using bench::Now;
using bench::Median;

constexpr int kRuns = 7;

// Times `call` kRuns times after one untimed call; a failure ends it.
template <typename Call>
HRESULT Time(Call call, double& median) {
  HRESULT hr = call();
  std::vector<double> times;
  for (int run = 0; run < kRuns && SUCCEEDED(hr); ++run) {
    const double start = Now();
    hr = call();
    times.push_back(Now() - start);
  }
  if (SUCCEEDED(hr)) median = Median(times);
  return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::printf("usage: jpeg_bench OUTDIR FILE...\n");
    return 2;
  }
  IVuPicture* picture = bench::StartWithPicture();
  if (!picture) return 1;
  int failures = 0;
  for (int i = 2; i < argc; ++i) {
    BSTR path = SysAllocString(argv[i]);
    const std::wstring base = std::wstring(argv[1]) + L"\\saved-" + std::to_wstring(i - 1);
    BSTR target = SysAllocString(base.c_str());
    BSTR extension = SysAllocString(L".jpg");
    double load = 0, save = 0;
    HRESULT hr = Time([&] { return picture->LoadFile(path); }, load);
    if (SUCCEEDED(hr)) hr = Time([&] { return picture->SaveAs(target, extension); }, save);
    if (FAILED(hr)) {
      std::printf("failed 0x%08lX %ls\n", static_cast<unsigned long>(hr), argv[i]);
      ++failures;
    } else {
      std::printf("%.4f %.4f %ls\n", load, save, argv[i]);
    }
    SysFreeString(extension);
    SysFreeString(target);
    SysFreeString(path);
  }
  picture->Release();
  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
