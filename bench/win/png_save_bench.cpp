// Saving a picture as PNG through COM, as a client calls SaveAs under
// Windows: each file named on the command line is loaded once, saved once
// to warm the caches, then saved five times. Prints the median wall time,
// the median processor time of the process (every thread's, so two busy
// cores count twice), the saved file's size and the path. On a shared
// machine the processor time tells more than the wall time.
//
//   wine png_save_bench.exe OUTBASE FILE...   (Quillbox registered in the prefix;
//                                              writes OUTBASE.png)
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
using bench::ProcessorSeconds;

constexpr int kRuns = 5;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::printf("usage: png_save_bench OUTBASE FILE...\n");
    return 2;
  }
  IVuPicture* picture = bench::StartWithPicture();
  if (!picture) return 1;
  BSTR out = SysAllocString(argv[1]);
  BSTR ext = SysAllocString(L".png");
  const std::wstring saved = std::wstring(argv[1]) + L".png";
  int failures = 0;
  for (int i = 2; i < argc; ++i) {
    BSTR path = SysAllocString(argv[i]);
    HRESULT hr = picture->LoadFile(path);
    if (SUCCEEDED(hr)) hr = picture->SaveAs(out, ext);
    std::vector<double> wall, processor;
    for (int run = 0; run < kRuns && SUCCEEDED(hr); ++run) {
      const double start = Now(), startProcessor = ProcessorSeconds();
      hr = picture->SaveAs(out, ext);
      wall.push_back(Now() - start);
      processor.push_back(ProcessorSeconds() - startProcessor);
    }
    if (FAILED(hr)) {
      std::printf("failed 0x%08lX %ls\n", static_cast<unsigned long>(hr), argv[i]);
      ++failures;
    } else {
      WIN32_FILE_ATTRIBUTE_DATA data{};
      GetFileAttributesExW(saved.c_str(), GetFileExInfoStandard, &data);
      std::printf("%.3f s wall %.3f s processor %lu bytes %ls\n", Median(wall), Median(processor),
                  static_cast<unsigned long>(data.nFileSizeLow), argv[i]);
    }
    SysFreeString(path);
  }
  SysFreeString(out);
  SysFreeString(ext);
  picture->Release();
  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
